"""The book classes as Python sees them: attributes, kinds, values, errors."""

import decimal
import random
import sys

import pytest

import quorvane
from streams import change, one_per_change

BOOK_CLASSES = ["MarketBook", "Runner", "ExchangePrices", "StartingPrices", "PriceSize"]
DOCSTRINGS = {
    "MarketBook": "A market book snapshot",
    "Runner": "A runner in the market",
    "ExchangePrices": "Exchange prices for a runner (back/lay/traded)",
    "StartingPrices": "Starting prices for a runner",
    "PriceSize": "A price/size pair in the order book",
}
BOOK_ATTRIBUTES = [
    "streaming_unique_id", "market_id", "publish_time", "publish_time_epoch", "status", "bet_delay",
    "bsp_reconciled", "complete", "cross_matching", "inplay", "number_of_active_runners",
    "number_of_runners", "number_of_winners", "runners_voidable", "total_matched", "version",
    "last_match_time", "market_definition", "runners", "bet_delay_models", "elapsed_time",
    "is_market_data_delayed", "key_line_description", "price_ladder_definition", "suspend_reason",
    "total_available", "streaming_snap", "streaming_update",
]
RUNNER_ATTRIBUTES = [
    "selection_id", "handicap", "adjustment_factor", "last_price_traded", "total_matched", "status",
    "removal_date", "ex", "sp", "orders", "matches", "matches_by_strategy", "bet_delay_models",
    "suspend_reason",
]
ATTRIBUTES = {
    "MarketBook": BOOK_ATTRIBUTES,
    "Runner": RUNNER_ATTRIBUTES,
    "ExchangePrices": ["available_to_back", "available_to_lay", "traded_volume"],
    "StartingPrices": ["near_price", "far_price", "actual_sp", "back_stake_taken", "lay_liability_taken"],
    "PriceSize": ["price", "size"],
}
# Methods come before the attributes: a type sets up its methods first.
METHODS = {"MarketBook": ["to_dict"]}

FULL_RUNNER = {
    "id": 11, "hc": -1.5, "ltp": 3.45, "tv": 120.25, "status": "ACTIVE", "adjustmentFactor": 12.5,
    "removalDate": "2021-03-18T13:20:00.000Z",
    "atb": [[3.4, 10.5], [3.3, 2], [3.35, 1]], "atl": [[3.6, 4], [3.5, 8.25]],
    "trd": [[3.5, 1], [3.4, 20], [3.45, 5]],
    "spb": [[1.5, 4], [2.0, 6]], "spl": [[2.0, 3], [1.5, 7]], "spn": 3.3, "spf": "NaN",
}


@pytest.fixture
def book(tmp_path):
    (book,) = one_per_change(tmp_path, change(
        tv=500.5, status="SUSPENDED", betDelay=5, inPlay=True, complete=False, crossMatching=False,
        bspReconciled=True, runnersVoidable=True, version=77, lastMatchTime=1616073600123,
        rc=[FULL_RUNNER, {"id": 12, "status": "REMOVED"}]))
    return book


def level_pairs(price_sizes):
    return [(p.price, p.size) for p in price_sizes]


@pytest.mark.parametrize("name", BOOK_CLASSES)
def test_class(name):
    cls = getattr(quorvane, name)
    assert (cls.__module__, cls.__name__, cls.__doc__) == ("builtins", name, DOCSTRINGS[name])
    assert [a for a in vars(cls) if not a.startswith("__")] == METHODS.get(name, []) + ATTRIBUTES[name]
    with pytest.raises(TypeError) as raised:
        cls()
    assert str(raised.value) == f"No constructor defined for {name}"
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})


def test_attribute_docstrings():
    MarketBook = quorvane.MarketBook
    assert MarketBook.streaming_unique_id.__doc__ == "Streaming unique ID (set by stream for flumine compatibility)"
    assert MarketBook.publish_time_epoch.__doc__ == "publish_time in epoch milliseconds (int, for flumine compatibility)"
    undocumented = [a for names in ATTRIBUTES.values() for a in names
                    if a not in ("streaming_unique_id", "publish_time_epoch")]
    for cls in map(lambda n: getattr(quorvane, n), BOOK_CLASSES):
        for attribute in ATTRIBUTES[cls.__name__]:
            if attribute in undocumented:
                assert getattr(cls, attribute).__doc__ is None


def test_read_only_attributes(book):
    runner = book.runners[0]
    objects = [book, runner, runner.ex, runner.sp, runner.ex.available_to_back[0]]
    for obj in objects:
        for attribute in ATTRIBUTES[type(obj).__name__]:
            if attribute == "streaming_unique_id":
                continue
            with pytest.raises(AttributeError):
                setattr(obj, attribute, None)
        with pytest.raises(AttributeError):
            obj.anything_else = 1


