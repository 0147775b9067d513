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
reported as such. Runners are paired by ("selectionId", "handicap").

Values compare by value: betfairlightweight keeps the stream's integer
literals (a price of 7 is the int 7), quorvane's prices are floats.

betfairlightweight reads text files only, so a gzip recording (".gz" or
".gzip") is decompressed into a temporary file for it.

--model compares the pure-Python reference model of tests/python instead of
quorvane.
"""

import argparse
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


@dataclasses.dataclass
class Context:
    """What a known-difference rule may look at."""

    field: str  # the compared key, e.g. "availableToBack" or "runner order"
    ours_book: dict
    theirs_book: dict
    ours_runner: dict | None = None
    theirs_runner: dict | None = None

    @property
    def runner_field(self):
        return self.theirs_runner is not None


def _runner_key(runner):
    return (runner["selectionId"], float(runner["handicap"]))


# Market fields betfairlightweight takes from the latest definition alone.
DEFINITION_KEYS = {
    "status": "status", "inplay": "inPlay", "betDelay": "betDelay", "version": "version",
    "complete": "complete", "crossMatching": "crossMatching",
    "runnersVoidable": "runnersVoidable", "bspReconciled": "bspReconciled",
    "numberOfWinners": "numberOfWinners", "numberOfActiveRunners": "numberOfActiveRunners",
}
# Runner fields it takes from that definition's runner entry alone.
RUNNER_DEFINITION_KEYS = {"status", "adjustmentFactor", "removalDate"}


def _their_definition_value(c, key):
    """The value betfairlightweight's latest raw definition holds for a market key."""
    return c.theirs_book.get("marketDefinition", {}).get(key)


def _their_runner_definition_value(c, key):
    for entry in c.theirs_book.get("marketDefinition", {}).get("runners", []):
        if (entry.get("id"), float(entry.get("hc", 0))) == _runner_key(c.theirs_runner):
            return entry.get(key)
    return None


@dataclasses.dataclass(frozen=True)
class Rule:
    name: str
    reason: str
    applies: object  # (Context, ours, theirs) -> bool


KNOWN_DIFFERENCES = [
    Rule("runner order",
         "quorvane lists runners by (selection id, handicap); betfairlightweight in order of "
         "first appearance",
         lambda c, ours, theirs: c.field == "runner order" and ours == sorted(ours)
         and sorted(ours) == sorted(theirs)),
    Rule("active runner count",
         "quorvane counts the ACTIVE runners of its runner table after every change; "
         "betfairlightweight copies the definition's \"numberOfActiveRunners\"",
         lambda c, ours, theirs: c.field == "numberOfActiveRunners"
         and ours == sum(r["status"] == "ACTIVE" for r in c.ours_book["runners"])
         and _same(theirs, _their_definition_value(c, "numberOfActiveRunners"))),
    Rule("market fields from the definition only",
         "betfairlightweight shows the latest definition's value (None before the first one "
         "and after an \"img\" without one) and ignores these keys on the market change, "
         "where quorvane reads them after the definition; quorvane keeps merged values",
         lambda c, ours, theirs: not c.runner_field and c.field in DEFINITION_KEYS
         and _same(theirs, _their_definition_value(c, DEFINITION_KEYS[c.field]))),
    Rule("runner fields from the definition only",
         "betfairlightweight shows the latest definition's entry for the runner (None when "
         "it has none) and ignores these keys in \"rc\"; quorvane keeps the last value "
         "received from either, starting from \"ACTIVE\"",
         lambda c, ours, theirs: c.runner_field and c.field in RUNNER_DEFINITION_KEYS
         and _same(theirs, _their_runner_definition_value(c, c.field))),
    Rule("last match time",
         "betfairlightweight never fills \"lastMatchTime\"; quorvane takes the market "
         "change's \"lastMatchTime\"",
         lambda c, ours, theirs: c.field == "lastMatchTime" and theirs is None),
    Rule("best-display ladder",
         "betfairlightweight shows the \"bdatb\"/\"bdatl\" (or \"batb\"/\"batl\") levels "
         "when \"atb\"/\"atl\" left the ladder empty; quorvane reads \"atb\"/\"atl\" only",
         lambda c, ours, theirs: c.field in ("availableToBack", "availableToLay")
         and ours == [] and theirs != []),
    Rule("empty traded update",
         "betfairlightweight empties the traded ladder on \"trd\": []; for quorvane an "
         "empty list of deltas changes nothing",
         lambda c, ours, theirs: c.field == "tradedVolume" and theirs == [] and ours != []),
]


