"""A plain-Python model of quorvane's market cache and of MarketBook.to_dict().

Written for clarity, not speed: it is the yardstick the native module is
compared against. `model_books(lines)` takes the lines of a stream file and
yields, per step, the dict that `book.to_dict()` returns for that step.

What the model leaves out: the datetime objects (to_dict carries epoch
milliseconds and the texts as received, so it assumes every definition time
text parses), object reuse (it changes identities, never values) and the
order of the price levels 0.0 and -0.0 in one ladder, which is left open.
Lines are assumed to be JSON the native parser accepts; Python's extras
(NaN, Infinity, numbers that overflow to infinity) are refused here too.
"""

import copy
import json
import math
import os
import struct
import zlib

INT64_MIN, INT64_MAX = -(2**63), 2**63 - 1
UINT64_MAX = 2**64 - 1

# Unicode White_Space; str.isspace() also counts U+001C..U+001F.
WHITE_SPACE = frozenset(
    "\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006"
    "\u2007\u2008\u2009\u200a\u2028\u2029\u202f\u205f\u3000"
)


# --- JSON as the native parser holds it -------------------------------------


def _parse_int(literal):
    # Integer literals become int only where a 64-bit form holds them.
    if literal == "-0":
        return -0.0
    value = int(literal)
    if 0 <= value <= UINT64_MAX or INT64_MIN <= value < 0:
        return value
    return float(literal)


def _parse_float(literal):
    value = float(literal)
    if not math.isfinite(value):
        raise ValueError(f"number out of range: {literal}")
    return value


def _refuse_constant(name):
    raise ValueError(f"expected value: {name}")


def parse_line(line):
    return json.loads(
        line, parse_int=_parse_int, parse_float=_parse_float, parse_constant=_refuse_constant
    )


# --- the five readings; None means "counts as absent" -----------------------


def read_integer(value):
    return value if type(value) is int and INT64_MIN <= value <= INT64_MAX else None


def read_number(value):
    return float(value) if type(value) in (int, float) else None


def read_string(value):
    return value if type(value) is str else None


def read_boolean(value):
    return value if type(value) is bool else None


def read_array(value):
    return value if type(value) is list else None


def read_object(value):
    return value if type(value) is dict else None


def int32(value):
    return (value + 2**31) % 2**32 - 2**31


def sp_value(value):
    """A starting-price value: number, verbatim text, or absent."""
    number = read_number(value)
    return number if number is not None else read_string(value)


def handicap_key(handicap):
    scaled = handicap * 100.0
    if math.isnan(scaled):
        return 0
    if math.isinf(scaled):
        return INT64_MAX if scaled > 0 else INT64_MIN
    rounded = math.trunc(scaled)
    if abs(scaled - rounded) >= 0.5:  # half away from zero
        rounded += 1 if scaled > 0 else -1
    return max(INT64_MIN, min(INT64_MAX, rounded))


# --- lines into stored messages ---------------------------------------------


def select_line_message(value):
    """(market_changes, pt) for a line worth keeping, else None."""
    if read_object(value) is None or not value:
        return None
    pt = read_integer(value.get("pt")) or 0
    if read_array(value.get("mc")) is not None:
        market_changes = list(value["mc"])
    elif "marketDefinition" in value or "rc" in value:
        market_changes = [value]
    else:
        return None
    return (market_changes, pt) if pt >= 1 else None


def stored_messages(lines):
    messages = []
    for line in lines:
        if all(char in WHITE_SPACE for char in line):
            continue
        message = select_line_message(parse_line(line))
        if message is not None:
            messages.append(message)
    return messages


# --- the cache ----------------------------------------------------------------


class Ladder:
    """Price levels keyed by the exact bits of the price; no level of size 0."""

    def __init__(self, descending):
        self.levels = {}  # bits -> (price, size)
        self.descending = descending

    def apply(self, pairs):
        changed = False
        for pair in pairs:
            if type(pair) is not list or len(pair) < 2:
                continue
            price = read_number(pair[0])
            price = 0.0 if price is None else price
            size = read_number(pair[1])
            bits = struct.pack("<d", price)
            if size is not None and size != 0.0:
                old = self.levels.get(bits)
                changed |= old is None or old[1] != size
                self.levels[bits] = (price, size)
            elif bits in self.levels:
                del self.levels[bits]
                changed = True
        return changed

    def sorted_levels(self):
        return sorted(self.levels.values(), key=lambda level: level[0], reverse=self.descending)


