"""One stored message per step, from the first book to the end of the iteration."""

import datetime
import json

import pytest

import quorvane
from streams import MARKET_ID, books, change, message, write_stream


def test_end_of_iteration_is_final(tmp_path):
    it = quorvane.iter_prices_file(write_stream(tmp_path, message(1, change(tv=1.0)), message(2, change(tv=2.0))))
    assert [b.total_matched for b in (next(it), next(it))] == [1.0, 2.0]
    for _ in range(3):
        with pytest.raises(StopIteration):
            next(it)
    assert len(it) == 2 and list(it) == []


def test_empty_change_list_yields_the_last_applied_publish_time(tmp_path):
    first, second, third = books(
        tmp_path, message(1000, change(tv=1.0)), message(2000), message(3000, "not an object"))
    assert (second.publish_time_epoch, second.publish_time) == (1000, datetime.datetime(1970, 1, 1, 0, 0, 1))
    assert second is not first and second.runners is not first.runners
    # A change that is not an object still sets the publish time.
    assert third.publish_time_epoch == 3000


def test_every_market_merges_into_the_first(tmp_path):
    (book,) = books(tmp_path, message(
        1,
        change(definition={"name": "A"}, rc=[{"id": 1, "ltp": 2.0}]),
        {"id": "1.999", "marketDefinition": {"name": "B"}, "rc": [{"id": 2, "ltp": 3.0}],
         "tv": 7.0},
    ))
    assert book.market_id == MARKET_ID
    assert book.market_definition.name == "B"
    assert [(r.selection_id, r.last_price_traded) for r in book.runners] == [(1, 2.0), (2, 3.0)]
    assert book.total_matched == 7.0


@pytest.mark.parametrize("before", [
    {"marketDefinition": {"name": "ignored"}, "rc": [{"id": 9, "ltp": 5.0}]},
    {"id": "", "marketDefinition": {"name": "ignored"}, "rc": [{"id": 9, "ltp": 5.0}]},
    {"id": 12, "tv": 50.0, "rc": [{"id": 9, "ltp": 5.0}]},
    [1, 2],
])
def test_changes_before_the_first_usable_id_are_ignored(tmp_path, before):
    (book,) = books(tmp_path, message(1, before, change(rc=[{"id": 1, "ltp": 2.0}])))
    assert [r.selection_id for r in book.runners] == [1]
    assert book.market_definition is None
    assert book.total_matched == 0.0


def test_messages_without_a_market_yield_no_book(tmp_path):
    lines = [
        message(5),
        message(6, {"marketDefinition": {"name": "no id"}}),
        message(7, {"id": ""}, 3),
        message(8, change(tv=1.0)),
        message(9),
        message(10, change(tv=2.0)),
    ]
    path = write_stream(tmp_path, *lines)
    assert len(quorvane.iter_prices_file(path)) == 6
    assert [(b.publish_time_epoch, b.total_matched) for b in quorvane.iter_prices_file(path)] == [
        (8, 1.0), (8, 1.0), (10, 2.0)]
    it = quorvane.iter_prices_file(path)
    assert next(it).publish_time_epoch == 8
    assert [b.publish_time_epoch for b in it] == [8, 10]
    with pytest.raises(StopIteration):
        next(it)


def test_a_recording_without_any_market_yields_nothing(tmp_path):
    it = quorvane.iter_prices_file(write_stream(tmp_path, message(5), message(6, {"tv": 1})))
    assert len(it) == 2
    for _ in range(2):
        with pytest.raises(StopIteration):
            next(it)


def test_failed_step_has_consumed_its_message(tmp_path):
    it = quorvane.iter_prices_file(write_stream(
        tmp_path,
        message(1, change(definition={"marketTime": "bad"}, rc=[{"id": 1, "ltp": 2.0}])),
        message(2, change(definition={"marketTime": "2021-03-18T13:20:00Z"}, rc=[{"id": 1, "ltp": 3.0}])),
    ))
    with pytest.raises(ValueError):
        next(it)
    book = next(it)
    assert (book.publish_time_epoch, book.runners[0].last_price_traded) == (2, 3.0)
    with pytest.raises(StopIteration):
        next(it)


def test_python_code_run_by_a_step_cannot_reenter_it(tmp_path, monkeypatch):
    it = quorvane.iter_prices_file(write_stream(
        tmp_path, message(1, change(definition={"marketTime": "2021-03-18T13:20:00Z"})), message(2, change(tv=1.0))))
    seen = []
    real = datetime.datetime

    class Reentering(real):
        @classmethod
        def strptime(cls, text, format):
            for attempt in (lambda: next(it), lambda: len(it), lambda: iter(it)):
                try:
                    attempt()
                except RuntimeError as error:
                    seen.append(str(error))
            return real.strptime(text, format)

    monkeypatch.setattr(datetime, "datetime", Reentering)
    book = next(it)
    assert seen == ["Already borrowed", "Already mutably borrowed", "Already mutably borrowed"] * 2
    assert book.market_definition.market_time == real(2021, 3, 18, 13, 20)
    assert next(it).total_matched == 1.0