def _same(ours, theirs):
    if isinstance(ours, bool) or isinstance(theirs, bool):
        return type(ours) is type(theirs) and ours == theirs
    if isinstance(ours, (int, float)) and isinstance(theirs, (int, float)):
        return float(ours) == float(theirs)
    if isinstance(ours, list) and isinstance(theirs, list):
        return len(ours) == len(theirs) and all(map(_same, ours, theirs))
    if isinstance(ours, dict) and isinstance(theirs, dict):
        return ours.keys() == theirs.keys() and all(_same(ours[k], theirs[k]) for k in ours)
    return type(ours) is type(theirs) and ours == theirs


def _ladder(levels):
    return [(level["price"], level["size"]) for level in levels]


class Comparison:
    """Counts and differences of one file."""

    def __init__(self):
        self.books = 0
        self.fields = 0
        self.known = dict.fromkeys((rule.name for rule in KNOWN_DIFFERENCES), 0)
        self.unexplained = []

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
            self.check(Context(field, ours, theirs), field, index, ours[field], theirs[field])
        ours_runners = {_runner_key(r): r for r in ours["runners"]}
        theirs_runners = {_runner_key(r): r for r in theirs["runners"]}
        self.check(Context("runner order", ours, theirs), "runner order", index,
                   [_runner_key(r) for r in ours["runners"]],
                   [_runner_key(r) for r in theirs["runners"]])
        for key in sorted(ours_runners.keys() & theirs_runners.keys()):
            mine, other = ours_runners[key], theirs_runners[key]
            name = f"runner {key[0]}/{key[1]}"
            for field in RUNNER_FIELDS:
                self.check(Context(field, ours, theirs, mine, other), f"{name} {field}", index,
                           mine[field], other[field])
            for part, field in RUNNER_PARTS:
                ours_value, theirs_value = mine[part][field], other[part][field]
                if field in LADDER_FIELDS:
                    ours_value, theirs_value = _ladder(ours_value), _ladder(theirs_value)
                self.check(Context(field, ours, theirs, mine, other),
                           f"{name} {part}.{field}", index, ours_value, theirs_value)

    def unpaired(self, index, book, side):
        self.unexplained.append(Difference(index, book["publishTime"], f"book only in {side}",
                                           None, None))


def compare_streams(ours_books, theirs_lists):
    """Pairs quorvane's books with betfairlightweight's lists and compares them."""
    comparison = Comparison()
    ours_books = list(ours_books)
    market_id = ours_books[0]["marketId"] if ours_books else None
    theirs_books = [book for books in theirs_lists for book in books
                    if book["marketId"] == market_id]
    i = j = 0
    while i < len(ours_books) or j < len(theirs_books):
        ours = ours_books[i] if i < len(ours_books) else None
        theirs = theirs_books[j] if j < len(theirs_books) else None
        if ours is not None and theirs is not None \
                and ours["publishTime"] == theirs["publishTime"]:
            comparison.compare_books(i, ours, theirs)
            i, j = i + 1, j + 1
        elif theirs is None or (ours is not None and ours["publishTime"] < theirs["publishTime"]):
            comparison.unpaired(i, ours, "quorvane")
            i += 1
        else:
            comparison.unpaired(i, theirs, "betfairlightweight")
            j += 1
    return comparison


def is_gzip_name(path):
    name = os.path.basename(path)
    return name.rfind(".") > 0 and name.rpartition(".")[2] in ("gz", "gzip")


@contextlib.contextmanager
def text_copy(path):
    """A path betfairlightweight can open: the file itself, or its decompressed copy."""
    if not is_gzip_name(path):
        yield path
        return
    with tempfile.TemporaryDirectory() as folder:
        plain = os.path.join(folder, "recording")
        with gzip.open(path, "rb") as source, open(plain, "wb") as target:
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
    spec = importlib.util.spec_from_file_location("market_model", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def model_books(path):
    return list(load_model().model_books_from_file(path))


def compare_file(path, use_model=False):
    ours = model_books(path) if use_model else quorvane_books(path)
    return compare_streams(ours, betfairlightweight_books(path))


def report(path, comparison, side="quorvane", out=sys.stdout):
    print(f"{path}: {comparison.books} books compared, {comparison.fields} fields compared, "
          f"{len(comparison.unexplained)} unexplained differences", file=out)
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
