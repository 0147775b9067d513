"""Random streams: every book's to_dict() against the reference model.

The lines are written as JSON text by hand, so that they can carry what a
JSON encoder never writes: repeated keys, integer literals beyond 64 bits,
"-0". Values of the wrong kind are mixed into every key.
"""

import json
import math
import pathlib
import tempfile

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
import pytest

import quorvane
from market_model import model_books

# The strategies are large tables of literals; their repr is of no use.
pytestmark = pytest.mark.filterwarnings("ignore:Generating overly large repr")

LADDER_KEYS = {"availableToBack", "availableToLay", "tradedVolume", "backStakeTaken", "layLiabilityTaken"}


# --- JSON text --------------------------------------------------------------


def json_object(pairs):
    return "{" + ",".join(f"{json.dumps(key)}:{value}" for key, value in pairs) + "}"


def json_array(items):
    return "[" + ",".join(items) + "]"


def text(*choices):
    return st.sampled_from([json.dumps(choice) for choice in choices])


def literal(*choices):
    return st.sampled_from(list(choices))


MISTYPED = literal('"x"', "null", "true", "false", "[]", "{}", '"1.5"', "[1]")
INTEGERS = literal("0", "1", "2", "3", "-1", "7", "2147483647", "2147483648", "4294967301", "9223372036854775807",
                   "9223372036854775808", "18446744073709551615", "-9223372036854775808",
                   "-9223372036854775809", "-0", "1.0", "1e2")
NUMBERS = literal("0", "-0", "0.0", "-0.0", "1.5", "2", "-0.5", "0.005", "0.004", "0.015", "1e2", "1E-3", "12.25",
                  "3.14159", "0.1", "1e-300", "18446744073709551616")
PRICES = literal("1.01", "1.5", "2", "2.0", "3.5", "1000", "0", "-0", "0.0", "-0.0", "20.5", "1e1", "10")
SIZES = literal("0", "0.0", "-0.0", "1", "2.5", "10", "100.25", "1e3", "-3")
FLAGS = literal("true", "false")
TIMES = text("2021-03-18T13:20:00.000Z", "2021-03-18T13:20:00Z", "2022-04-19T18:29:41.000Z")
# A definition time that is a text must parse; other kinds count as absent.
TIME_VALUES = st.one_of(TIMES, TIMES, TIMES, literal("null", "1", "[]"))
NAMES = text("Bold Arrow", "Çé", "\u00e9\U0001f600", "", "a\"b\\c")
STATUSES = text("ACTIVE", "REMOVED", "WINNER", "LOSER", "OPEN", "SUSPENDED", "CLOSED", "")


def either(good):
    return st.one_of(good, good, good, MISTYPED)


def keyed_pairs(*pairs):
    """The (key, value) pairs of an object: keys may be left out or repeated."""
    choice = st.sampled_from(pairs).flatmap(lambda pair: pair[1].map(lambda value: (pair[0], value)))
    return st.lists(choice, max_size=2 * len(pairs))


def keyed(*pairs):
    return keyed_pairs(*pairs).map(json_object)


LEVELS = st.lists(st.one_of(
    st.tuples(PRICES, SIZES).map(json_array),
    st.tuples(PRICES, SIZES, SIZES).map(json_array),
    st.tuples(either(PRICES), either(SIZES)).map(json_array),
    literal("[1]", '"x"', "null"),
), max_size=5).map(json_array)
SP_VALUES = st.one_of(NUMBERS, literal('"NaN"', '"Infinity"', '"1.5"', "null", "true", "[]"))
HANDICAPS = literal("0", "-0", "-0.0", "0.5", "-0.5", "0.004", "0.005", "1e-300", '"0.5"', "null")

def usually(key, values):
    """A one-pair list three times in four, else no pair."""
    pair = values.map(lambda value: [(key, value)])
    return st.one_of(pair, pair, pair, st.just([]))


def joined(*parts):
    """An object of the pairs of each part, in order."""
    return st.tuples(*parts).map(lambda lists: json_object([pair for pairs in lists for pair in pairs]))


RUNNER_IDS = literal("1", "2", "3", "1", "2", "3", "1.0", '"1"')
RUNNER_CHANGE = either(joined(
    usually("id", RUNNER_IDS),
    usually("atb", LEVELS),
    keyed_pairs(("hc", HANDICAPS), ("atl", LEVELS), ("trd", LEVELS), ("spb", LEVELS), ("spl", LEVELS),
                ("ltp", either(NUMBERS)), ("tv", either(NUMBERS)), ("status", either(STATUSES)),
                ("adjustmentFactor", either(NUMBERS)), ("removalDate", TIME_VALUES),
                ("spn", SP_VALUES), ("spf", SP_VALUES), ("id", RUNNER_IDS)),
))
DEFINITION_RUNNER = either(joined(
    usually("id", RUNNER_IDS),
    st.one_of(st.just([]), usually("hc", HANDICAPS)),
    keyed_pairs(("hc", HANDICAPS), ("sortPriority", either(INTEGERS)), ("status", either(STATUSES)),
                ("name", either(NAMES)), ("adjustmentFactor", either(NUMBERS)), ("bsp", SP_VALUES),
                ("removalDate", TIME_VALUES), ("id", RUNNER_IDS)),
))
DEFINITION_RUNNERS = either(st.lists(DEFINITION_RUNNER, min_size=1, max_size=4).map(json_array))
DEFINITION = either(joined(
    usually("runners", DEFINITION_RUNNERS),
    keyed_pairs(
        ("status", either(STATUSES)), ("betDelay", either(INTEGERS)), ("bspReconciled", either(FLAGS)),
        ("complete", either(FLAGS)), ("crossMatching", either(FLAGS)), ("inPlay", either(FLAGS)),
        ("runnersVoidable", either(FLAGS)), ("numberOfWinners", either(INTEGERS)),
        ("numberOfActiveRunners", either(INTEGERS)), ("eventId", either(NAMES)), ("eventTypeId", either(NAMES)),
        ("eventName", either(NAMES)), ("marketType", either(NAMES)), ("countryCode", either(NAMES)),
        ("venue", either(NAMES)), ("raceType", either(NAMES)), ("timezone", either(NAMES)),
        ("bettingType", either(NAMES)), ("name", either(NAMES)), ("bspMarket", either(FLAGS)),
        ("persistenceEnabled", either(FLAGS)), ("turnInPlayEnabled", either(FLAGS)),
        ("discountAllowed", either(FLAGS)), ("eachWayDivisor", either(NUMBERS)),
        ("marketBaseRate", either(NUMBERS)), ("version", either(INTEGERS)), ("marketTime", TIME_VALUES),
        ("openDate", TIME_VALUES), ("suspendTime", TIME_VALUES), ("settledTime", TIME_VALUES),
        ("regulators", st.lists(either(NAMES), max_size=3).map(json_array)), ("runners", DEFINITION_RUNNERS)),
))
# Mostly the first market; a second one, an empty id and a number are rarer.
MARKET_IDS = literal('"1.1"', '"1.1"', '"1.1"', '"1.2"', '""', "1.1")
RUNNER_CHANGES = either(st.lists(RUNNER_CHANGE, min_size=1, max_size=4).map(json_array))


