"""Replays recordings with quorvane and with betfairlightweight and compares the books.

    python examples/compare_with_betfairlightweight.py FILE... [--model]

Every book that quorvane yields (``book.to_dict()``) is paired with one
market book of betfairlightweight's historical stream (lightweight mode), and
the fields both produce are compared. Differences that follow from quorvane's
own rules are listed in KNOWN_DIFFERENCES and counted per rule; every other
difference is printed. The exit status is 1 when any file shows one.

Pairing. betfairlightweight yields, per line that holds market changes, a
list with one book per market it has seen so far; quorvane yields one book
per stored message, and keeps one market per file. From each list we take the
book of quorvane's market (the first market id of the file) and walk both
sequences in order: books with equal "publishTime" are paired; a book whose
publish time is below the other side's next one has no partner and is
reported as such. Runners are paired by ("selectionId", "handicap"). A file
with several markets is out of reach: quorvane applies them all to its one
market, and the other markets' books of betfairlightweight are only named.

Some rules check quorvane's value against what the stream said; the stream
is followed through the market change betfairlightweight keeps with each
book ("streaming_update"), which is the last one of its line for the market.

Values compare by value: betfairlightweight keeps the stream's integer
literals (a price of 7 is the int 7), quorvane's prices are floats.

betfairlightweight reads text files only, so a gzip (".gz" or ".gzip") or
bzip2 (".bz2") recording is decompressed into a temporary file for it.

--model compares the pure-Python reference model of tests/python instead of
quorvane.
"""

import argparse
import bz2
import contextlib
import dataclasses
import gzip
import importlib.util
import os
import pathlib
import shutil
import sys
import tempfile

REPOSITORY = pathlib.Path(__file__).resolve().parents[1]

MARKET_FIELDS = [
    "marketId", "status", "inplay", "betDelay", "version", "complete", "crossMatching",
    "runnersVoidable", "bspReconciled", "numberOfWinners", "numberOfRunners",
    "numberOfActiveRunners", "totalMatched", "lastMatchTime", "publishTime",
]
RUNNER_FIELDS = ["status", "adjustmentFactor", "lastPriceTraded", "totalMatched", "removalDate"]
RUNNER_PARTS = [
    ("ex", "availableToBack"), ("ex", "availableToLay"), ("ex", "tradedVolume"),
    ("sp", "nearPrice"), ("sp", "farPrice"), ("sp", "actualSP"),
    ("sp", "backStakeTaken"), ("sp", "layLiabilityTaken"),
]
LADDER_FIELDS = {"availableToBack", "availableToLay", "tradedVolume",
                 "backStakeTaken", "layLiabilityTaken"}


@dataclasses.dataclass
class Difference:
    book: int  # index of quorvane's book in its file
    publish_time: int
    where: str  # "marketId", "runner 123/0.0 ex.availableToBack", ...
    ours: object
    theirs: object

    def __str__(self):
        return (f"book {self.book} (publishTime {self.publish_time}) {self.where}: "
                f"quorvane {self.ours!r}, betfairlightweight {self.theirs!r}")


def _runner_key(runner):
    return (runner["selectionId"], float(runner["handicap"]))


def _is_int(value):
    return type(value) is int


def _is_number(value):
    return type(value) in (int, float)


def _is_text(value):
    return type(value) is str


def _is_flag(value):
    return type(value) is bool


# Market fields betfairlightweight takes from the latest definition alone:
# book key -> (stream key, kind, quorvane's value before the stream gives one).
DEFINITION_FIELDS = {
    "status": ("status", _is_text, "OPEN"),
    "inplay": ("inPlay", _is_flag, False),
    "betDelay": ("betDelay", _is_int, 0),
    "version": ("version", _is_int, 0),
    "complete": ("complete", _is_flag, True),
    "crossMatching": ("crossMatching", _is_flag, True),
    "runnersVoidable": ("runnersVoidable", _is_flag, False),
    "bspReconciled": ("bspReconciled", _is_flag, False),
    "numberOfWinners": ("numberOfWinners", _is_int, 1),
}
ONLY_IN_DEFINITIONS = {"numberOfWinners"}
# Runner fields it takes from the latest definition's runner entry alone.
RUNNER_DEFINITION_FIELDS = {
    "status": (_is_text, "ACTIVE"),
    "adjustmentFactor": (_is_number, None),
    "removalDate": (_is_text, None),
}


