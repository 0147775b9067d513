"""MarketBook.to_dict(): layout, value types, absent values and independence from the books."""

import datetime
import math

import pytest

import quorvane
from streams import books, change, message, one_per_change, write_stream

BOOK_KEYS = [
    "marketId", "status", "betDelay", "bspReconciled", "complete", "crossMatching", "inplay",
    "numberOfActiveRunners", "numberOfRunners", "numberOfWinners", "runnersVoidable", "totalMatched",
    "version", "lastMatchTime", "publishTime", "runners",
]
DEFINITION_KEYS = [
    "betDelay", "bettingType", "bspMarket", "bspReconciled", "complete", "countryCode", "crossMatching",
    "discountAllowed", "eventId", "eventName", "eventTypeId", "inPlay", "marketBaseRate", "marketTime",
    "marketType", "name", "numberOfActiveRunners", "numberOfWinners", "openDate", "persistenceEnabled",
    "regulators", "runners", "runnersVoidable", "status", "suspendTime", "timezone", "turnInPlayEnabled",
    "venue", "version",
]
RUNNER_KEYS = ["selectionId", "handicap", "status", "adjustmentFactor", "lastPriceTraded", "totalMatched",
               "removalDate", "ex", "sp"]
EX_KEYS = ["availableToBack", "availableToLay", "tradedVolume"]
SP_KEYS = ["nearPrice", "farPrice", "actualSP", "backStakeTaken", "layLiabilityTaken"]

FULL_DEFINITION = {
    "eventId": "30366300", "eventTypeId": "7", "eventName": "Ham 18th Mar", "marketType": "WIN",
    "countryCode": "GB", "venue": "Hamilton", "raceType": "Flat", "name": "1m Hcap", "timezone": "Europe/London",
    "bettingType": "ODDS", "regulators": ["MR_INT", "GBR_GC"], "marketTime": "2021-03-18T13:20:00.000Z",
    "openDate": "2021-03-18T13:00:00Z", "suspendTime": "2021-03-18T13:20:00.000Z",
    "settledTime": "2021-03-18T13:25:31.000Z", "bspMarket": True, "persistenceEnabled": False,
    "eachWayDivisor": 4.0, "turnInPlayEnabled": True, "discountAllowed": True, "marketBaseRate": 5,
    "betDelay": 1, "numberOfWinners": 2, "bspReconciled": True, "complete": False, "crossMatching": False,
    "inPlay": True, "runnersVoidable": True, "status": "SUSPENDED", "version": 3717263416,
    "runners": [
        {"id": 2, "sortPriority": 1, "status": "ACTIVE", "hc": -0.5, "adjustmentFactor": 35.7, "name": "Bold Arrow",
         "bsp": 2.86},
        {"id": 1, "sortPriority": 2, "status": "REMOVED", "removalDate": "2021-03-18T13:20:00.000Z"},
    ],
}
FULL_DEFINITION_DICT = {
    "betDelay": 1, "bettingType": "ODDS", "bspMarket": True, "bspReconciled": True, "complete": False,
    "countryCode": "GB", "crossMatching": False, "discountAllowed": True, "eventId": "30366300",
    "eventName": "Ham 18th Mar", "eventTypeId": "7", "inPlay": True, "marketBaseRate": 5.0,
    "marketTime": "2021-03-18T13:20:00.000Z", "marketType": "WIN", "name": "1m Hcap",
    "numberOfActiveRunners": 1, "numberOfWinners": 2, "openDate": "2021-03-18T13:00:00Z",
    "persistenceEnabled": False, "regulators": ["MR_INT", "GBR_GC"],
    "runners": [
        {"id": 2, "sortPriority": 1, "status": "ACTIVE", "adjustmentFactor": 35.7, "name": "Bold Arrow",
         "hc": -0.5, "bsp": 2.86},
        {"id": 1, "sortPriority": 2, "status": "REMOVED", "removalDate": "2021-03-18T13:20:00.000Z"},
    ],
    "runnersVoidable": True, "status": "SUSPENDED", "suspendTime": "2021-03-18T13:20:00.000Z",
    "timezone": "Europe/London", "turnInPlayEnabled": True, "venue": "Hamilton", "version": 3717263416,
}

