"""Long runs keep memory flat and every reference the module takes is given
back: loading, iterating and exporting the same recording many times, the
reference counts of objects shared between books, and a memcheck run."""

import gc
import os
import pathlib
import shutil
import subprocess
import sys
import tracemalloc
import xml.etree.ElementTree as ElementTree

import pytest

import quorvane
from book_snapshot import QUORVANE_TYPES, attribute_names, snapshot
from conftest import SHARED_DATA, shared_data_missing
from streams import generate

ROOT = pathlib.Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "data" / "sample.jsonl"
REAL_RECORDINGS = ["1.197931750", "BASIC-1.132153978", "BASIC-1.132153978.gz"]
# ASan keeps freed memory in quarantine and valgrind cannot run under it.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")
HAS_TO_DICT = hasattr(quorvane.MarketBook, "to_dict")
WARM_UP_RUNS, MEASURED_RUNS = 10, 30


@pytest.fixture(params=["sample", "generated", *REAL_RECORDINGS])
def recording(request, tmp_path_factory):
    if request.param == "sample":
        return str(SAMPLE)
    if request.param == "generated":
        return generate(tmp_path_factory.mktemp("generated"), runners=12, messages=1500, depth=8, seed=5)
    path = SHARED_DATA / "real" / request.param
    if not path.is_file():
        shared_data_missing(f"shared recording {path}")
    return str(path)


def replay(path, export):
    """One whole use of a recording: load, step to the end, read every book."""
    count = 0
    for book in quorvane.iter_prices_file(path):
        for runner in book.runners:
            runner.ex.available_to_back, runner.ex.traded_volume, runner.sp.near_price
        if export:
            book.to_dict()
        count += 1
    return count


EXPORT = [
    pytest.param(False, id="iterate"),
    pytest.param(True, id="to_dict", marks=pytest.mark.skipif(not HAS_TO_DICT, reason="MarketBook.to_dict not built yet")),
]


