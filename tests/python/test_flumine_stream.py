"""QuorvaneHistoricalStream in real FlumineSimulation runs, against flumine's own stream."""

import importlib.util
import pathlib
import subprocess
import sys

import pytest
from flumine import BaseStrategy, FlumineSimulation, clients
from flumine.streams.betfairhistoricalstream import BetfairHistoricalStream

from quorvane_tools.flumine import QuorvaneHistoricalStream

ROOT = pathlib.Path(__file__).resolve().parents[2]
RECORDINGS = ["1.197931750", "BASIC-1.132153978", "BASIC-1.132153978.gz"]


def load_example():
    spec = importlib.util.spec_from_file_location("flumine_backtest", ROOT / "examples" / "flumine_backtest.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def outcome(order):
    order_type = order.order_type
    return {"strategy": order.trade.strategy.name, "market": order.market_id, "selection": order.selection_id,
            "handicap": order.handicap, "side": order.side, "type": order_type.ORDER_TYPE.name,
            "placed": (getattr(order_type, "price", None), getattr(order_type, "size", None),
                       getattr(order_type, "liability", None)),
            "created": order.date_time_created.replace(tzinfo=None), "status": order.status.value, "matched": order.size_matched,
            "price_matched": order.average_price_matched, "cancelled": order.size_cancelled,
            "voided": order.size_voided, "lapsed": order.size_lapsed, "profit": order.profit}


@pytest.mark.parametrize("name", RECORDINGS)
def test_trades_are_flumines_own(real_recording, name):
    path = real_recording(name)
    backtest = load_example().backtest
    theirs = [outcome(o) for o in backtest([BetfairHistoricalStream(file_path=path)])]
    ours = [outcome(o) for o in backtest([QuorvaneHistoricalStream(file_path=pathlib.Path(path))])]
    assert ours == theirs
    assert any(o["cancelled"] for o in ours), "no order was cancelled"
    assert {o["type"] for o in ours} == {"LIMIT", "MARKET_ON_CLOSE"}
    if name == "1.197931750":
        assert any(o["matched"] for o in ours if o["type"] == "LIMIT"), "no limit order was matched"


class Recorder(BaseStrategy):
    """Notes what every book that reaches the strategy shows."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.seen = []

    def check_market_book(self, market, market_book):
        self.seen.append((market_book.market_id, market_book.publish_time_epoch, market_book.status,
                          market_book.inplay, market_book.streaming_unique_id,
                          sorted((r.selection_id, r.status, r.last_price_traded) for r in market_book.runners)))
        return False


def books_seen(*streams):
    framework = FlumineSimulation(client=clients.SimulatedClient())
    recorder = Recorder(streams=list(streams))
    framework.add_strategy(recorder)
    framework.run()
    return recorder.seen


@pytest.mark.parametrize("name", RECORDINGS[:2])
@pytest.mark.parametrize("listener_kwargs", [
    {}, {"inplay": True}, {"inplay": False}, {"seconds_to_start": 600},
    {"inplay": False, "seconds_to_start": 60}, {"max_inplay_seconds": 45},
    {"event_type_ids": ["7"]}, {"event_type_ids": ("4339", 1)},
], ids=repr)
def test_listener_kwargs_pass_the_same_books(real_recording, name, listener_kwargs):
    path = real_recording(name)
    theirs = books_seen(BetfairHistoricalStream(file_path=path, listener_kwargs=listener_kwargs))
    ours = books_seen(QuorvaneHistoricalStream(file_path=path, listener_kwargs=listener_kwargs))
    assert ours == theirs


@pytest.mark.parametrize("arguments, named", [
    ({"operation": "raceSubscription"}, "raceSubscription"),
    ({"listener_kwargs": {"calculate_market_tv": True}}, "calculate_market_tv"),
    ({"listener_kwargs": {"cumulative_runner_tv": True}}, "cumulative_runner_tv"),
    ({"listener_kwargs": {"lightweight": True}}, "lightweight"),
])
def test_what_cannot_give_flumines_result_fails_at_construction(arguments, named):
    with pytest.raises(ValueError, match=named):
        QuorvaneHistoricalStream(file_path="unused", **arguments)


def test_messages_before_the_market_are_stepped_over(real_recording, write_file):
    original = real_recording("1.197931750")
    path = write_file("late_market", b'{"op":"mcm","pt":5,"mc":[]}\n' + pathlib.Path(original).read_bytes())
    ours = books_seen(QuorvaneHistoricalStream(file_path=path))
    assert ours == books_seen(BetfairHistoricalStream(file_path=path))
    assert ours == books_seen(QuorvaneHistoricalStream(file_path=original))


def test_an_event_group_interleaves_its_markets_by_publish_time(real_recording):
    paths = [real_recording(name) for name in RECORDINGS[:2]]
    alone = [books_seen(QuorvaneHistoricalStream(file_path=path)) for path in paths]
    grouped = books_seen(*(QuorvaneHistoricalStream(file_path=path, event_processing=True, event_group="race")
                           for path in paths))
    assert sorted(grouped, key=lambda seen: seen[1]) == grouped
    for seen in alone:
        assert [book[:4] for book in grouped if book[0] == seen[0][0]] == [book[:4] for book in seen]
    stream_ids = {(book[0], book[4]) for book in grouped}
    assert len(stream_ids) == 2 and len({stream_id for _, stream_id in stream_ids}) == 2, stream_ids


def test_importing_the_package_leaves_the_optional_extras_out():
    check = "import sys, quorvane_tools; print(sorted({'flumine', 'dask', 'tqdm', 'matplotlib'} & set(sys.modules)))"
    run = subprocess.run([sys.executable, "-c", check], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == "[]"