class StreamFacts:
    """The latest values the stream gave, followed through the market change that
    betfairlightweight hands back with each book ("streaming_update")."""

    def __init__(self):
        self.market = {field: initial for field, (_, _, initial) in DEFINITION_FIELDS.items()}
        self.market["lastMatchTime"] = None
        self.runners = {}  # (selection id, handicap) -> {field: value, "keys": rc keys seen}

    def runner(self, key):
        if key not in self.runners:
            self.runners[key] = {field: initial
                                 for field, (_, initial) in RUNNER_DEFINITION_FIELDS.items()}
            self.runners[key]["keys"] = set()
        return self.runners[key]

    def _runner_of(self, entry):
        if not isinstance(entry, dict) or not _is_int(entry.get("id")):
            return None
        handicap = entry.get("hc", 0)
        return self.runner((entry["id"], float(handicap) if _is_number(handicap) else 0.0))

    def _take_runner(self, entry):
        runner = self._runner_of(entry)
        if runner is None:
            return None
        for field, (kind, _) in RUNNER_DEFINITION_FIELDS.items():
            if kind(entry.get(field)):
                runner[field] = entry[field]
        return runner

    def follow(self, book):
        change = book.get("streaming_update")
        if not isinstance(change, dict):
            return
        if change.get("img") is True:
            self.runners.clear()
        definition = change.get("marketDefinition")
        sources = [(definition, set())] if isinstance(definition, dict) else []
        sources.append((change, ONLY_IN_DEFINITIONS))
        for source, skipped in sources:
            for field, (key, kind, _) in DEFINITION_FIELDS.items():
                if field not in skipped and kind(source.get(key)):
                    self.market[field] = source[key]
        if _is_int(change.get("lastMatchTime")):
            self.market["lastMatchTime"] = change["lastMatchTime"]
        if isinstance(definition, dict) and isinstance(definition.get("runners"), list):
            for entry in definition["runners"]:
                self._take_runner(entry)
        for entry in change.get("rc", []) if isinstance(change.get("rc"), list) else []:
            runner = self._take_runner(entry)
            if runner is not None:
                runner["keys"].update(key for key, value in entry.items() if value != [])
                runner["keys"].update(f"empty {key}" for key, value in entry.items()
                                      if value == [])


@dataclasses.dataclass
class Context:
    """What a known-difference rule may look at."""

    field: str  # the compared key, e.g. "availableToBack" or "runner order"
    ours_book: dict
    theirs_book: dict
    facts: StreamFacts
    ours_runner: dict | None = None
    theirs_runner: dict | None = None

    @property
    def runner_field(self):
        return self.theirs_runner is not None

    def their_definition(self, key):
        """What betfairlightweight's latest raw definition holds for a market key."""
        return self.theirs_book.get("marketDefinition", {}).get(key)

    def their_runner_definition(self, key):
        for entry in self.theirs_book.get("marketDefinition", {}).get("runners", []):
            if (entry.get("id"), float(entry.get("hc", 0))) == _runner_key(self.theirs_runner):
                return entry.get(key)
        return None

    def runner_facts(self):
        return self.facts.runner(_runner_key(self.theirs_runner))


@dataclasses.dataclass(frozen=True)
class Rule:
    name: str
    reason: str
    applies: object  # (Context, ours, theirs) -> bool


def _levels_within(theirs, ours):
    return set(map(tuple, theirs)) <= set(map(tuple, ours))


