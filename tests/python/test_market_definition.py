"""The definition classes and when a book gets a new definition object."""

import datetime

import pytest

import quorvane
from streams import books, change, message, one_per_change

DEFINITION_ATTRIBUTES = [
    "event_id", "event_type_id", "event_name", "market_type", "country_code", "venue", "race_type", "name",
    "timezone", "betting_type", "regulators", "runners", "market_time", "open_date", "suspend_time",
    "settled_time", "bsp_market", "persistence_enabled", "each_way_divisor", "turn_in_play_enabled",
    "discount_allowed", "market_base_rate", "bet_delay", "number_of_winners", "number_of_active_runners",
    "bsp_reconciled", "complete", "cross_matching", "in_play", "runners_voidable", "status", "version",
    "bet_delay_models", "key_line_definitions", "line_interval", "line_max_unit", "line_min_unit",
    "price_ladder_definition", "suspend_reason",
]
ALWAYS_NONE = DEFINITION_ATTRIBUTES[-7:]
RUNNER_ATTRIBUTES = ["selection_id", "sort_priority", "status", "handicap", "adjustment_factor", "removal_date",
                     "name", "bsp"]

FULL_DEFINITION = {
    "eventId": "30366300", "eventTypeId": "7", "eventName": "Ham 18th Mar", "marketType": "WIN",
    "countryCode": "GB", "venue": "Hamilton", "raceType": "Flat", "name": "1m Hcap", "timezone": "Europe/London",
    "bettingType": "ODDS", "regulators": ["MR_INT", "GBR_GC"], "marketTime": "2021-03-18T13:20:00.000Z",
    "openDate": "2021-03-18T13:00:00.000Z", "suspendTime": "2021-03-18T13:20:00.000Z",
    "settledTime": "2021-03-18T13:25:31.000Z", "bspMarket": True, "persistenceEnabled": False,
    "eachWayDivisor": 4.0, "turnInPlayEnabled": True, "discountAllowed": True, "marketBaseRate": 5.0,
    "betDelay": 1, "numberOfWinners": 2, "bspReconciled": True, "complete": False, "crossMatching": False,
    "inPlay": True, "runnersVoidable": True, "status": "SUSPENDED", "version": 3717263416,
    "runners": [
        {"id": 2, "sortPriority": 1, "status": "ACTIVE", "hc": -0.5, "adjustmentFactor": 35.7, "name": "Bold Arrow",
         "bsp": 2.86},
        {"id": 1, "sortPriority": 2, "status": "REMOVED", "removalDate": "2021-03-18T13:20:00.000Z", "bsp": "NaN"},
        7,
    ],
}


@pytest.fixture
def definition(tmp_path):
    (book,) = one_per_change(tmp_path, change(definition=FULL_DEFINITION))
    return book.market_definition


@pytest.mark.parametrize(("cls", "doc", "attributes"), [
    (quorvane.MarketDefinition, "Market definition - metadata about the market", DEFINITION_ATTRIBUTES),
    (quorvane.MarketDefinitionRunner, "A runner in a market definition", RUNNER_ATTRIBUTES),
])
def test_classes(cls, doc, attributes):
    assert (cls.__module__, cls.__doc__) == ("builtins", doc)
    assert [a for a in vars(cls) if not a.startswith("__")] == attributes
    with pytest.raises(TypeError) as raised:
        cls()
    assert str(raised.value) == f"No constructor defined for {cls.__name__}"


def test_values(definition):
    d = definition
    assert (d.event_id, d.event_type_id, d.event_name, d.market_type) == ("30366300", "7", "Ham 18th Mar", "WIN")
    assert (d.country_code, d.venue, d.race_type, d.name) == ("GB", "Hamilton", "Flat", "1m Hcap")
    assert (d.timezone, d.betting_type, d.regulators) == ("Europe/London", "ODDS", ["MR_INT", "GBR_GC"])
    assert (d.market_time, d.open_date, d.suspend_time, d.settled_time) == (
        datetime.datetime(2021, 3, 18, 13, 20), datetime.datetime(2021, 3, 18, 13, 0),
        datetime.datetime(2021, 3, 18, 13, 20), datetime.datetime(2021, 3, 18, 13, 25, 31))
    assert (d.bsp_market, d.persistence_enabled, d.each_way_divisor, d.turn_in_play_enabled) == (True, False, 4.0, True)
    assert (d.discount_allowed, d.market_base_rate, d.bet_delay, d.number_of_winners) == (True, 5.0, 1, 2)
    assert (d.bsp_reconciled, d.complete, d.cross_matching, d.in_play, d.runners_voidable) == (
        True, False, False, True, True)
    assert (d.status, d.version) == ("SUSPENDED", 3717263416)
    # The cache's count of ACTIVE records, not a key of the definition.
    assert d.number_of_active_runners == 1
    for attribute in ALWAYS_NONE:
        assert getattr(d, attribute) is None


