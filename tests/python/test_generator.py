"""The synthetic stream generator: deterministic, well formed, and a book that adds up."""

import gzip
import importlib.util
import json
import math
from decimal import Decimal
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
_spec = importlib.util.spec_from_file_location("generate_stream", ROOT / "scripts" / "generate_stream.py")
generate_stream = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(generate_stream)

# (runners, messages, depth, seed): the smallest market the generator allows, the
# bundled sample's shape, and a deep book.
MARKETS = [(2, 8, 1, 7), (8, 1500, 10, 1), (12, 3000, 40, 99)]
MARKET_IDS = [f"r{r}-m{m}-d{d}" for r, m, d, _ in MARKETS]
PAIR_KEYS = ("atb", "atl", "trd", "spb", "spl")


def _ladder() -> set[Decimal]:
    bands = [("1.01", "2", "0.01"), ("2", "3", "0.02"), ("3", "4", "0.05"), ("4", "6", "0.1"),
             ("6", "10", "0.2"), ("10", "20", "0.5"), ("20", "30", "1"), ("30", "50", "2"),
             ("50", "100", "5"), ("100", "1000", "10")]
    prices = {Decimal("1000")}
    for low, high, step in map(lambda band: map(Decimal, band), bands):
        while low < high:
            prices.add(low)
            low += step
    return prices


LADDER = _ladder()


def _hundredths(value) -> int:
    """The amount in hundredths, failing unless the JSON number is exactly that."""
    assert isinstance(value, (int, float)) and not isinstance(value, bool), value
    cents = round(value * 100)
    assert cents / 100 == value, f"{value!r} is not a whole number of hundredths"
    return cents


def _on_ladder(value) -> bool:
    return Decimal(_hundredths(value)) / 100 in LADDER


def _write(tmp_path: Path, name: str, market) -> Path:
    runners, messages, depth, seed = market
    path = tmp_path / name
    generate_stream.write_stream(path, runners, messages, depth, seed)
    return path


@pytest.fixture(scope="module", params=MARKETS, ids=MARKET_IDS)
def stream(request, tmp_path_factory):
    path = _write(tmp_path_factory.mktemp("stream"), "market.jsonl", request.param)
    return request.param, [json.loads(line) for line in path.read_text().splitlines()]


def _market_changes(messages):
    for message in messages:
        assert len(message["mc"]) == 1
        yield message["mc"][0]


def _definitions(messages):
    return [mc["marketDefinition"] for mc in _market_changes(messages) if "marketDefinition" in mc]


@pytest.mark.parametrize("name", ["market.jsonl", "market.jsonl.gz"])
def test_same_seed_writes_the_same_bytes(tmp_path, name):
    market = (5, 300, 6, 42)
    first = _write(tmp_path / "a", name, market).read_bytes()
    assert _write(tmp_path / "b", name, market).read_bytes() == first
    assert _write(tmp_path / "c", name, market[:3] + (43,)).read_bytes() != first


def test_gzip_output_holds_the_plain_stream(tmp_path):
    market = (6, 400, 8, 3)
    plain = _write(tmp_path, "market.jsonl", market).read_bytes()
    packed = _write(tmp_path, "market.jsonl.gz", market).read_bytes()
    assert gzip.decompress(packed) == plain
    # No time stamp and no file name in the header: the bytes cannot depend on when or where.
    flags, mtime = packed[3], int.from_bytes(packed[4:8], "little")
    assert (flags & 0x08, mtime) == (0, 0)


def test_every_line_is_a_message_with_increasing_pt(stream):
    (runners, messages, depth, seed), lines = stream
    assert len(lines) == messages
    market_id = lines[0]["mc"][0]["id"]
    times = [line["pt"] for line in lines]
    assert all(isinstance(pt, int) and pt >= 1 for pt in times)
    assert all(a < b for a, b in zip(times, times[1:]))
    assert all(line["op"] == "mcm" and isinstance(line["clk"], str) for line in lines)
    assert all(mc["id"] == market_id for mc in _market_changes(lines))