KNOWN_DIFFERENCES = [
    Rule("runner order",
         "quorvane lists runners by (selection id, handicap); betfairlightweight in order of "
         "first appearance",
         lambda c, ours, theirs: c.field == "runner order" and ours == sorted(ours)
         and sorted(ours) == sorted(theirs)),
    Rule("active runner count",
         "quorvane counts the ACTIVE runners of its runner table after every change; "
         "betfairlightweight copies the definition's \"numberOfActiveRunners\"",
         lambda c, ours, theirs: not c.runner_field and c.field == "numberOfActiveRunners"
         and ours == sum(r["status"] == "ACTIVE" for r in c.ours_book["runners"])
         and _same(theirs, c.their_definition("numberOfActiveRunners"))),
    Rule("market fields from the definition only",
         "betfairlightweight shows the latest definition's value (None before the first one, "
         "for a key it left out, and after an \"img\" without one) and ignores the key on "
         "the market change; quorvane shows the latest value the stream gave",
         lambda c, ours, theirs: not c.runner_field and c.field in DEFINITION_FIELDS
         and _same(theirs, c.their_definition(DEFINITION_FIELDS[c.field][0]))
         and _same(ours, c.facts.market[c.field])),
    Rule("runner fields from the definition only",
         "betfairlightweight shows the latest definition's entry for the runner (None where "
         "it has none) and ignores these keys in \"rc\"; quorvane shows the latest value "
         "the stream gave, \"ACTIVE\" before any",
         lambda c, ours, theirs: c.runner_field and c.field in RUNNER_DEFINITION_FIELDS
         and _same(theirs, c.their_runner_definition(c.field))
         and _same(ours, c.runner_facts()[c.field])),
    Rule("last match time",
         "betfairlightweight never fills \"lastMatchTime\"; quorvane takes the market "
         "change's \"lastMatchTime\"",
         lambda c, ours, theirs: c.field == "lastMatchTime" and theirs is None
         and ours == c.facts.market["lastMatchTime"]),
    Rule("best-display ladder",
         "betfairlightweight shows the \"bdatb\"/\"bdatl\" (or \"batb\"/\"batl\") levels "
         "when \"atb\"/\"atl\" left the ladder empty; quorvane reads \"atb\"/\"atl\" only",
         lambda c, ours, theirs: ours == [] and theirs != [] and (
             (c.field == "availableToBack" and {"bdatb", "batb"} & c.runner_facts()["keys"])
             or (c.field == "availableToLay" and {"bdatl", "batl"} & c.runner_facts()["keys"]))),
    Rule("empty traded update",
         "betfairlightweight empties the traded ladder on \"trd\": [] and rebuilds it from "
         "later deltas; for quorvane an empty list of deltas changes nothing",
         lambda c, ours, theirs: c.field == "tradedVolume"
         and "empty trd" in c.runner_facts()["keys"] and _levels_within(theirs, ours)),
]


def _same(ours, theirs):
    if isinstance(ours, bool) or isinstance(theirs, bool):
        return type(ours) is type(theirs) and ours == theirs
    if isinstance(ours, (int, float)) and isinstance(theirs, (int, float)):
        return float(ours) == float(theirs)
    if isinstance(ours, (list, tuple)) and isinstance(theirs, (list, tuple)):
        return len(ours) == len(theirs) and all(map(_same, ours, theirs))
    if isinstance(ours, dict) and isinstance(theirs, dict):
        return ours.keys() == theirs.keys() and all(_same(ours[k], theirs[k]) for k in ours)
    return type(ours) is type(theirs) and ours == theirs


def _ladder(levels):
    return [(level["price"], level["size"]) for level in levels]


class Comparison:
    """Counts and differences of one file."""

    def __init__(self):
        self.facts = StreamFacts()
        self.books = 0
        self.fields = 0
        self.known = dict.fromkeys((rule.name for rule in KNOWN_DIFFERENCES), 0)
        self.unexplained = []
        self.other_markets = set()

    def check(self, context, where, index, ours, theirs):
        self.fields += 1
        if _same(ours, theirs):
            return
        for rule in KNOWN_DIFFERENCES:
            if rule.applies(context, ours, theirs):
                self.known[rule.name] += 1
                return
        self.unexplained.append(
            Difference(index, context.ours_book["publishTime"], where, ours, theirs))

    def compare_books(self, index, ours, theirs):
        self.books += 1
        for field in MARKET_FIELDS:
            self.check(Context(field, ours, theirs, self.facts), field, index,
                       ours[field], theirs[field])
        ours_runners = {_runner_key(r): r for r in ours["runners"]}
        theirs_runners = {_runner_key(r): r for r in theirs["runners"]}
        self.check(Context("runner order", ours, theirs, self.facts), "runner order", index,
                   [_runner_key(r) for r in ours["runners"]],
                   [_runner_key(r) for r in theirs["runners"]])
        for key in sorted(ours_runners.keys() & theirs_runners.keys()):
            mine, other = ours_runners[key], theirs_runners[key]
            name = f"runner {key[0]}/{key[1]}"
            for field in RUNNER_FIELDS:
                self.check(Context(field, ours, theirs, self.facts, mine, other),
                           f"{name} {field}", index, mine[field], other[field])
            for part, field in RUNNER_PARTS:
                ours_value, theirs_value = mine[part][field], other[part][field]
                if field in LADDER_FIELDS:
                    ours_value, theirs_value = _ladder(ours_value), _ladder(theirs_value)
                self.check(Context(field, ours, theirs, self.facts, mine, other),
                           f"{name} {part}.{field}", index, ours_value, theirs_value)

    def unpaired(self, index, book, side):
        self.unexplained.append(Difference(index, book["publishTime"], f"book only in {side}",
                                           None, None))