def test_runner_entries(definition):
    runners = definition.runners
    assert [type(r) for r in runners] == [quorvane.MarketDefinitionRunner] * 3
    first, second, not_an_object = runners
    assert [getattr(first, a) for a in RUNNER_ATTRIBUTES] == [2, 1, "ACTIVE", -0.5, 35.7, None, "Bold Arrow", 2.86]
    assert [getattr(second, a) for a in RUNNER_ATTRIBUTES] == [
        1, 2, "REMOVED", 0.0, None, "2021-03-18T13:20:00.000Z", None, None]
    assert type(second.removal_date) is str
    assert [getattr(not_an_object, a) for a in RUNNER_ATTRIBUTES] == [0, 0, "ACTIVE", 0.0, None, None, None, None]


def test_defaults_before_any_key(tmp_path):
    (book,) = one_per_change(tmp_path, change(definition={}))
    d = book.market_definition
    assert d.runners == [] and d.regulators == []
    texts = DEFINITION_ATTRIBUTES[:10] + ["market_time", "open_date", "suspend_time", "settled_time", "each_way_divisor"]
    assert [getattr(d, a) for a in texts] == [None] * len(texts)
    assert (d.status, d.complete, d.cross_matching, d.persistence_enabled, d.number_of_winners) == (
        "OPEN", True, True, True, 1)
    assert (d.bsp_market, d.market_base_rate, d.version, d.bet_delay) == (False, 0.0, 0, 0)


def test_attribute_kinds(definition):
    regulators = definition.regulators
    assert regulators is not definition.regulators
    regulators.append("X")
    assert definition.regulators == ["MR_INT", "GBR_GC"]
    runners = definition.runners
    assert runners is definition.runners
    runners.append("seen by later reads")
    assert definition.runners[-1] == "seen by later reads"
    assert definition.market_time is definition.market_time
    assert definition.name is not definition.name  # converted at every read
    for attribute in ["name", "runners", "status", "market_time"]:
        with pytest.raises(AttributeError):
            setattr(definition, attribute, None)
    entry = runners[0]
    with pytest.raises(AttributeError):
        entry.name = "x"


def test_descriptor_refuses_other_types(definition):
    with pytest.raises(TypeError):
        quorvane.MarketDefinition.name.__get__(definition.runners[0])


def test_lifecycle(tmp_path):
    got = books(
        tmp_path,
        message(1, change(tv=1.0)),                                     # no definition yet
        message(2, change(definition={"marketTime": "2021-03-18T13:20:00Z", "name": "A"})),
        message(3, change(tv=2.0, status="SUSPENDED", inPlay=True)),    # market level only
        message(4, change(definition={"marketTime": "2021-03-18T13:20:00Z", "name": "A"})),  # unchanged
        message(5, change(definition={"name": "B"}), change(definition={"venue": "Ascot"})),  # two in one step
        message(6, change(definition=None)),                            # not an object: still a new definition
        message(7),                                                     # empty change list
    )
    definitions = [b.market_definition for b in got]
    assert definitions[0] is None
    assert definitions[2] is definitions[1]
    assert definitions[6] is definitions[5]
    distinct = [definitions[i] for i in (1, 3, 4, 5)]
    assert len({id(d) for d in distinct}) == 4
    # Market-level changes show on the book, not on the definition built before them.
    assert (got[2].status, got[2].inplay) == ("SUSPENDED", True)
    assert (definitions[2].status, definitions[2].in_play) == ("OPEN", False)
    assert definitions[3].status == "SUSPENDED"  # copied when the next definition came
    # Definitions merge: later ones keep what they do not mention.
    assert (definitions[4].name, definitions[4].venue) == ("B", "Ascot")
    assert definitions[4].market_time == datetime.datetime(2021, 3, 18, 13, 20)
    assert (definitions[1].name, definitions[1].venue) == ("A", None)
    assert definitions[3].market_time is not definitions[1].market_time


def test_runners_follow_the_latest_definition(tmp_path):
    first, second = one_per_change(
        tmp_path,
        change(definition={"runners": [{"id": 5, "sortPriority": 2}, {"id": 4, "sortPriority": 1}]}),
        change(definition={"regulators": ["MR_INT"]}),
    )
    # The definition's own order, not the book's.
    assert [r.selection_id for r in first.market_definition.runners] == [5, 4]
    assert [r.selection_id for r in first.runners] == [4, 5]
    assert second.market_definition.runners is not first.market_definition.runners
    assert [r.selection_id for r in second.market_definition.runners] == [5, 4]
    assert second.market_definition.regulators == ["MR_INT"]
