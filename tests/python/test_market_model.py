"""Hand-computed streams for the reference model that quorvane's books are checked against."""

import json
import math

import pytest

import market_model as model


def line(pt=1, **market_change):
    return json.dumps({"op": "mcm", "pt": pt, "mc": [{"id": "1.1", **market_change}]})


def books(*lines):
    return list(model.model_books(list(lines)))


def runner(book, selection_id):
    [found] = [r for r in book["runners"] if r["selectionId"] == selection_id]
    return found


def ladder(levels):
    return [(level["price"], level["size"]) for level in levels]


@pytest.mark.parametrize(("text", "value"), [
    ("-0", -0.0),
    ("0", 0),
    ("18446744073709551615", 2**64 - 1),
    ("18446744073709551616", 1.8446744073709552e19),
    ("-9223372036854775808", -(2**63)),
    ("-9223372036854775809", -9.223372036854776e18),
    ("3.0", 3.0),
])
def test_number_forms(text, value):
    parsed = model.parse_line(text)
    assert (type(parsed), parsed) == (type(value), value)
    assert math.copysign(1, parsed) == math.copysign(1, value)


@pytest.mark.parametrize("text", ["NaN", "[Infinity]", "1e400"])
def test_numbers_the_parser_refuses(text):
    with pytest.raises(ValueError):
        model.parse_line(text)


@pytest.mark.parametrize(("reading", "value", "expected"), [
    (model.read_integer, True, None),
    (model.read_integer, 3.0, None),
    (model.read_integer, 2**63, None),
    (model.read_integer, -(2**63), -(2**63)),
    (model.read_number, False, None),
    (model.read_number, 2**64 - 1, 1.8446744073709552e19),
    (model.read_number, "1.5", None),
    (model.read_string, "", ""),
    (model.read_boolean, 1, None),
])
def test_readings(reading, value, expected):
    assert reading(value) == expected


@pytest.mark.parametrize(("handicap", "key"), [
    (0.004, 0), (0.005, 1), (-0.005, -1), (-0.5, -50), (1e300, 2**63 - 1), (-1e300, -(2**63)),
])
def test_handicap_key(handicap, key):
    assert model.handicap_key(handicap) == key


@pytest.mark.parametrize("first", [
    json.dumps({"pt": 0, "mc": [{"id": "1.1"}]}),
    json.dumps({"pt": 1.5, "mc": [{"id": "1.1"}]}),
    json.dumps({"pt": "7", "mc": [{"id": "1.1"}]}),
    json.dumps({"pt": 2**63, "mc": [{"id": "1.1"}]}),
    json.dumps({"pt": 5, "tv": 3}),
    "[1, 2]",
    "\u00a0 ",
])
def test_lines_without_a_book(first):
    assert [b["publishTime"] for b in books(first, line(pt=9))] == [9]


def test_message_without_a_market_does_not_end_the_steps():
    lines = [json.dumps({"pt": 5, "mc": []}), json.dumps({"pt": 6, "mc": [{"id": ""}]}),
             line(pt=7, tv=2.5), json.dumps({"pt": 8, "mc": []})]
    assert [(b["publishTime"], b["totalMatched"]) for b in books(*lines)] == [(7, 2.5), (7, 2.5)]


def test_whole_line_as_market_change_and_one_market():
    first = json.dumps({"pt": 3, "id": "1.1", "rc": [{"id": 5, "ltp": 2.0}]})
    second = json.dumps({"pt": 4, "mc": [{"id": "1.2", "rc": [{"id": 6, "ltp": 3.0}]}]})
    [_, book] = books(first, second)
    assert book["marketId"] == "1.1"
    assert [(r["selectionId"], r["lastPriceTraded"]) for r in book["runners"]] == [
        (5, 2.0), (6, 3.0)]


def test_definition_merge_and_market_change_fields_win():
    [first, second] = books(
        line(marketDefinition={"venue": "Ascot", "betDelay": 2**32 + 5, "status": "OPEN",
                               "regulators": ["A", 1, "B"], "numberOfWinners": -1}),
        line(pt=2, marketDefinition={"status": "SUSPENDED", "betDelay": 5.0, "inplay": True},
             status="CLOSED", inPlay=True, version=9, lastMatchTime=77))
    assert (first["betDelay"], first["numberOfWinners"]) == (5, -1)
    assert first["marketDefinition"]["regulators"] == ["A", "B"]
    assert (second["status"], second["inplay"], second["version"], second["lastMatchTime"]) == (
        "CLOSED", True, 9, 77)
    definition = second["marketDefinition"]
    assert (definition["venue"], definition["betDelay"], definition["status"]) == (
        "Ascot", 5, "CLOSED")