def test_first_message_is_a_full_image(stream):
    (runners, messages, depth, seed), lines = stream
    first = lines[0]["mc"][0]
    assert first["img"] is True
    definition = first["marketDefinition"]
    assert definition["status"] == "OPEN" and definition["inPlay"] is False
    entries = definition["runners"]
    assert [entry["sortPriority"] for entry in entries] == list(range(1, runners + 1))
    assert len({entry["name"] for entry in entries}) == runners
    assert sorted(rc["id"] for rc in first["rc"]) == sorted(entry["id"] for entry in entries)
    for rc in first["rc"]:
        # Besides the resting orders at 1.01 and 1000 a side holds up to `depth` levels.
        assert 1 <= len(rc["atb"]) <= depth + 1 and 1 <= len(rc["atl"]) <= depth + 1
        assert max(len(rc["atb"]), len(rc["atl"])) >= min(depth, 2)
        assert rc["trd"] and "ltp" in rc and "spn" in rc and "spf" in rc


def test_prices_lie_on_the_ladder_and_amounts_are_hundredths(stream):
    _, lines = stream
    for mc in _market_changes(lines):
        if "tv" in mc:
            _hundredths(mc["tv"])
        for rc in mc.get("rc", []):
            for key in PAIR_KEYS:
                for pair in rc.get(key, []):
                    assert len(pair) == 2 and _on_ladder(pair[0]), (key, pair)
                    assert _hundredths(pair[1]) >= 0, (key, pair)
            if "ltp" in rc:
                assert _on_ladder(rc["ltp"]), rc
            for key in ("tv", "spn", "spf"):
                if key in rc:
                    assert _hundredths(rc[key]) > 0, (key, rc)
        for entry in mc.get("marketDefinition", {}).get("runners", []):
            _hundredths(entry["adjustmentFactor"])
            if "bsp" in entry:
                assert _hundredths(entry["bsp"]) >= 101, entry


def test_replayed_book_stays_consistent(stream):
    """Applies every delta as the exchange means it and checks the book after each line."""
    _, lines = stream
    books: dict[int, dict[str, dict[int, int]]] = {}
    totals: dict[int, int] = {}
    for number, mc in enumerate(_market_changes(lines), start=1):
        if mc.get("img"):
            books.clear()
            totals.clear()
        for rc in mc.get("rc", []):
            assert set(rc) - {"id"}, f"line {number}: empty runner change"
            book = books.setdefault(rc["id"], {key: {} for key in PAIR_KEYS})
            for key in PAIR_KEYS:
                prices = [_hundredths(p) for p, _ in rc.get(key, [])]
                assert len(prices) == len(set(prices)), f"line {number}: repeated price in {key}"
                for price, size in zip(prices, (_hundredths(s) for _, s in rc.get(key, []))):
                    if key == "trd":
                        assert size > book[key].get(price, 0), f"line {number}: traded volume fell"
                    if size == 0:
                        assert price in book[key], f"line {number}: removes a missing {key} level"
                        del book[key][price]
                    else:
                        book[key][price] = size
            if "trd" in rc:
                assert rc["ltp"] in [price for price, _ in rc["trd"]]
            if "tv" in rc:
                totals[rc["id"]] = _hundredths(rc["tv"])
                assert totals[rc["id"]] == sum(book["trd"].values()), f"line {number}"
            back, lay = book["atb"], book["atl"]
            if back and lay:
                assert max(back) < min(lay), f"line {number}: crossed book"
        if "tv" in mc:
            assert _hundredths(mc["tv"]) == sum(totals.values()), f"line {number}"