LADDER_CHANGE = dict(rc=[{"id": 5, "atb": [[2.0, 10], [2.2, 4], [1.9, 5]], "atl": [[2.6, 7], [2.4, 1]],
                      "trd": [[2.2, 3], [2.0, 9]], "spb": [[3.0, 2], [4.0, 1]], "spl": [[6.0, 8], [5.0, 9]],
                      "ltp": 2.2, "tv": 12, "spn": 2.5, "spf": "NaN"}])
LADDERS = change(**LADDER_CHANGE)


def walk(tree):
    """Every dict and list of a tree, depth first."""
    yield tree
    for child in tree.values() if isinstance(tree, dict) else tree:
        if isinstance(child, (dict, list)):
            yield from walk(child)


def book_lists(book):
    """The lists that a book holds and Python can reach and change."""
    lists = [book.runners]
    for runner in book.runners:
        lists += [runner.ex.available_to_back, runner.ex.available_to_lay, runner.ex.traded_volume]
    if book.market_definition is not None:
        lists.append(book.market_definition.runners)
    return lists


def test_method():
    method = quorvane.MarketBook.to_dict
    assert method.__doc__ == "Convert to a dict matching betfairutil lightweight format (for testing)"
    assert method.__text_signature__ == "($self)"


def test_takes_no_argument(tmp_path):
    (book,) = one_per_change(tmp_path, change())
    with pytest.raises(TypeError):
        book.to_dict(1)


def test_layout_before_and_after_the_first_definition(tmp_path):
    before, after = one_per_change(tmp_path, LADDERS, change(definition=FULL_DEFINITION))
    assert list(before.to_dict()) == BOOK_KEYS
    result = after.to_dict()
    assert list(result) == BOOK_KEYS + ["marketDefinition"]
    assert list(result["marketDefinition"]) == DEFINITION_KEYS == sorted(DEFINITION_KEYS)
    runner = before.to_dict()["runners"][0]
    assert list(runner) == RUNNER_KEYS
    assert list(runner["ex"]) == EX_KEYS
    assert list(runner["sp"]) == SP_KEYS
    for levels in [*runner["ex"].values(), runner["sp"]["backStakeTaken"], runner["sp"]["layLiabilityTaken"]]:
        assert levels and all(list(level) == ["price", "size"] for level in levels)


def test_book_values_and_types(tmp_path):
    (book,) = one_per_change(tmp_path, change(
        definition=FULL_DEFINITION, tv=1234, lastMatchTime=1616073600123,
        rc=[{"id": 5, "hc": -0.0, "atb": [[2, 10]]}]))
    result = book.to_dict()
    top = {key: result[key] for key in BOOK_KEYS if key != "runners"}
    assert top == {
        "marketId": "1.234", "status": "SUSPENDED", "betDelay": 1, "bspReconciled": True, "complete": False,
        "crossMatching": False, "inplay": True, "numberOfActiveRunners": 2, "numberOfRunners": 3,
        "numberOfWinners": 2, "runnersVoidable": True, "totalMatched": 1234.0, "version": 3717263416,
        "lastMatchTime": 1616073600123, "publishTime": 1000,
    }
    assert [type(value) for value in top.values()] == [
        str, str, int, bool, bool, bool, bool, int, int, int, bool, float, int, int, int]
    assert result["publishTime"] == book.publish_time_epoch
    assert result["marketDefinition"] == dict(FULL_DEFINITION_DICT, numberOfActiveRunners=2)
    assert [type(result["marketDefinition"][key]) for key in ("marketBaseRate", "version", "betDelay")] == [
        float, int, int]
    runner = {r["selectionId"]: r for r in result["runners"]}[5]
    assert (runner["handicap"], math.copysign(1.0, runner["handicap"])) == (0.0, -1.0)
    assert runner["ex"]["availableToBack"] == [{"price": 2.0, "size": 10.0}]
    assert type(runner["ex"]["availableToBack"][0]["price"]) is float