class Runner:
    def __init__(self, selection_id, handicap):
        self.selection_id = selection_id
        self.handicap = handicap
        self.status = "ACTIVE"
        self.adjustment_factor = None
        self.removal_date = None
        self.last_price_traded = None
        self.total_matched = 0.0
        self.available_to_back = Ladder(descending=True)
        self.available_to_lay = Ladder(descending=False)
        self.traded_volume = Ladder(descending=False)
        self.starting_price_back = Ladder(descending=True)
        self.starting_price_lay = Ladder(descending=False)
        self.near_price = self.far_price = self.bsp = None
        self.version = 0


# (stream key, field, reading, the field's value before the stream gives one)
DEFINITION_FIELDS = [
    ("status", "status", read_string, "OPEN"),
    ("betDelay", "bet_delay", read_integer, 0),
    ("bspReconciled", "bsp_reconciled", read_boolean, False),
    ("complete", "complete", read_boolean, True),
    ("crossMatching", "cross_matching", read_boolean, True),
    ("inPlay", "inplay", read_boolean, False),
    ("runnersVoidable", "runners_voidable", read_boolean, False),
    ("numberOfWinners", "number_of_winners", read_integer, 1),
    ("eventId", "event_id", read_string, None),
    ("eventTypeId", "event_type_id", read_string, None),
    ("eventName", "event_name", read_string, None),
    ("marketType", "market_type", read_string, None),
    ("marketTime", "market_time", read_string, None),
    ("countryCode", "country_code", read_string, None),
    ("venue", "venue", read_string, None),
    ("raceType", "race_type", read_string, None),
    ("bspMarket", "bsp_market", read_boolean, False),
    ("persistenceEnabled", "persistence_enabled", read_boolean, True),
    ("eachWayDivisor", "each_way_divisor", read_number, None),
    ("timezone", "timezone", read_string, None),
    ("turnInPlayEnabled", "turn_in_play_enabled", read_boolean, False),
    ("bettingType", "betting_type", read_string, None),
    ("name", "name", read_string, None),
    ("discountAllowed", "discount_allowed", read_boolean, False),
    ("marketBaseRate", "market_base_rate", read_number, 0.0),
    ("openDate", "open_date", read_string, None),
    ("suspendTime", "suspend_time", read_string, None),
    ("settledTime", "settled_time", read_string, None),
    ("version", "version", read_integer, 0),
]

# Market-change keys, applied after the definition so that they win.
MARKET_CHANGE_FIELDS = DEFINITION_FIELDS[:7] + [
    ("tv", "total_matched", read_number, 0.0),
    ("version", "version", read_integer, 0),
    ("lastMatchTime", "last_match_time", read_integer, None),
]

INT32_FIELDS = {"bet_delay", "number_of_winners"}