def compare_streams(ours_books, theirs_lists):
    """Pairs quorvane's books with betfairlightweight's lists and compares them."""
    comparison = Comparison()
    ours_books = list(ours_books)
    market_id = ours_books[0]["marketId"] if ours_books else None
    theirs_lists = list(theirs_lists)
    theirs_books = [book for books in theirs_lists for book in books
                    if book["marketId"] == market_id]
    comparison.other_markets = {book["marketId"] for books in theirs_lists
                                for book in books} - {market_id}
    i = j = 0
    while i < len(ours_books) or j < len(theirs_books):
        ours = ours_books[i] if i < len(ours_books) else None
        theirs = theirs_books[j] if j < len(theirs_books) else None
        if ours is not None and theirs is not None \
                and ours["publishTime"] == theirs["publishTime"]:
            comparison.facts.follow(theirs)
            comparison.compare_books(i, ours, theirs)
            i, j = i + 1, j + 1
        elif theirs is None or (ours is not None and ours["publishTime"] < theirs["publishTime"]):
            comparison.unpaired(i, ours, "quorvane")
            i += 1
        else:
            comparison.facts.follow(theirs)
            comparison.unpaired(i, theirs, "betfairlightweight")
            j += 1
    return comparison


def decompressor(path):
    """gzip.open or bz2.open when quorvane reads the file through it (by its
    name's extension, case-sensitive), else None."""
    name = os.path.basename(path)
    extension = name.rpartition(".")[2] if name.rfind(".") > 0 else None
    return {"gz": gzip.open, "gzip": gzip.open, "bz2": bz2.open}.get(extension)


@contextlib.contextmanager
def text_copy(path):
    """A path betfairlightweight can open: the file itself, or its decompressed copy."""
    open_compressed = decompressor(path)
    if open_compressed is None:
        yield path
        return
    with tempfile.TemporaryDirectory() as folder:
        plain = os.path.join(folder, "recording")
        with open_compressed(path, "rb") as source, open(plain, "wb") as target:
            shutil.copyfileobj(source, target)
        yield plain


def betfairlightweight_books(path):
    """The lists of market-book dicts betfairlightweight yields for a recording."""
    import betfairlightweight

    client = betfairlightweight.APIClient("username", "password", app_key="appkey")
    listener = betfairlightweight.StreamListener(max_latency=None, lightweight=True,
                                                 update_clk=False)
    with text_copy(path) as plain:
        stream = client.streaming.create_historical_generator_stream(
            file_path=plain, listener=listener)
        return list(stream.get_generator()())


def quorvane_books(path):
    import quorvane

    return [book.to_dict() for book in quorvane.iter_prices_file(path)]


def load_model():
    path = REPOSITORY / "tests" / "python" / "market_model.py"
    found = importlib.util.spec_from_file_location("market_model", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def model_books(path):
    return list(load_model().model_books_from_file(path))


def compare_file(path, use_model=False):
    ours = model_books(path) if use_model else quorvane_books(path)
    return compare_streams(ours, betfairlightweight_books(path))


def report(path, comparison, side="quorvane", out=sys.stdout):
    print(f"{path}: {comparison.books} books compared, {comparison.fields} fields compared, "
          f"{len(comparison.unexplained)} unexplained differences", file=out)
    if comparison.other_markets:
        print(f"  not compared: markets {sorted(comparison.other_markets)}", file=out)
    for name, count in comparison.known.items():
        if count:
            print(f"  known: {name}: {count}", file=out)
    for difference in comparison.unexplained:
        print(f"  {str(difference).replace('quorvane', side, 1)}", file=out)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("files", nargs="+", metavar="FILE")
    parser.add_argument("--model", action="store_true",
                        help="compare the reference model instead of quorvane")
    args = parser.parse_args(argv)
    print("known differences (not reported one by one):")
    for rule in KNOWN_DIFFERENCES:
        print(f"  {rule.name}: {rule.reason}")
    clean = True
    for path in args.files:
        comparison = compare_file(path, args.model)
        report(path, comparison, "model" if args.model else "quorvane")
        clean &= not comparison.unexplained
    return 0 if clean else 1


if __name__ == "__main__":
    sys.exit(main())