def test_market_runs_from_open_to_settled(stream):
    (runners, messages, depth, seed), lines = stream
    definitions = _definitions(lines)
    states = [(d["status"], d["inPlay"]) for d in definitions]
    assert states[0] == ("OPEN", False)
    suspended = states.index(("SUSPENDED", False))
    assert ("OPEN", True) in states[suspended:], "no turn in-play after a suspension"
    assert states[-1][0] == "CLOSED" and lines[-1]["mc"][0].get("marketDefinition")
    assert [d["version"] for d in definitions] == sorted(set(d["version"] for d in definitions))

    final = definitions[-1]
    statuses = [entry["status"] for entry in final["runners"]]
    assert statuses.count("WINNER") == 1
    assert statuses.count("REMOVED") == (1 if runners >= 3 else 0)
    assert statuses.count("LOSER") == runners - 1 - statuses.count("REMOVED")
    assert final["bspReconciled"] is True and "settledTime" in final
    assert final["numberOfActiveRunners"] == 0
    for entry in final["runners"]:
        assert ("bsp" in entry) == (entry["status"] != "REMOVED")
        assert ("removalDate" in entry) == (entry["status"] == "REMOVED")


def test_removal_rescales_adjustment_factors(stream):
    (runners, messages, depth, seed), lines = stream
    if runners < 3:
        pytest.skip("two-runner markets have no non-runner")
    definitions = _definitions(lines)
    removed_in = next(i for i, d in enumerate(definitions)
                      if any(e["status"] == "REMOVED" for e in d["runners"]))
    before, after = definitions[removed_in - 1], definitions[removed_in]
    assert after["numberOfActiveRunners"] == before["numberOfActiveRunners"] - 1
    assert after["status"] == "SUSPENDED" and definitions[removed_in + 1]["status"] == "OPEN"
    active = [e["adjustmentFactor"] for e in after["runners"] if e["status"] == "ACTIVE"]
    assert math.isclose(sum(active), 100, abs_tol=0.01 * len(active))
    assert sum(e["adjustmentFactor"] for e in before["runners"]) == pytest.approx(100, abs=0.01 * runners)

    removed = next(e["id"] for e in after["runners"] if e["status"] == "REMOVED")
    changes = [(i, rc) for i, mc in enumerate(_market_changes(lines)) for rc in mc.get("rc", [])
               if rc["id"] == removed]
    clearing = next(i for i, mc in enumerate(_market_changes(lines))
                    if mc.get("marketDefinition") is definitions[removed_in])
    assert all(i <= clearing for i, _ in changes), "a non-runner kept trading"
    last = changes[-1][1]
    assert all(size == 0 for key in ("atb", "atl") for _, size in last[key])

    # The others' prices take the non-runner's reduction factor, so the back book still adds up.
    market_changes = list(_market_changes(lines))
    runner_ids = [e["id"] for e in after["runners"]]
    still_active = [e["id"] for e in after["runners"] if e["status"] == "ACTIVE"]
    assert _back_book(market_changes[:clearing + 1], still_active) == pytest.approx(
        _back_book(market_changes[:clearing], runner_ids), abs=8)


def _back_book(market_changes, runner_ids) -> float:
    """The back book percentage of these runners after the market changes."""
    backs: dict[int, dict[float, float]] = {}
    for mc in market_changes:
        for rc in mc.get("rc", []):
            back = backs.setdefault(rc["id"], {})
            for price, size in rc.get("atb", []):
                back[price] = size
    return sum(100 / max(p for p, s in backs[i].items() if s) for i in runner_ids)


@pytest.mark.parametrize("args", [
    ["--runners", "1"], ["--messages", "7"], ["--depth", "0"], ["--depth", "175"]])
def test_impossible_markets_are_refused(tmp_path, args, capsys):
    with pytest.raises(SystemExit) as exit_info:
        generate_stream.main([str(tmp_path / "out.jsonl"), *args])
    assert exit_info.value.code == 2
    assert "error:" in capsys.readouterr().err
    assert not (tmp_path / "out.jsonl").exists()