def test_books_outlive_their_iterator(tmp_path):
    it = quorvane.iter_prices_file(write_stream(tmp_path, message(1, change(rc=[{"id": 1, "atb": [[2.0, 5]]}]))))
    book = next(it)
    del it
    assert [(p.price, p.size) for p in book.runners[0].ex.available_to_back] == [(2.0, 5)]


class ReferenceMarket:
    """A plain model of what the stream says, to check the books against."""

    def __init__(self):
        self.status, self.inplay, self.total_matched, self.runners = "OPEN", False, 0.0, {}

    def runner(self, entry):
        key = (entry["id"], round(entry.get("hc", 0.0) * 100))
        return self.runners.setdefault(key, {"status": "ACTIVE", "ltp": None, "tv": 0.0, "atb": {}, "atl": {},
                                             "trd": {}})

    def apply(self, mc):
        if mc.get("img"):
            self.runners.clear()
        definition = mc.get("marketDefinition")
        if isinstance(definition, dict):
            self.status = definition.get("status", self.status)
            self.inplay = definition.get("inPlay", self.inplay)
            for entry in definition.get("runners", []):
                self.runner(entry)["status"] = entry.get("status", "ACTIVE")
        self.status = mc.get("status", self.status)
        self.total_matched = mc.get("tv", self.total_matched)
        for rc in mc.get("rc", []):
            runner = self.runner(rc)
            for key in ("status", "ltp", "tv"):
                runner[key] = rc.get(key, runner[key])
            for key in ("atb", "atl", "trd"):
                for price, size in rc.get(key, []):
                    if size == 0:
                        runner[key].pop(price, None)
                    else:
                        runner[key][price] = size

    def check(self, book):
        assert (book.status, book.inplay, book.total_matched) == (self.status, self.inplay, self.total_matched)
        assert [(r.selection_id, round(r.handicap * 100)) for r in book.runners] == sorted(self.runners)
        for runner in book.runners:
            expected = self.runners[(runner.selection_id, round(runner.handicap * 100))]
            assert (runner.status, runner.last_price_traded, runner.total_matched) == (
                expected["status"], expected["ltp"], expected["tv"])
            for key, levels, descending in (("atb", runner.ex.available_to_back, True),
                                            ("atl", runner.ex.available_to_lay, False),
                                            ("trd", runner.ex.traded_volume, False)):
                assert [(p.price, p.size) for p in levels] == sorted(expected[key].items(), reverse=descending)


@pytest.mark.parametrize("name", ["1.197931750", "BASIC-1.132153978"])
def test_real_recordings_against_the_file(real_recording, name):
    path = real_recording(name)
    with open(path, encoding="utf-8") as lines:
        messages = [m for m in map(json.loads, lines) if isinstance(m.get("mc"), list) and m.get("pt", 0) >= 1]
    got = list(quorvane.iter_prices_file(path))
    assert len(got) == len(messages) > 100
    market = ReferenceMarket()
    for sent, book in zip(messages, got):
        for mc in sent["mc"]:
            market.apply(mc)
        assert book.publish_time_epoch == sent["pt"]
        assert book.market_id == messages[0]["mc"][0]["id"]
        market.check(book)
    first_definition = messages[0]["mc"][0]["marketDefinition"]
    definition = got[0].market_definition
    assert [r.selection_id for r in definition.runners] == [r["id"] for r in first_definition["runners"]]
    assert definition.market_time == datetime.datetime.strptime(first_definition["marketTime"],
                                                                "%Y-%m-%dT%H:%M:%S.%fZ")
    assert (definition.venue, definition.event_id) == (first_definition.get("venue"), first_definition["eventId"])


def test_gzip_recording_gives_the_same_books(real_recording):
    plain = list(quorvane.iter_prices_file(real_recording("BASIC-1.132153978")))
    packed = list(quorvane.iter_prices_file(real_recording("BASIC-1.132153978.gz")))
    assert len(plain) == len(packed)
    for a, b in zip(plain, packed):
        assert (a.publish_time, a.status, a.total_matched) == (b.publish_time, b.status, b.total_matched)
        assert [(r.selection_id, r.last_price_traded, [(p.price, p.size) for p in r.ex.available_to_back])
                for r in a.runners] == [
            (r.selection_id, r.last_price_traded, [(p.price, p.size) for p in r.ex.available_to_back])
            for r in b.runners]