def test_definition_snapshot_between_definitions():
    runners = [{"id": 1}, {"id": 2}]
    first, second, third = books(
        line(marketDefinition={"runners": runners, "version": 1}),
        line(pt=2, status="SUSPENDED", version=2, rc=[{"id": 2, "status": "REMOVED"}]),
        line(pt=3, marketDefinition=None))
    assert first["marketDefinition"]["numberOfActiveRunners"] == 2
    assert second["marketDefinition"] == first["marketDefinition"]
    assert (second["status"], second["numberOfActiveRunners"]) == ("SUSPENDED", 1)
    assert (third["marketDefinition"]["status"], third["marketDefinition"]["version"],
            third["marketDefinition"]["numberOfActiveRunners"]) == ("SUSPENDED", 2, 1)


def test_img_drops_runners_and_keeps_the_market():
    _, book = books(
        line(marketDefinition={"runners": [{"id": 1}, {"id": 2}], "venue": "Ascot"},
             tv=4.0, rc=[{"id": 1, "atb": [[2.0, 5.0]]}]),
        line(pt=2, img=True, marketDefinition={"runners": [{"id": 2}]}))
    assert [r["selectionId"] for r in book["runners"]] == [2]
    assert (book["totalMatched"], book["marketDefinition"]["venue"]) == (4.0, "Ascot")
    assert book["numberOfRunners"] == 1


def test_ladders_and_their_order():
    [book] = books(line(rc=[{
        "id": 1,
        "atb": [[1.5, 100], [2.0, 50], [3, 0], [[1], 2], [7]],
        "atl": [[4.0, 1], [3.0, 2], [3.5, 10], [3.5, 0], [5.0, None]],
        "trd": [[0.0, 1.0], [-0.0, 2.0], [9.0, 3.0]],
        "spb": [[1.5, 1.0], [2.0, 2.0]],
        "spl": [[2.0, 3.0], [1.5, 4.0]],
    }]))
    only = book["runners"][0]
    assert ladder(only["ex"]["availableToBack"]) == [(2.0, 50.0), (1.5, 100.0), (0.0, 2.0)]
    assert ladder(only["ex"]["availableToLay"]) == [(3.0, 2.0), (4.0, 1.0)]
    traded = ladder(only["ex"]["tradedVolume"])
    assert sorted(traded[:2]) == [(0.0, 1.0), (0.0, 2.0)] and traded[2] == (9.0, 3.0)
    assert {math.copysign(1, price) for price, _ in traded[:2]} == {1.0, -1.0}
    assert ladder(only["sp"]["backStakeTaken"]) == [(1.5, 4.0), (2.0, 3.0)]
    assert ladder(only["sp"]["layLiabilityTaken"]) == [(2.0, 2.0), (1.5, 1.0)]


def test_runner_order_and_handicaps():
    [book] = books(line(rc=[{"id": 3}, {"id": 1, "hc": 0.5}, {"id": 1, "hc": -0.5},
                            {"id": -4}, {"id": 1, "hc": 0.504}, {"id": "2"}, {"id": 2.0}]))
    assert [(r["selectionId"], r["handicap"]) for r in book["runners"]] == [
        (-4, 0.0), (1, -0.5), (1, 0.5), (3, 0.0)]


def apply(*market_changes):
    market = model.Market("1.1")
    for change in market_changes:
        market.apply(change, 1)
    return market


@pytest.mark.parametrize(("second", "raised"), [
    ({"id": 1, "ltp": 2.0, "tv": 5.0, "status": "ACTIVE"}, False),
    ({"id": 1, "ltp": 2.0, "spn": 3.0}, True),
    ({"id": 1, "spn": None}, True),
    ({"id": 1, "spf": None}, True),
    ({"id": 1, "atb": [[2.0, 5]]}, False),
    ({"id": 1, "atb": [[2.0, 6]]}, True),
    ({"id": 1, "atb": [[9.0, 0]]}, False),
    ({"id": 1, "atb": [[9.0, 1], [9.0, 0]]}, True),
    ({"id": 1, "removalDate": "x"}, True),
    ({"id": 1, "hc": 0.004, "ltp": 3.0}, True),
])
def test_runner_change_counter(second, raised):
    market = apply({"rc": [{"id": 1, "ltp": 2.0, "tv": 5.0, "atb": [[2.0, 5.0]]}]})
    before = market.runners[(1, 0)].version
    market.apply({"rc": [second]}, 2)
    assert market.runners[(1, 0)].version == before + raised


