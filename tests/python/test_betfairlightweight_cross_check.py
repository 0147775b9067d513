"""Books of the real recordings against betfairlightweight's historical replay.

Both quorvane and the reference model are compared; every difference must be
one that examples/compare_with_betfairlightweight.py lists as known.
"""

import copy
import importlib.util
import json
import pathlib

import pytest
from conftest import SHARED_DATA, shared_data_missing

pytest.importorskip("betfairlightweight", reason="betfairlightweight is not installed")

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]
RECORDINGS = SHARED_DATA / "real"


def load_comparison():
    path = REPOSITORY / "examples" / "compare_with_betfairlightweight.py"
    found = importlib.util.spec_from_file_location("compare_with_betfairlightweight", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


compare = load_comparison()


def quorvane_has_books():
    try:
        import quorvane
    except ImportError:
        return False
    return hasattr(getattr(quorvane, "MarketBook", None), "to_dict")


SIDES = [
    "model",
    pytest.param("quorvane", marks=pytest.mark.skipif(
        not quorvane_has_books(), reason="quorvane has no MarketBook.to_dict yet")),
]


def recordings():
    if not RECORDINGS.is_dir():
        return [None]  # test_recording skips, or fails in CI
    return sorted(p.name for p in RECORDINGS.iterdir() if p.suffix != ".md")


def ours(side, path):
    return compare.model_books(path) if side == "model" else compare.quorvane_books(path)


def unexplained(comparison):
    shown = "\n".join(map(str, comparison.unexplained[:20]))
    return f"{len(comparison.unexplained)} unexplained differences:\n{shown}"


@pytest.mark.slow
@pytest.mark.parametrize("side", SIDES)
@pytest.mark.parametrize("name", recordings())
def test_recording(side, name, capsys):
    if name is None:
        shared_data_missing(f"shared recordings {RECORDINGS}")
    path = str(RECORDINGS / name)
    comparison = compare.compare_streams(ours(side, path), compare.betfairlightweight_books(path))
    known = {rule: count for rule, count in comparison.known.items() if count}
    # Shown also by a quiet run: how much the comparison covered.
    with capsys.disabled():
        print(f"\n{side} {name}: {comparison.books} books, {comparison.fields} fields compared; "
              f"known differences {known}")
    assert comparison.books > 0
    assert not comparison.unexplained, unexplained(comparison)


DEFINITION = {
    "status": "OPEN", "betDelay": 0, "version": 1, "complete": True, "inPlay": False,
    "crossMatching": True, "runnersVoidable": False, "bspReconciled": False,
    "numberOfWinners": 1, "numberOfActiveRunners": 3,
    "runners": [{"id": 3, "sortPriority": 1, "status": "ACTIVE", "adjustmentFactor": 50.0},
                {"id": 1, "sortPriority": 2, "status": "ACTIVE"},
                {"id": 2, "sortPriority": 3, "status": "ACTIVE"}],
}
WITHOUT_FACTOR = dict(DEFINITION, runners=[
    {key: value for key, value in entry.items() if key != "adjustmentFactor"}
    for entry in DEFINITION["runners"]])


def line(pt, **market_change):
    return json.dumps({"op": "mcm", "pt": pt, "mc": [{"id": "1.1", **market_change}]})


# Streams that provoke one known difference each, besides the runner order.
PROVOKED = [
    ("active runner count", [line(1, marketDefinition=dict(DEFINITION, numberOfActiveRunners=7))]),
    ("market fields from the definition only", [
        line(1, marketDefinition=DEFINITION), line(2, status="SUSPENDED", inPlay=True)]),
    ("market fields from the definition only", [
        line(1, rc=[{"id": 3, "ltp": 2.0}]), line(2, marketDefinition=DEFINITION)]),
    ("market fields from the definition only", [
        line(1, marketDefinition=DEFINITION), line(2, img=True, rc=[{"id": 3, "ltp": 2.0}])]),
    ("runner fields from the definition only", [
        line(1, marketDefinition=DEFINITION), line(2, marketDefinition=WITHOUT_FACTOR)]),
    ("runner fields from the definition only", [
        line(1, marketDefinition=DEFINITION), line(2, rc=[{"id": 3, "status": "REMOVED"}])]),
    ("runner fields from the definition only", [
        line(1, marketDefinition=DEFINITION), line(2, rc=[{"id": 4, "ltp": 2.0}])]),
    ("last match time", [line(1, marketDefinition=DEFINITION, lastMatchTime=5)]),
    ("best-display ladder", [
        line(1, marketDefinition=DEFINITION), line(2, rc=[{"id": 3, "bdatb": [[0, 2.0, 9.0]]}])]),
    ("empty traded update", [
        line(1, marketDefinition=DEFINITION), line(2, rc=[{"id": 3, "trd": [[2.0, 5.0]]}]),
        line(3, rc=[{"id": 3, "trd": []}]), line(4, rc=[{"id": 3, "trd": [[3.0, 1.0]]}])]),
]


def replay(tmp_path, side, lines):
    path = tmp_path / "stream.jsonl"
    path.write_text("\n".join(lines) + "\n")
    return ours(side, str(path)), compare.betfairlightweight_books(str(path))


@pytest.mark.parametrize("side", SIDES)
@pytest.mark.parametrize(("rule", "lines"), PROVOKED)
def test_known_difference(tmp_path, side, rule, lines):
    comparison = compare.compare_streams(*replay(tmp_path, side, lines))
    assert not comparison.unexplained, unexplained(comparison)
    assert comparison.known[rule] > 0
    assert comparison.known["runner order"] > 0


def test_every_rule_is_provoked():
    provoked = {rule for rule, _ in PROVOKED} | {"runner order"}
    assert provoked == {rule.name for rule in compare.KNOWN_DIFFERENCES}


def spoil(books, change):
    books = copy.deepcopy(books)
    change(books)
    return books


def by_id(book, selection_id):
    [found] = [r for r in book["runners"] if r["selectionId"] == selection_id]
    return found


@pytest.mark.parametrize(("change", "where"), [
    (lambda b: by_id(b[1], 1).update(lastPriceTraded=9.5), "runner 1/0.0 lastPriceTraded"),
    (lambda b: by_id(b[1], 1).update(status="REMOVED"), "runner 1/0.0 status"),
    (lambda b: by_id(b[1], 3).update(adjustmentFactor=None), "runner 3/0.0 adjustmentFactor"),
    (lambda b: by_id(b[1], 3)["ex"]["tradedVolume"].clear(), "runner 3/0.0 ex.tradedVolume"),
    (lambda b: by_id(b[1], 3)["ex"]["availableToLay"].reverse(), "runner 3/0.0 ex.availableToLay"),
    (lambda b: by_id(b[1], 3)["sp"].update(nearPrice="2.0"), "runner 3/0.0 sp.nearPrice"),
    (lambda b: b[0].update(inplay=1), "inplay"),
    (lambda b: b[0].update(status="SUSPENDED"), "status"),
    (lambda b: b[1].update(totalMatched=1.0), "totalMatched"),
    (lambda b: b[1].update(lastMatchTime=8), "lastMatchTime"),
    (lambda b: b[1].update(numberOfActiveRunners=2), "numberOfActiveRunners"),
    (lambda b: b[1]["runners"].reverse(), "runner order"),
    (lambda b: b[1]["runners"].pop(), "runner order"),
    (lambda b: b[1].update(publishTime=3), "book only in quorvane"),
    (lambda b: b.pop(), "book only in betfairlightweight"),
])
def test_differences_are_found(tmp_path, change, where):
    lines = [line(1, marketDefinition=DEFINITION),
             line(2, tv=4.5, rc=[{"id": 1, "ltp": 3.0},
                                 {"id": 3, "atl": [[3.0, 1.0], [4.0, 2.0]], "trd": [[3.0, 1.5]],
                                  "spn": 2.0}])]
    model, theirs = replay(tmp_path, "model", lines)
    assert not compare.compare_streams(model, theirs).unexplained
    comparison = compare.compare_streams(spoil(model, change), theirs)
    assert where in [difference.where for difference in comparison.unexplained]