def market_change_pairs():
    return st.tuples(
        usually("id", MARKET_IDS),
        st.one_of(st.just([]), st.just([]), st.just([("img", "true")])),
        st.one_of(st.just([]), DEFINITION.map(lambda value: [("marketDefinition", value)])),
        usually("rc", RUNNER_CHANGES),
        keyed_pairs(("img", either(FLAGS)), ("marketDefinition", DEFINITION), ("rc", RUNNER_CHANGES),
                    ("tv", either(NUMBERS)), ("status", either(STATUSES)), ("inPlay", either(FLAGS)),
                    ("betDelay", either(INTEGERS)), ("version", either(INTEGERS)),
                    ("lastMatchTime", either(INTEGERS)), ("bspReconciled", either(FLAGS)),
                    ("complete", either(FLAGS)), ("crossMatching", either(FLAGS)),
                    ("runnersVoidable", either(FLAGS)), ("id", MARKET_IDS)),
    ).map(lambda lists: [pair for pairs in lists for pair in pairs])


MARKET_CHANGE_PAIRS = market_change_pairs()
MARKET_CHANGE = either(MARKET_CHANGE_PAIRS.map(json_object))
PUBLISH_TIMES = either(st.one_of(st.integers(1, 2**40).map(str),
                                 literal("0", "-5", "1.5")))
MESSAGE = st.tuples(PUBLISH_TIMES, st.lists(MARKET_CHANGE, min_size=1, max_size=3).map(json_array)).map(
    lambda both: json_object([("op", '"mcm"'), ("pt", both[0]), ("mc", both[1])]))
LINE = st.one_of(
    MESSAGE, MESSAGE, MESSAGE, MESSAGE,
    # A bare market change with its own publish time.
    st.tuples(PUBLISH_TIMES, MARKET_CHANGE_PAIRS).map(lambda both: json_object([("pt", both[0]), *both[1]])),
    # Repeated keys at the top: the later one counts.
    st.tuples(MESSAGE, MESSAGE).map(lambda both: both[0][:-1] + "," + both[1][1:]),
    literal("", "  ", "[]", "null", "{}", '{"op":"heartbeat","pt":5}'),
)
STREAM = st.lists(LINE, min_size=2, max_size=16)


# --- comparison ---------------------------------------------------------------


def canonical(value, key=None):
    """A form in which equal means identical: -0.0 differs from 0.0, 1 from 1.0 and
    True, and dict key order counts. The levels of price 0.0 and -0.0 in one ladder
    may come in either order, so such a run of levels is taken as a set."""
    if isinstance(value, dict):
        return ("dict", [(k, canonical(v, k)) for k, v in value.items()])
    if isinstance(value, list):
        items = [canonical(item) for item in value]
        if key in LADDER_KEYS:
            return ("ladder", zero_runs_as_sets(value, items))
        return ("list", items)
    if isinstance(value, float):
        return ("float", "nan" if math.isnan(value) else value.hex())
    return (type(value).__name__, value)


def zero_runs_as_sets(levels, items):
    result, run = [], []
    for level, item in zip(levels, items, strict=True):
        if level["price"] == 0.0:
            run.append(item)
            continue
        if run:
            result.append(("zeros", sorted(map(repr, run))))
            run = []
        result.append(item)
    if run:
        result.append(("zeros", sorted(map(repr, run))))
    return result


@pytest.mark.slow
@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow,
                                                                    HealthCheck.data_too_large])
@given(STREAM)
def test_books_equal_the_model(lines):
    expected = list(model_books(lines))
    with tempfile.TemporaryDirectory() as folder:
        path = pathlib.Path(folder) / "stream.jsonl"
        path.write_text("\n".join(lines) + "\n", encoding="utf-8")
        kept = []
        for index, book in enumerate(quorvane.iter_prices_file(str(path))):
            result = book.to_dict()
            assert index < len(expected), "more books than the model"
            assert canonical(result) == canonical(expected[index]), f"book {index}"
            kept.append((book, result))
    assert len(kept) == len(expected)
    # Later steps replace objects, they never change them.
    for index, (book, result) in enumerate(kept):
        assert canonical(book.to_dict()) == canonical(result), f"kept book {index}"