def test_absent_values_are_none(tmp_path):
    (book,) = one_per_change(tmp_path, change(rc=[{"id": 5}]))
    result = book.to_dict()
    assert result["lastMatchTime"] is None
    (runner,) = result["runners"]
    assert runner == {
        "selectionId": 5, "handicap": 0.0, "status": "ACTIVE", "adjustmentFactor": None, "lastPriceTraded": None,
        "totalMatched": 0.0, "removalDate": None,
        "ex": {"availableToBack": [], "availableToLay": [], "tradedVolume": []},
        "sp": {"nearPrice": None, "farPrice": None, "actualSP": None, "backStakeTaken": [],
               "layLiabilityTaken": []},
    }


def test_absent_definition_values(tmp_path):
    (book,) = one_per_change(tmp_path, change(definition={"runners": [{"id": 3}]}))
    definition = book.to_dict()["marketDefinition"]
    texts = ["bettingType", "countryCode", "eventId", "eventName", "eventTypeId", "marketTime", "marketType",
             "name", "openDate", "suspendTime", "timezone", "venue"]
    assert {key: definition[key] for key in texts} == dict.fromkeys(texts, None)
    assert definition["regulators"] == []
    assert definition["runners"] == [{"id": 3, "sortPriority": 0, "status": "ACTIVE"}]


@pytest.mark.parametrize(("entry", "expected"), [
    ({"id": 3}, {"id": 3, "sortPriority": 0, "status": "ACTIVE"}),
    ({"id": 3, "hc": 0.0}, {"id": 3, "sortPriority": 0, "status": "ACTIVE"}),
    ({"id": 3, "hc": 0}, {"id": 3, "sortPriority": 0, "status": "ACTIVE"}),
    ({"id": 3, "hc": -0.0}, {"id": 3, "sortPriority": 0, "status": "ACTIVE"}),
    ({"id": 3, "hc": -0.5}, {"id": 3, "sortPriority": 0, "status": "ACTIVE", "hc": -0.5}),
    ({"id": 3, "hc": 1e-300}, {"id": 3, "sortPriority": 0, "status": "ACTIVE", "hc": 1e-300}),
    # A text handicap counts as absent; a text bsp too.
    ({"id": 3, "hc": "1.5", "bsp": "NaN"}, {"id": 3, "sortPriority": 0, "status": "ACTIVE"}),
    ({"bsp": 4, "removalDate": "2021-03-18T13:20:00.000Z", "hc": 2, "name": "A", "adjustmentFactor": 9,
      "status": "WINNER", "sortPriority": 4, "id": 3},
     {"id": 3, "sortPriority": 4, "status": "WINNER", "adjustmentFactor": 9.0, "name": "A", "hc": 2.0,
      "removalDate": "2021-03-18T13:20:00.000Z", "bsp": 4.0}),
])
def test_definition_runner_keys(tmp_path, entry, expected):
    (book,) = one_per_change(tmp_path, change(definition={"runners": [entry]}))
    (result,) = book.to_dict()["marketDefinition"]["runners"]
    assert list(result.items()) == list(expected.items())
    assert all(type(result[key]) is float for key in ("adjustmentFactor", "hc", "bsp") if key in result)


@pytest.mark.parametrize("literal", ["NaN", "1e400", "-1e400", "1" + "0" * 400])
def test_a_nan_or_infinite_handicap_cannot_be_read(tmp_path, literal):
    # JSON numbers are finite and the reader refuses the rest, so "hc" of
    # to_dict never meets a NaN.
    line = '{"op":"mcm","pt":1,"mc":[{"id":"1.234","marketDefinition":{"runners":[{"id":1,"hc":%s}]}}]}' % literal
    with pytest.raises(ValueError):
        books(tmp_path, line)