def test_definition_runner_counter_and_entries():
    market = apply({"marketDefinition": {"runners": [
        {"id": 1, "hc": 0.001, "bsp": "NaN"}, {"id": 1, "hc": 0.002}, {"id": 3.0}, 7]}})
    record = market.runners[(1, 0)]
    assert (record.version, record.handicap, record.bsp) == (2, 0.001, None)
    assert [entry["id"] for entry in market.runner_definitions] == [1, 1, 0, 0]
    assert len(market.runners) == 1


@pytest.mark.parametrize(("element", "entry"), [
    ({"id": 1, "hc": 0.0}, {"id": 1, "sortPriority": 0, "status": "ACTIVE"}),
    ({"id": 1, "hc": -0.0}, {"id": 1, "sortPriority": 0, "status": "ACTIVE"}),
    ({"id": 1, "hc": -0.5, "name": "N", "removalDate": "R", "adjustmentFactor": 3, "bsp": 2,
      "sortPriority": 2**32 + 2, "status": "REMOVED"},
     {"id": 1, "sortPriority": 2, "status": "REMOVED", "adjustmentFactor": 3.0, "name": "N",
      "hc": -0.5, "removalDate": "R", "bsp": 2.0}),
    ({"id": 1, "bsp": "4.5"}, {"id": 1, "sortPriority": 0, "status": "ACTIVE"}),
    ("runner", {"id": 0, "sortPriority": 0, "status": "ACTIVE"}),
])
def test_definition_runner_keys(element, entry):
    [book] = books(line(marketDefinition={"runners": [element]}))
    [shown] = book["marketDefinition"]["runners"]
    assert list(shown.items()) == list(entry.items())


def test_starting_prices_shown_by_kind():
    [book] = books(line(marketDefinition={"runners": [{"id": 1, "bsp": "4.5"}]},
                        rc=[{"id": 1, "spn": "NaN", "spf": 2}]))
    assert book["runners"][0]["sp"] | {"backStakeTaken": None, "layLiabilityTaken": None} == {
        "nearPrice": "NaN", "farPrice": 2.0, "actualSP": "4.5",
        "backStakeTaken": None, "layLiabilityTaken": None}


def test_key_order_and_types():
    without, with_definition = books(line(rc=[{"id": 1}]), line(pt=2, marketDefinition={}))
    assert list(without) == [
        "marketId", "status", "betDelay", "bspReconciled", "complete", "crossMatching",
        "inplay", "numberOfActiveRunners", "numberOfRunners", "numberOfWinners",
        "runnersVoidable", "totalMatched", "version", "lastMatchTime", "publishTime",
        "runners"]
    assert list(with_definition)[-1] == "marketDefinition"
    definition = with_definition["marketDefinition"]
    assert list(definition) == sorted(definition) and len(definition) == 29
    assert (definition["complete"], definition["persistenceEnabled"],
            definition["marketBaseRate"], definition["numberOfWinners"],
            definition["marketTime"]) == (True, True, 0.0, 1, None)
    assert list(without["runners"][0]) == [
        "selectionId", "handicap", "status", "adjustmentFactor", "lastPriceTraded",
        "totalMatched", "removalDate", "ex", "sp"]
    assert type(without["totalMatched"]) is float and without["lastMatchTime"] is None


def test_books_are_independent():
    first, second = books(line(marketDefinition={"regulators": ["A"]}), line(pt=2))
    first["marketDefinition"]["regulators"].append("B")
    assert second["marketDefinition"]["regulators"] == ["A"]


def test_file_reading(tmp_path):
    import gzip

    text = (line(pt=1) + "\r\n" + line(pt=2)).encode()
    (tmp_path / "a.gz").write_bytes(gzip.compress(text) + gzip.compress(line(pt=3).encode()))
    (tmp_path / "a.GZ").write_bytes(text)
    for name in ("a.gz", "a.GZ"):
        assert [b["publishTime"] for b in model.model_books_from_file(tmp_path / name)] == [1, 2]