def test_book_values(book):
    assert (book.market_id, book.status, book.bet_delay, book.version) == ("1.234", "SUSPENDED", 5, 77)
    assert (book.inplay, book.complete, book.cross_matching, book.bsp_reconciled, book.runners_voidable) == (
        True, False, False, True, True)
    assert (book.total_matched, book.last_match_time, book.publish_time_epoch) == (500.5, 1616073600123, 1000)
    assert (book.number_of_runners, book.number_of_active_runners, book.number_of_winners) == (2, 1, 1)
    assert book.market_definition is None
    assert type(book.total_matched) is float and type(book.last_match_time) is int


def test_fixed_attributes(book):
    assert book.streaming_snap is True
    for attribute in BOOK_ATTRIBUTES[19:26] + ["streaming_update"]:
        assert getattr(book, attribute) is None
    for attribute in ("matches_by_strategy", "bet_delay_models", "suspend_reason"):
        assert getattr(book.runners[0], attribute) is None


def test_runner_values(book):
    runner, removed = book.runners
    assert (runner.selection_id, runner.handicap, runner.last_price_traded, runner.total_matched) == (
        11, -1.5, 3.45, 120.25)
    assert (runner.status, runner.adjustment_factor) == ("ACTIVE", 12.5)
    assert runner.removal_date == "2021-03-18T13:20:00.000Z"
    assert (removed.status, removed.adjustment_factor, removed.last_price_traded, removed.removal_date) == (
        "REMOVED", None, None, None)
    assert (removed.handicap, removed.total_matched) == (0.0, 0.0)
    assert level_pairs(runner.ex.available_to_back) == [(3.4, 10.5), (3.35, 1), (3.3, 2)]
    assert level_pairs(runner.ex.available_to_lay) == [(3.5, 8.25), (3.6, 4)]
    assert level_pairs(runner.ex.traded_volume) == [(3.4, 20), (3.45, 5), (3.5, 1)]
    assert [level_pairs(getattr(removed.ex, a)) for a in ATTRIBUTES["ExchangePrices"]] == [[], [], []]


def test_starting_prices(book):
    runner, removed = book.runners
    sp = runner.sp
    assert (sp.near_price, sp.far_price, sp.actual_sp) == (3.3, "NaN", None)
    assert type(sp.far_price) is str
    # "spl" shows as the back stake taken, lowest price first; "spb" as the lay liability, highest first.
    assert level_pairs(sp.back_stake_taken) == [(1.5, 7), (2.0, 3)]
    assert level_pairs(sp.lay_liability_taken) == [(2.0, 6), (1.5, 4)]
    empty = removed.sp
    assert (empty.near_price, empty.far_price, empty.actual_sp) == (None, None, None)
    assert (empty.back_stake_taken, empty.lay_liability_taken) == ([], [])


def test_attribute_kinds(book):
    runner = book.runners[0]
    assert runner.ex is runner.ex
    assert runner.status is runner.status
    assert book.runners is book.runners
    assert book.publish_time is book.publish_time
    assert runner.ex.available_to_back is runner.ex.available_to_back
    assert runner.sp is not runner.sp
    sp = runner.sp
    first, second = sp.back_stake_taken, sp.back_stake_taken
    assert first is not second
    assert all(a is not b for a, b in zip(first, second, strict=True))
    assert level_pairs(first) == level_pairs(second)
    assert first != second  # PriceSize compares by identity
    orders = runner.orders
    orders.append(1)
    assert runner.orders == [] and runner.orders is not runner.orders
    runner.matches.append(1)
    assert runner.matches == []


STATUSES = ["ACTIVE", "REMOVED", "WINNER", "LOSER", "PLACED", "HIDDEN", "REMOVED_VACANT",
            "active", "ACTIVE ", "REMOVED_", "", "\u00c4CTIVE", "WINNER\u00e9"]


def test_runner_statuses(tmp_path):
    # The first steps change every runner's status, the last only its price.
    def statuses(step):
        return [STATUSES[(i + step) % len(STATUSES)] for i in range(len(STATUSES))]

    changes = [change(rc=[{"id": i, "status": status} for i, status in enumerate(statuses(step))]) for step in range(3)]
    changes.append(change(rc=[{"id": i, "ltp": 2.0} for i in range(len(STATUSES))]))
    books = one_per_change(tmp_path, *changes)
    for step, book in enumerate(books):
        got = [runner.status for runner in book.runners]
        assert got == statuses(min(step, 2))
        assert all(type(status) is str for status in got)
    assert all(runner.last_price_traded == 2.0 for runner in books[-1].runners)


def test_reads_leak_nothing(book):
    runner = book.runners[0]
    types = [quorvane.PriceSize, quorvane.StartingPrices]

    def read():
        runner.sp.back_stake_taken, runner.sp.lay_liability_taken, runner.orders, runner.status, repr(
            runner.ex.available_to_back[0])

    read()  # the first read of a ladder makes its list, which is then kept
    before = [sys.getrefcount(t) for t in types]
    for _ in range(300):
        read()
    assert [sys.getrefcount(t) for t in types] == before