def test_starting_prices(tmp_path):
    _, book = one_per_change(tmp_path, change(definition={"runners": [
        {"id": 5, "bsp": 3.45}, {"id": 6, "bsp": "NaN"}, {"id": 7}]}), LADDERS)
    runners = {r["selectionId"]: r["sp"] for r in book.to_dict()["runners"]}
    assert runners[5] == {
        "nearPrice": 2.5, "farPrice": "NaN", "actualSP": 3.45,
        "backStakeTaken": [{"price": 5.0, "size": 9.0}, {"price": 6.0, "size": 8.0}],
        "layLiabilityTaken": [{"price": 4.0, "size": 1.0}, {"price": 3.0, "size": 2.0}],
    }
    assert (runners[6]["actualSP"], runners[7]["actualSP"]) == ("NaN", None)
    sp = {r.selection_id: r.sp for r in book.runners}[5]
    for key, levels in (("backStakeTaken", sp.back_stake_taken), ("layLiabilityTaken", sp.lay_liability_taken)):
        assert runners[5][key] == [{"price": p.price, "size": p.size} for p in levels]


def test_ladders_follow_the_book_lists(tmp_path):
    (book,) = one_per_change(tmp_path, LADDERS)
    (runner,) = book.runners
    (result,) = book.to_dict()["runners"]
    assert result["ex"]["availableToBack"] == [
        {"price": 2.2, "size": 4.0}, {"price": 2.0, "size": 10.0}, {"price": 1.9, "size": 5.0}]
    for key, levels in zip(EX_KEYS, (runner.ex.available_to_back, runner.ex.available_to_lay,
                                     runner.ex.traded_volume), strict=True):
        assert result["ex"][key] == [{"price": p.price, "size": p.size} for p in levels]
    assert (result["lastPriceTraded"], result["totalMatched"]) == (2.2, 12.0)


def test_ladders_are_read_from_the_stored_objects(tmp_path):
    # What the list holds is what is shown: nothing is re-sorted or rebuilt from the cache.
    (book,) = one_per_change(tmp_path, LADDERS)
    ex = book.runners[0].ex
    ex.available_to_back.reverse()
    ex.traded_volume.append(ex.available_to_lay[0])
    result = book.to_dict()["runners"][0]["ex"]
    assert [level["price"] for level in result["availableToBack"]] == [1.9, 2.0, 2.2]
    assert result["tradedVolume"][-1] == {"price": 2.4, "size": 1.0}


def test_times(tmp_path):
    (book,) = one_per_change(tmp_path, change(definition=FULL_DEFINITION))
    definition = book.to_dict()["marketDefinition"]
    assert definition["marketTime"] == "2021-03-18T13:20:00.000Z"
    assert book.market_definition.market_time == datetime.datetime(2021, 3, 18, 13, 20)
    assert definition["openDate"] == "2021-03-18T13:00:00Z"
    assert definition["suspendTime"] == "2021-03-18T13:20:00.000Z"
    assert "settledTime" not in definition
    result = book.to_dict()
    assert type(result["publishTime"]) is int and result["publishTime"] == 1000


def test_runner_status_is_the_runners_own_str(tmp_path):
    (book,) = one_per_change(tmp_path, change(rc=[{"id": 5, "status": "REMOVED"}, {"id": 6}]))
    for runner, result in zip(book.runners, book.to_dict()["runners"], strict=True):
        assert result["status"] is runner.status


def test_successive_calls_share_no_mutable_object(tmp_path):
    (book,) = one_per_change(tmp_path, change(definition=FULL_DEFINITION, **LADDER_CHANGE))
    first, second = book.to_dict(), book.to_dict()
    assert first == second
    first_ids = {id(node) for node in walk(first)}
    assert first_ids.isdisjoint(id(node) for node in walk(second))
    assert first_ids.isdisjoint(id(node) for node in book_lists(book))