class Market:
    def __init__(self, market_id):
        self.market_id = market_id
        self.publish_time = 0
        for _, field, _, initial in DEFINITION_FIELDS + MARKET_CHANGE_FIELDS:
            setattr(self, field, initial)
        self.number_of_runners = self.number_of_active_runners = 0
        self.regulators = []
        self.runner_definitions = []  # one dict per element of the latest "runners"
        self.definition_version = 0
        self.runners = {}  # (selection id, handicap key) -> Runner

    def _set_fields(self, source, table):
        for key, field, reading, _ in table:
            value = reading(source.get(key))
            if value is not None:
                setattr(self, field, int32(value) if field in INT32_FIELDS else value)

    def _find_runner(self, change):
        selection_id = read_integer(change.get("id"))
        handicap = read_number(change.get("hc"))
        handicap = 0.0 if handicap is None else handicap
        key = (selection_id, handicap_key(handicap))
        if key not in self.runners:
            self.runners[key] = Runner(selection_id, handicap)
        return self.runners[key]

    def apply(self, change, pt):
        self.publish_time = pt
        if read_object(change) is not None:
            if change.get("img") is True:
                self.runners.clear()
            if "marketDefinition" in change:
                self._apply_definition(change["marketDefinition"])
            self._set_fields(change, MARKET_CHANGE_FIELDS)
            for runner_change in read_array(change.get("rc")) or []:
                if read_object(runner_change) is not None and \
                        read_integer(runner_change.get("id")) is not None:
                    self._apply_runner_change(runner_change)
        self.number_of_runners = len(self.runners)
        self.number_of_active_runners = sum(r.status == "ACTIVE" for r in self.runners.values())

    def _apply_definition(self, definition):
        self.definition_version += 1
        if read_object(definition) is None:
            return
        self._set_fields(definition, DEFINITION_FIELDS)
        regulators = read_array(definition.get("regulators"))
        if regulators is not None:
            self.regulators = [text for text in regulators if type(text) is str]
        runners = read_array(definition.get("runners"))
        if runners is None:
            return
        self.runner_definitions = [definition_runner(element) for element in runners]
        for element in runners:
            if read_object(element) is not None and read_integer(element.get("id")) is not None:
                self._apply_definition_runner(element)

    def _apply_definition_runner(self, element):
        runner = self._find_runner(element)
        status = read_string(element.get("status"))
        if status is not None:
            runner.status = status
        runner.bsp = sp_value(element.get("bsp"))
        adjustment_factor = read_number(element.get("adjustmentFactor"))
        if adjustment_factor is not None:
            runner.adjustment_factor = adjustment_factor
        removal_date = read_string(element.get("removalDate"))
        if removal_date is not None:
            runner.removal_date = removal_date
        runner.version += 1

    def _apply_runner_change(self, change):
        runner = self._find_runner(change)
        changed = False
        for key, field, reading in (("status", "status", read_string),
                                    ("adjustmentFactor", "adjustment_factor", read_number),
                                    ("ltp", "last_price_traded", read_number),
                                    ("tv", "total_matched", read_number),
                                    ("removalDate", "removal_date", read_string)):
            value = reading(change.get(key))
            if value is not None and value != getattr(runner, field):
                setattr(runner, field, value)
                changed = True
        for key, ladder in (("spb", runner.starting_price_back),
                            ("spl", runner.starting_price_lay),
                            ("atb", runner.available_to_back),
                            ("atl", runner.available_to_lay),
                            ("trd", runner.traded_volume)):
            pairs = read_array(change.get(key))
            if pairs is not None:
                changed |= ladder.apply(pairs)
        # A starting-price key counts as a change even when it repeats the value.
        if "spn" in change:
            runner.near_price = sp_value(change["spn"])
            changed = True
        if "spf" in change:
            runner.far_price = sp_value(change["spf"])
            changed = True
        if changed:
            runner.version += 1


def definition_runner(element):
    """The definition-runner dict that to_dict shows for one element of "runners"."""
    element = element if read_object(element) is not None else {}
    selection_id = read_integer(element.get("id"))
    sort_priority = read_integer(element.get("sortPriority"))
    status = read_string(element.get("status"))
    entry = {
        "id": 0 if selection_id is None else selection_id,
        "sortPriority": 0 if sort_priority is None else int32(sort_priority),
        "status": "ACTIVE" if status is None else status,
    }
    adjustment_factor = read_number(element.get("adjustmentFactor"))
    if adjustment_factor is not None:
        entry["adjustmentFactor"] = adjustment_factor
    name = read_string(element.get("name"))
    if name is not None:
        entry["name"] = name
    handicap = read_number(element.get("hc"))
    if handicap is not None and handicap != 0.0:
        entry["hc"] = handicap
    removal_date = read_string(element.get("removalDate"))
    if removal_date is not None:
        entry["removalDate"] = removal_date
    bsp = read_number(element.get("bsp"))
    if bsp is not None:
        entry["bsp"] = bsp
    return entry


# --- what to_dict returns -----------------------------------------------------