@pytest.mark.parametrize(("price", "size", "text"), [
    (1.01, 0.5, "PriceSize(price=1.01, size=0.5)"),
    (1000, 2, "PriceSize(price=1000, size=2)"),
    (0.1, 2.25, "PriceSize(price=0.1, size=2.25)"),
    (1.5, 10, "PriceSize(price=1.5, size=10)"),
    (1e21, 1e-7, "PriceSize(price=1000000000000000000000, size=0.0000001)"),
    (123456789.125, 1.7976931348623157e308, "PriceSize(price=123456789.125, size=17976931348623157" + "0" * 292 + ")"),
    (1e23, -9007199254740993.0, "PriceSize(price=100000000000000000000000, size=-9007199254740992)"),
    (9007199254740991.0, 2.0**60, "PriceSize(price=9007199254740991, size=1152921504606847000)"),
    (12345678901234567890.0, 4.35e17, "PriceSize(price=12345678901234567000, size=435000000000000000)"),
    (-0.0, -2.5, "PriceSize(price=-0, size=-2.5)"),
    (0.30000000000000004, 5e-324, "PriceSize(price=0.30000000000000004, size=0." + "0" * 323 + "5)"),
])
def test_price_size_repr(tmp_path, price, size, text):
    (book,) = one_per_change(tmp_path, change(rc=[{"id": 1, "atb": [[price, size]]}]))
    (level,) = book.runners[0].ex.available_to_back
    assert repr(level) == text
    assert str(level) == text
    assert (level.price, level.size) == (price, size)


def test_price_size_subscription(book):
    level = book.runners[0].ex.available_to_back[0]
    assert (level["price"], level["size"]) == (3.4, 10.5)

    class Text(str):
        pass

    assert level[Text("size")] == 10.5
    for key in ("Price", "SIZE", "", "price "):
        with pytest.raises(KeyError) as raised:
            level[key]
        assert raised.value.args == (key,)
    for key, type_name in ((0, "int"), (b"price", "bytes"), (None, "NoneType"), (1.5, "float")):
        with pytest.raises(TypeError) as raised:
            level[key]
        assert str(raised.value) == f"argument 'key': '{type_name}' object cannot be converted to 'PyString'"
    with pytest.raises(TypeError):
        len(level)
    with pytest.raises(TypeError):
        iter(level)


def test_streaming_unique_id(tmp_path):
    first, second = one_per_change(tmp_path, change(tv=1.0), change(tv=2.0))
    assert first.streaming_unique_id is None
    first.streaming_unique_id = 7
    assert first.streaming_unique_id == 7
    for value in (2**31, -(2**31) - 1, 2**40, 2**63, 2**70, -(2**100)):
        with pytest.raises(OverflowError) as overflow:
            first.streaming_unique_id = value
        assert str(overflow.value) == "out of range integral type conversion attempted"
        assert first.streaming_unique_id == 7
    for value, type_name in ((1.0, "float"), ("7", "str"), ([7], "list")):
        with pytest.raises(TypeError) as raised:
            first.streaming_unique_id = value
        assert str(raised.value).startswith("argument 'streaming_unique_id': ")
        assert f"'{type_name}'" in str(raised.value)
        assert first.streaming_unique_id == 7
    with pytest.raises(AttributeError) as raised:
        del first.streaming_unique_id
    assert str(raised.value) == "can't delete attribute"
    for value in (2**31 - 1, -(2**31), True, 0):
        first.streaming_unique_id = value
        assert first.streaming_unique_id == value and type(first.streaming_unique_id) is int
    first.streaming_unique_id = None
    assert first.streaming_unique_id is None
    first.streaming_unique_id = 3
    assert second.streaming_unique_id is None


def shortest_positional(value):
    """Python's shortest round-trip digits, laid out without an exponent."""
    text = format(decimal.Decimal(repr(value)), "f")
    return text[:-2] if text.endswith(".0") else text


def test_price_size_repr_matches_shortest_digits(tmp_path):
    rng = random.Random(5)
    values = [rng.uniform(1.01, 1000) for _ in range(200)]
    values += [rng.random() * 10.0 ** rng.randint(-30, 300) for _ in range(200)]
    values += [float(rng.getrandbits(64)) for _ in range(50)]
    values += [-v for v in values[::7]]
    pairs = [[v, 1] for v in values]
    (book,) = one_per_change(tmp_path, change(rc=[{"id": 1, "atl": pairs}]))
    shown = {level.price: repr(level) for level in book.runners[0].ex.available_to_lay}
    assert len(shown) == len(set(values))
    for value in values:
        assert shown[value] == f"PriceSize(price={shortest_positional(value)}, size=1)"