def test_changing_a_result_changes_no_book(tmp_path):
    lines = [message(1000, change(definition=FULL_DEFINITION, **LADDER_CHANGE)),
             message(2000, change(tv=5.0))]
    iterator = quorvane.iter_prices_file(write_stream(tmp_path, *lines))
    book = next(iterator)
    kept = book.to_dict()
    spoiled = book.to_dict()
    for node in walk(spoiled):
        node.clear()
    assert book.to_dict() == kept
    assert book.market_definition.regulators == ["MR_INT", "GBR_GC"]
    later = next(iterator)
    assert later.runners[0] is book.runners[0]  # shared with the earlier book
    assert later.to_dict()["runners"] == kept["runners"]
    assert later.to_dict()["totalMatched"] == 5.0


def test_later_steps_leave_an_earlier_result_unchanged(tmp_path):
    first, *rest = one_per_change(
        tmp_path, change(definition=FULL_DEFINITION, **LADDER_CHANGE),
        change(rc=[{"id": 5, "atb": [[2.0, 0], [2.1, 3]], "spn": 9.0}]), change(img=True, rc=[{"id": 8}]),
        change(definition={"runners": []}))
    taken = first.to_dict()
    copy = first.to_dict()
    results = [book.to_dict() for book in rest]
    assert taken == copy == first.to_dict()
    assert results[0]["runners"][2]["ex"]["availableToBack"][:2] == [
        {"price": 2.2, "size": 4.0}, {"price": 2.1, "size": 3.0}]
    assert results[2]["marketDefinition"]["runners"] == []


def test_foreign_definition_runner(tmp_path):
    (book,) = one_per_change(tmp_path, change(definition=FULL_DEFINITION))
    runners = book.market_definition.runners
    kept = runners[1]
    runners[1] = "runner"
    with pytest.raises(TypeError) as raised:
        book.to_dict()
    assert str(raised.value) == "'str' object cannot be converted to 'MarketDefinitionRunner'"
    runners[1] = kept
    assert book.to_dict()["marketDefinition"] == FULL_DEFINITION_DICT


@pytest.mark.parametrize(("spoil", "message_text"), [
    (lambda book: book.runners.append(1), "'int' object cannot be converted to 'Runner'"),
    (lambda book: book.runners.insert(0, book.runners[0].ex), "'ExchangePrices' object cannot be converted to 'Runner'"),
    (lambda book: book.runners[0].ex.available_to_lay.append(None),
     "'NoneType' object cannot be converted to 'PriceSize'"),
    (lambda book: book.runners[0].ex.traded_volume.insert(0, {"price": 1.0, "size": 1.0}),
     "'dict' object cannot be converted to 'PriceSize'"),
])
def test_foreign_objects_in_book_lists(tmp_path, spoil, message_text):
    book, later = one_per_change(tmp_path, LADDERS, change(tv=3.0))
    spoil(book)
    with pytest.raises(TypeError) as raised:
        book.to_dict()
    assert str(raised.value) == message_text


@pytest.mark.parametrize("later_change", [change(tv=3.0), change(rc=[{"id": 5, "ltp": 2.4}])],
                         ids=["same runner", "rebuilt runner"])
def test_a_changed_ladder_list_shows_in_the_later_books_that_share_it(tmp_path, later_change):
    book, later = one_per_change(tmp_path, LADDERS, later_change)
    book.runners.append(1)  # the runner list is the book's own
    assert len(later.to_dict()["runners"]) == 1
    # The ladder lists are shared, also when only the earlier book has read them.
    book.runners[0].ex.available_to_back.append(1)
    with pytest.raises(TypeError, match="'PriceSize'"):
        later.to_dict()
    assert later.runners[0].ex.available_to_back is book.runners[0].ex.available_to_back