def definition_dict(market):
    m = market
    return {
        "betDelay": m.bet_delay, "bettingType": m.betting_type, "bspMarket": m.bsp_market,
        "bspReconciled": m.bsp_reconciled, "complete": m.complete,
        "countryCode": m.country_code, "crossMatching": m.cross_matching,
        "discountAllowed": m.discount_allowed, "eventId": m.event_id,
        "eventName": m.event_name, "eventTypeId": m.event_type_id, "inPlay": m.inplay,
        "marketBaseRate": m.market_base_rate, "marketTime": m.market_time,
        "marketType": m.market_type, "name": m.name,
        "numberOfActiveRunners": m.number_of_active_runners,
        "numberOfWinners": m.number_of_winners, "openDate": m.open_date,
        "persistenceEnabled": m.persistence_enabled, "regulators": list(m.regulators),
        "runners": copy.deepcopy(m.runner_definitions),
        "runnersVoidable": m.runners_voidable, "status": m.status,
        "suspendTime": m.suspend_time, "timezone": m.timezone,
        "turnInPlayEnabled": m.turn_in_play_enabled, "venue": m.venue, "version": m.version,
    }


def price_dicts(ladder):
    return [{"price": price, "size": size} for price, size in ladder.sorted_levels()]


def runner_dict(runner):
    return {
        "selectionId": runner.selection_id,
        "handicap": runner.handicap,
        "status": runner.status,
        "adjustmentFactor": runner.adjustment_factor,
        "lastPriceTraded": runner.last_price_traded,
        "totalMatched": runner.total_matched,
        "removalDate": runner.removal_date,
        "ex": {
            "availableToBack": price_dicts(runner.available_to_back),
            "availableToLay": price_dicts(runner.available_to_lay),
            "tradedVolume": price_dicts(runner.traded_volume),
        },
        "sp": {
            "nearPrice": runner.near_price,
            "farPrice": runner.far_price,
            "actualSP": runner.bsp,
            "backStakeTaken": price_dicts(runner.starting_price_lay),
            "layLiabilityTaken": price_dicts(runner.starting_price_back),
        },
    }


def book_dict(market, definition):
    m = market
    book = {
        "marketId": m.market_id, "status": m.status, "betDelay": m.bet_delay,
        "bspReconciled": m.bsp_reconciled, "complete": m.complete,
        "crossMatching": m.cross_matching, "inplay": m.inplay,
        "numberOfActiveRunners": m.number_of_active_runners,
        "numberOfRunners": m.number_of_runners, "numberOfWinners": m.number_of_winners,
        "runnersVoidable": m.runners_voidable, "totalMatched": m.total_matched,
        "version": m.version, "lastMatchTime": m.last_match_time,
        "publishTime": m.publish_time,
        "runners": [runner_dict(m.runners[key]) for key in sorted(m.runners)],
    }
    if definition is not None:
        book["marketDefinition"] = copy.deepcopy(definition)
    return book


def model_books(lines):
    """Yields, per step of iter_prices_file over these lines, book.to_dict().

    A step whose message leaves the iterator without a market yields nothing
    and the next message goes on; it does not end the iteration.
    """
    market = None
    definition, definition_version = None, 0
    for market_changes, pt in stored_messages(lines):
        for change in market_changes:
            if market is None and read_object(change) is not None:
                market_id = read_string(change.get("id"))
                if market_id:
                    market = Market(market_id)
            if market is not None:
                market.apply(change, pt)
        if market is None:
            continue
        # The snapshot is taken after the whole message, once per new definition.
        if market.definition_version != definition_version:
            definition, definition_version = definition_dict(market), market.definition_version
        yield book_dict(market, definition)


def read_lines(path):
    """The lines of a stream file, plain or gzip by the file name's extension."""
    name = os.path.basename(os.fspath(path))
    extension = name.rpartition(".")[2] if name.rfind(".") > 0 else ""
    with open(path, "rb") as source:
        data = source.read()
    if extension in ("gz", "gzip"):
        # One gzip member; whatever follows it is ignored.
        decoder = zlib.decompressobj(wbits=31)
        data = decoder.decompress(data)
        if not decoder.eof:
            raise ValueError("unexpected end of file")
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return [line.removesuffix(b"\r").decode("utf-8") for line in lines]


def model_books_from_file(path):
    return model_books(read_lines(path))