@pytest.mark.slow
@pytest.mark.parametrize("export", EXPORT)
def test_traced_memory_stays_flat(recording, export):
    tracemalloc.start()
    try:
        before_one = tracemalloc.get_traced_memory()[0]
        tracemalloc.reset_peak()
        replay(recording, export)
        one_run = tracemalloc.get_traced_memory()[1] - before_one
        for _ in range(WARM_UP_RUNS - 1):
            replay(recording, export)
        gc.collect()
        start = tracemalloc.get_traced_memory()[0]
        for _ in range(MEASURED_RUNS):
            replay(recording, export)
        gc.collect()
        growth = tracemalloc.get_traced_memory()[0] - start
    finally:
        tracemalloc.stop()
    # A leak of one object per run would show as MEASURED_RUNS of them.
    assert one_run > 0
    assert growth < max(one_run // 20, 4096), f"grew {growth} bytes over {MEASURED_RUNS} runs of {one_run}"


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.slow
@pytest.mark.skipif(UNDER_ASAN, reason="ASan's quarantine holds freed memory")
@pytest.mark.parametrize("export", EXPORT)
def test_resident_memory_stays_flat(recording, export):
    # One run's footprint: everything of it alive at once, the iterator included.
    before = resident_bytes()
    it = quorvane.iter_prices_file(recording)
    books = list(it)
    footprint = resident_bytes() - before
    del it, books
    for _ in range(WARM_UP_RUNS):
        replay(recording, export)
    start = resident_bytes()
    for _ in range(MEASURED_RUNS):
        replay(recording, export)
    growth = resident_bytes() - start
    assert growth < max(footprint // 4, 1 << 20), f"grew {growth} bytes over {MEASURED_RUNS} runs of {footprint}"


def stored_values(obj):
    """What an object holds: a list's items, or the attribute values it keeps
    (the same object on every read). An attribute built anew on every read is
    looked through: its parts are held by `obj`."""
    if isinstance(obj, list):
        return list(obj)
    if not isinstance(obj, QUORVANE_TYPES):
        return []
    held = []
    for name in attribute_names(type(obj)):
        value = getattr(obj, name)
        held += [value] if value is getattr(obj, name) else stored_values(value)
    return held


def reachable(book):
    """Every mortal object stored below a book: the objects books share."""
    found, pending = {}, stored_values(book)
    while pending:
        obj = pending.pop()
        if id(obj) not in found and sys.getrefcount(obj) < 1 << 30:
            found[id(obj)] = obj
            pending += stored_values(obj)
    return list(found.values())


def count_holders(objects):
    """How many times each object is held by the others. A ladder list is
    held once: by the ladder snapshot that every ExchangePrices showing that
    list shares."""
    held = {id(o): 0 for o in objects}
    ladder_lists = set()
    for holder in objects:
        for value in stored_values(holder):
            if id(value) not in held:
                continue
            if isinstance(holder, quorvane.ExchangePrices):
                if id(value) in ladder_lists:
                    continue
                ladder_lists.add(id(value))
            held[id(value)] += 1
    return held


def test_shared_references_come_back(recording):
    it = quorvane.iter_prices_file(recording)
    books = list(it)
    picked = list({id(o): o for i in (0, len(books) // 2, -1) for o in reachable(books[i])}.values())
    # Shared objects are held once per holder: several books and the cache.
    assert max(sys.getrefcount(o) for o in picked) > 3
    snapshots = repr([snapshot(o) for o in picked])
    held = count_holders(picked)
    del it, books
    gc.collect()
    # Now only `picked` and the picked objects that hold them do (the loop
    # variable and getrefcount's argument add two).
    assert [sys.getrefcount(o) for o in picked] == [3 + held[id(o)] for o in picked]
    assert repr([snapshot(o) for o in picked]) == snapshots


def test_books_outlive_their_iterator(recording):
    it = quorvane.iter_prices_file(recording)
    books = [book for book, _ in zip(it, range(200))]
    snapshots = [snapshot(book) for book in books]
    del it
    gc.collect()
    assert [snapshot(book) for book in books] == snapshots


VALGRIND_REPLAY = """
import sys, quorvane
for book in quorvane.iter_prices_file(sys.argv[1]):
    for runner in book.runners:
        runner.ex.available_to_back, runner.sp.near_price
    if hasattr(book, "to_dict"):
        book.to_dict()
"""


def is_ours(error, module_file):
    """Memory errors are ours when our module is on the stack. A leak is ours
    when our module made the allocation: one of our frames comes before the
    first frame of Python code, which the interpreter's own leaks (modules
    that stay imported at exit) always have."""
    frames = error.find("stack").findall("frame")
    if not error.findtext("kind").startswith("Leak_"):
        return any(frame.findtext("obj") == module_file for frame in frames)
    for frame in frames:
        if frame.findtext("obj") == module_file:
            return True
        if (frame.findtext("fn") or "").startswith("_PyEval_EvalFrame"):
            return False
    return False


@pytest.mark.slow
@pytest.mark.skipif(shutil.which("valgrind") is None, reason="valgrind is not installed")
@pytest.mark.skipif(UNDER_ASAN, reason="valgrind cannot run a sanitized interpreter")
def test_memcheck_finds_nothing_in_our_frames(tmp_path):
    recording = SHARED_DATA / "real" / "BASIC-1.132153978.gz"
    if not recording.is_file():
        recording = SAMPLE
    report = tmp_path / "memcheck.xml"
    module_file = os.path.realpath(quorvane.__file__)
    subprocess.run(
        ["valgrind", "--tool=memcheck", "--leak-check=full", "--show-leak-kinds=definite",
         "--errors-for-leak-kinds=definite", "--num-callers=40", "--xml=yes", f"--xml-file={report}",
         sys.executable, "-c", VALGRIND_REPLAY, str(recording)],
        check=True, env={**os.environ, "PYTHONMALLOC": "malloc"}, capture_output=True, timeout=900,
    )
    errors = ElementTree.parse(report).getroot().findall("error")
    assert any(e.findtext("kind").startswith("Leak_") for e in errors), "the interpreter's own leaks must show"
    ours = [e.findtext("kind") + ": " + (e.findtext("what") or e.findtext("xwhat/text") or "")
            for e in errors if is_ours(e, module_file)]
    assert ours == []


def test_price_sizes_kept_from_dropped_ladders_stay_intact(tmp_path):
    # Dead PriceSize objects are recycled for new ladders; those still held
    # must never be among them.
    path = generate(tmp_path, runners=10, messages=400, depth=30)
    kept = []
    for book in quorvane.iter_prices_file(path):
        for runner in book.runners:
            for ladder in (runner.ex.available_to_back, runner.ex.traded_volume):
                if ladder:
                    kept.append((ladder[-1], ladder[-1].price, ladder[-1].size))
        del book
    assert len(kept) > 1000
    assert all(type(level) is quorvane.PriceSize for level, _, _ in kept)
    assert [(level.price, level.size) for level, _, _ in kept] == [(price, size) for _, price, size in kept]
