#!/usr/bin/env python3
"""quorvane's benchmark suite: every figure beside the limit it is measured against, in one run.

Files: the real recordings in ../shared/data/real (when present) and the generated markets
of data/large (by default small and medium; written by scripts/make_bench_data.sh when
missing), plain and gzip, and a bzip2 copy of the first size.

load: `iter_prices_file` (MB/s of uncompressed stream data) against simdjson's DOM parse of
the same lines, measured by the C++ benchmark quorvane_json_parse_bench (`--dom-bench`) in
rounds that alternate with the loads: a plain file at least 1.0x the DOM rate, a gzip file
at least 0.85x its plain twin's load, bz2 (libbz2's speed) without a goal. In a fresh
process, the memory the loaded iterator holds, at most 1.5x the file, and the peak during
the load.

replay: quorvane's full replay (load and iterate every book) and a strategy loop (the best
back and lay price of every runner of every book), each next to betfairlightweight's
historical replay of the same file in lightweight mode (dicts) and in object mode (with the
same reads on its MarketBook objects), as speed-ups: betfairlightweight's median wall time
over quorvane's, at least 15x its dicts and 60x its objects on every plain or gzip file of
1 MB or more. Runs alternate between the two sides, so that a busy machine slows both
alike. Each side's runs per file stop at a time budget, and the "runs" columns say how many
each median took; one timed loop that passes its cap is stopped and extrapolated.
betfairlightweight reads text only, so a compressed file reaches it decompressed, outside
its timing, and files of the same content share its runs.

to_dict: `to_dict()` of every book against `orjson.loads` building the same tree again
from its JSON (dumped outside the timing), once per content: at most 0.8x.

step: the cost of one step in markets of 10, 40 and 200 runners whose messages change
nothing or one runner's "atb" ladder, per step and per runner; no goal.

The tables are printed as markdown; the figures go to bench/results/ as JSON, with the
same tables beside them as .md. `--render` prints the tables of a saved run again, and with
`--readme` writes them into README.md's performance section instead.

    python bench/bench.py [--quick] [--runs 5] [--peer-runs 5] [--sizes small,medium,large]
    python bench/bench.py --render bench/results/bench-....json [--readme README.md]
"""

from __future__ import annotations

import argparse
import bz2
import contextlib
import ctypes
import dataclasses
import datetime
import gc
import gzip
import hashlib
import itertools
import json
import os
import platform
import resource
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
REAL_DIR = ROOT.parent / "shared" / "data" / "real"
LARGE_DIR = ROOT / "data" / "large"
RESULTS_DIR = ROOT / "bench" / "results"
SIZES = ("small", "medium", "large")

DEFAULT_SIZES = ("small", "medium")  # large takes betfairlightweight minutes a run
DOM_BENCH = ROOT / "build" / "bench" / "quorvane_json_parse_bench"

# The goals, saved with every run and judged from its figures when the tables are drawn.
GOALS = {
    "load_vs_dom": 1.0,  # a plain file's load rate / simdjson DOM's rate of its lines, at least
    "gzip_vs_plain": 0.85,  # a gzip file's load rate / its plain twin's, at least; bz2 has none
    "held_x_file": 1.5,  # memory the loaded iterator holds / the uncompressed file, at most
    # betfairlightweight's replay time / quorvane's, at least, on plain and gzip files of
    # replay_min_bytes or more: bz2 decompresses at libbz2's speed, and a small file's figures
    # are mostly fixed costs.
    "replay_vs_dicts": 15.0, "replay_vs_objects": 60.0, "replay_min_bytes": 1_000_000,
    "to_dict_vs_orjson": 0.8,  # to_dict()'s time / orjson.loads' for the same trees, at most
}
# The speed-ups of the replay table: quorvane's measure, betfairlightweight's.
SPEEDUP_PARTS = {"replay_vs_dicts": ("replay", "dicts"), "replay_vs_objects": ("replay", "objects"),
                 "strategy_vs_objects": ("strategy", "objects_reading")}
STEPS = ("unchanged", "one runner atb")
STEP_RUNNERS = (10, 40, 200)

# Small files load in about a millisecond: repeat them until the timings cover this long.
MIN_TIMED_SECONDS = 0.5
MAX_LOAD_RUNS = 500
MAX_REPLAY_RUNS = 30


def import_quorvane():
    try:
        import quorvane
    except ImportError as error:
        sys.exit(f"bench.py: cannot import quorvane ({error}); build it first with `make build`")
    return quorvane


def import_peers():
    sys.path.insert(0, str(ROOT / "bench"))
    try:
        import peers
    except ImportError as error:
        note(f"betfairlightweight is not importable ({error}); the comparison is left out")
        return None
    return peers


def note(text: str) -> None:
    """Progress and notes go to stderr: stdout carries the tables alone."""
    print(text, file=sys.stderr, flush=True)


# Files

@dataclasses.dataclass
class BenchFile:
    label: str
    path: Path
    kind: str  # plain, gzip or bz2
    size: int  # uncompressed bytes
    content: str  # digest of the uncompressed bytes: files that share it share the peer's runs


def kind_of(path: Path) -> str:
    if path.suffix == ".bz2":
        return "bz2"
    return "gzip" if path.suffix in (".gz", ".gzip") else "plain"


def uncompressed_chunks(path: Path):
    # Every member of a gzip file and every stream of a bzip2 file, as the reader takes them.
    opener = {"plain": open, "gzip": gzip.open, "bz2": bz2.open}[kind_of(path)]
    with opener(path, "rb") as file:
        yield from iter(lambda: file.read(1 << 20), b"")


def bench_file(label: str, path: Path) -> BenchFile:
    digest, size = hashlib.blake2b(digest_size=16), 0
    for chunk in uncompressed_chunks(path):
        digest.update(chunk)
        size += len(chunk)
    return BenchFile(label, path, kind_of(path), size, digest.hexdigest())


def bz2_copy(plain: Path) -> Path:
    """A bzip2 copy of a generated file (one stream, level 9), written when missing or stale."""
    path = plain.with_name(plain.name + ".bz2")
    if not path.exists() or path.stat().st_mtime < plain.stat().st_mtime:
        temporary = path.with_name(path.name + ".tmp")
        temporary.write_bytes(bz2.compress(plain.read_bytes()))
        temporary.replace(path)
    return path


def bench_files(given: list[Path], sizes: list[str]) -> list[BenchFile]:
    if given:
        paths = [(f"{path.name}", path) for path in given]
    elif REAL_DIR.is_dir():
        paths = [(f"real/{p.name}", p) for p in sorted(REAL_DIR.iterdir())
                 if p.is_file() and p.suffix != ".md"]
    else:
        note(f"note: {REAL_DIR} is missing; the real recordings are left out")
        paths = []
    if sizes:
        env = dict(os.environ, PYTHON=sys.executable)
        subprocess.run([str(ROOT / "scripts" / "make_bench_data.sh"), *sizes], check=True, env=env,
                       stdout=sys.stderr)
        for size in sizes:
            for suffix in (".jsonl", ".jsonl.gz"):
                paths.append((f"{size}{suffix}", LARGE_DIR / f"{size}{suffix}"))
        compressed = bz2_copy(LARGE_DIR / f"{sizes[0]}.jsonl")
        paths.append((compressed.name, compressed))
    return [bench_file(label, path) for label, path in paths]


# Load speed and memory. The files of one content load in rounds: in every round the C++
# benchmark's DOM parse of the plain file, then each file's loads for about
# LOAD_ROUND_SECONDS, in turn first and last, so that a burst of other work on the machine
# falls on both sides alike.

LOAD_ROUND_SECONDS = 0.2


def by_content(files: list[BenchFile]) -> list[list[BenchFile]]:
    groups: dict[str, list[BenchFile]] = {}
    for file in files:
        groups.setdefault(file.content, []).append(file)
    return list(groups.values())


def load_timings(quorvane, path: Path, loads: int) -> list[float]:
    timings = []
    gc.collect()
    gc.disable()
    try:
        # Untimed, as the DOM benchmark warms up before its timing: the round before ran
        # the other side's process, which left the caches cold.
        quorvane.iter_prices_file(str(path))
        for _ in range(loads):
            started = time.perf_counter()
            prices = quorvane.iter_prices_file(str(path))
            timings.append(time.perf_counter() - started)
            del prices
    finally:
        gc.enable()
    return timings


def dom_seconds(dom_bench: Path, path: Path) -> tuple[float, dict]:
    """Seconds of simdjson's DOM parse of every line of a file, and the benchmark's context
    (simdjson's version and the kernels it chose for this CPU among them)."""
    run = subprocess.run([str(dom_bench), "--benchmark_filter=^dom/", "--benchmark_format=json",
                          f"--benchmark_min_time={LOAD_ROUND_SECONDS}", str(path)],
                         capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"bench.py: {dom_bench.name} failed on {path}:\n{run.stderr}")
    report = json.loads(run.stdout)
    (result,) = report["benchmarks"]
    if "error_message" in result:
        sys.exit(f"bench.py: {dom_bench.name} on {path}: {result['error_message']}")
    unit = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[result["time_unit"]]
    return result["real_time"] * unit, report["context"]


def load_section(quorvane, files: list[BenchFile], runs: int, dom_bench: Path | None) -> tuple[list[dict], dict]:
    """The load rows, and the DOM benchmark's context."""
    rows, context = [], {}
    for group in by_content(files):
        plain = next((file for file in group if file.kind == "plain"), None)
        messages, loads, dom = {}, {}, []
        timings: dict[str, list[float]] = {file.label: [] for file in group}
        for file in group:
            started = time.perf_counter()
            messages[file.label] = len(quorvane.iter_prices_file(str(file.path)))  # warms the page cache too
            first = time.perf_counter() - started
            loads[file.label] = max(1, min(MAX_LOAD_RUNS, int(LOAD_ROUND_SECONDS / max(first, 1e-6))))
        for round_ in range(runs):
            note(f"load: {', '.join(file.label for file in group)}, round {round_ + 1} of {runs}")
            if plain and dom_bench:
                seconds, context = dom_seconds(dom_bench, plain.path)
                dom.append(seconds)
            # The file loaded first follows the other side's process, which leaves the machine
            # colder than any warm-up load undoes: the order turns round from round to round.
            for file in group if round_ % 2 == 0 else reversed(group):
                timings[file.label] += load_timings(quorvane, file.path, loads[file.label])
        for file in group:
            memory = memory_in_fresh_process(file.path)
            if memory["messages"] != messages[file.label]:
                sys.exit(f"bench.py: {file.label} gave {messages[file.label]} and {memory['messages']} messages")
            seconds = statistics.median(timings[file.label])
            dom_median = statistics.median(dom) if dom and file.kind == "plain" else None
            size = max(file.size, 1)
            rows.append({
                "file": file.label, "kind": file.kind, "content": file.content,
                "uncompressed_bytes": file.size, "messages": messages[file.label],
                "runs": len(timings[file.label]), "rounds": runs, "median_seconds": seconds,
                "mb_per_s": file.size / 1e6 / seconds,
                "dom_runs": len(dom) if dom_median else 0, "dom_seconds": dom_median,
                "dom_mb_per_s": file.size / 1e6 / dom_median if dom_median else None,
                "held_bytes": memory["held_bytes"], "peak_bytes": memory["peak_bytes"],
                "code_bytes": memory["code_bytes"], "held_ratio": memory["held_bytes"] / size,
                "peak_ratio": memory["peak_bytes"] / size})
    order = {file.label: index for index, file in enumerate(files)}
    return sorted(rows, key=lambda row: order[row["file"]]), context


# Memory. tracemalloc sees only Python's allocator, not the module's native one, so the
# figures are the growth of the process's anonymous resident memory (/proc/self/statm:
# resident less file-backed pages), taken in a fresh interpreter: a process that has loaded
# and freed files before keeps freed pages and would show too little. The first load also
# pages in the code of the module and its libraries, file-backed pages that the process maps
# once whatever it loads; they are reported apart as code bytes. malloc_trim hands back the
# pages that the load used only in passing (line buffers, the parser's tree) before the held
# reading, and those pages are what the peak shows on top: the high-water mark of the
# resident set (VmHWM, reset to the current size just before the load) less the resident
# set before it and the code pages.

def resident_bytes() -> tuple[int, int]:
    """Anonymous and file-backed resident bytes."""
    with open("/proc/self/statm") as statm:
        fields = statm.read().split()
    page = os.sysconf("SC_PAGE_SIZE")
    resident, file_backed = int(fields[1]) * page, int(fields[2]) * page
    return resident - file_backed, file_backed


def peak_resident_bytes() -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def reset_peak() -> None:
    try:
        with open("/proc/self/clear_refs", "w") as clear_refs:
            clear_refs.write("5")
    except OSError:
        pass  # the peak then covers the start-up too, which only shows a larger figure


def release_free_heap() -> None:
    trim = getattr(ctypes.CDLL(None), "malloc_trim", None)
    if trim is not None:
        trim(0)


def memory_here(path: str) -> dict:
    quorvane = import_quorvane()
    gc.collect()
    release_free_heap()
    anonymous, file_backed = resident_bytes()
    reset_peak()
    prices = quorvane.iter_prices_file(path)
    peak = peak_resident_bytes()
    gc.collect()
    release_free_heap()
    anonymous_after, file_backed_after = resident_bytes()
    code = file_backed_after - file_backed
    return {"held_bytes": anonymous_after - anonymous, "code_bytes": code,
            "peak_bytes": peak - anonymous - file_backed - code,
            "messages": len(prices)}


def memory_in_fresh_process(path: Path) -> dict:
    child = subprocess.run([sys.executable, __file__, "--memory", str(path)],
                           check=True, capture_output=True, text=True)
    return json.loads(child.stdout)


# Replays. Every loop below is timed from the `iter_prices_file` call to the last book, with
# the collector on, as a user's program runs; so is betfairlightweight's side. A loop that
# runs past its cap is stopped, and its time is extrapolated over the books it did not
# reach, marked "~" in the tables.

CAP_CHECK_BOOKS = 1024


def capped(books, seconds: float):
    """The items of `books` until `seconds` from now have passed, the clock read once every
    CAP_CHECK_BOOKS items (two C iterators in between, the same on both sides)."""
    deadline = time.perf_counter() + seconds
    source = iter(books)

    def chunks():
        while time.perf_counter() < deadline:
            for first in source:  # one item, to see the end of the source
                yield itertools.chain((first,), itertools.islice(source, CAP_CHECK_BOOKS - 1))
                break
            else:
                return

    return itertools.chain.from_iterable(chunks())


def replay(quorvane, path: str, cap: float) -> tuple[float, float, int]:
    """Seconds of the load, seconds of loading and iterating the books, and the books."""
    books = 0
    started = time.perf_counter()
    prices = quorvane.iter_prices_file(path)
    loaded = time.perf_counter()
    for _book in capped(prices, cap - (loaded - started)):
        books += 1
    return loaded - started, time.perf_counter() - started, books


def replay_strategy(quorvane, path: str, cap: float) -> tuple[float, int]:
    """A strategy's reads: the best back and lay price of every runner of every book."""
    books = 0
    started = time.perf_counter()
    for book in capped(quorvane.iter_prices_file(path), cap):
        for runner in book.runners:
            back, lay = runner.ex.available_to_back, runner.ex.available_to_lay
            best_back = back[0].price if back else None
            best_lay = lay[0].price if lay else None
        books += 1
    return time.perf_counter() - started, books


class Timings:
    """The timings of one measure; those of stopped runs are extrapolated to every book."""

    def __init__(self):
        self.seconds, self.estimated = [], False

    def add(self, seconds: float, books: int, total: int) -> None:
        if 0 < books < total:
            seconds, self.estimated = seconds * total / books, True
        self.seconds.append(seconds)

    def median(self) -> float | None:
        return statistics.median(self.seconds) if self.seconds else None

    def __len__(self):
        return len(self.seconds)


def speedup(ours: float | None, theirs: float | None) -> float | None:
    return theirs / ours if ours and theirs else None


def runs_within(runs: int, budget: float, first_run: float, first_replay: float) -> int:
    """Runs for a file: at least `runs`, more while a short file's replays cover less than
    MIN_TIMED_SECONDS, and no more than fit in the budget after the first (at least one)."""
    wanted = max(runs, min(MAX_REPLAY_RUNS, int(MIN_TIMED_SECONDS / max(first_replay, 1e-9))))
    return max(1, min(wanted, int(budget / max(first_run, 1e-9))))


def our_run(quorvane, file: BenchFile, mine: dict, cap: float) -> float:
    """One run of each of quorvane's measures; returns its seconds."""
    started = time.perf_counter()
    path = str(file.path)
    gc.collect()
    load, seconds, books = replay(quorvane, path, cap)
    if not mine["books"]:
        if books == 0 or seconds >= cap:
            sys.exit(f"bench.py: {file.label}: the first full replay must finish within the cap")
        mine["books"] = books
    mine["load"].add(load, 1, 1)
    mine["replay"].add(seconds, books, mine["books"])
    gc.collect()
    mine["strategy"].add(*replay_strategy(quorvane, path, cap), mine["books"])
    return time.perf_counter() - started


def peer_run(peers, path: str, theirs: dict, books: int, cap: float) -> float:
    """One lightweight and one object-mode run of betfairlightweight; returns its seconds."""
    started = time.perf_counter()
    gc.collect()
    seconds, done = peers.replay_dicts(path, lambda books: capped(books, cap))
    theirs["books"] = max(theirs["books"], done)
    # A stopped run is extrapolated to quorvane's book count, the one total known.
    theirs["dicts"].add(seconds, done, books)
    gc.collect()
    seconds, reading, done = peers.replay_objects(path, lambda books: capped(books, cap))
    theirs["objects"].add(seconds - reading, done, books)
    theirs["objects_reading"].add(seconds, done, books)
    return time.perf_counter() - started


def replay_section(quorvane, peers, files: list[BenchFile], options: argparse.Namespace) -> list[dict]:
    rows = []
    for group in by_content(files):
        ours = {file.label: {"books": 0, **{key: Timings() for key in ("load", "replay", "strategy")}}
                for file in group}
        theirs = {"books": 0, **{key: Timings() for key in ("dicts", "objects", "objects_reading")}}
        planned = {file.label: options.runs for file in group}
        peer_planned = options.peer_runs if peers else 0
        plain = min(group, key=lambda file: file.kind != "plain").path
        with peers.plain_text(str(plain)) if peers else contextlib.nullcontext() as peer_path:
            run = 0
            while run < max(peer_planned, *planned.values()):
                for file in group:
                    if run >= planned[file.label]:
                        continue
                    note(f"replay: {file.label}, run {run + 1} of {planned[file.label]}")
                    mine = ours[file.label]
                    spent = our_run(quorvane, file, mine, options.cap)
                    if run == 0:
                        planned[file.label] = runs_within(options.runs, options.seconds, spent,
                                                          mine["replay"].seconds[0])
                if run < peer_planned:
                    note(f"replay: betfairlightweight on {group[0].label}, run {run + 1} of {peer_planned}")
                    spent = peer_run(peers, peer_path, theirs, ours[group[0].label]["books"], options.peer_cap)
                    if run == 0:
                        peer_planned = max(1, min(peer_planned, int(options.peer_seconds / spent)))
                run += 1
        peer = {key: theirs[key].median() for key in ("dicts", "objects", "objects_reading")}
        for file in group:
            mine = ours[file.label]
            figures = {key: mine[key].median() for key in ("load", "replay", "strategy")}
            rows.append({
                "file": file.label, "kind": file.kind, "uncompressed_bytes": file.size,
                "books": mine["books"], "runs": len(mine["replay"]),
                "load_seconds": figures["load"], "replay_seconds": figures["replay"],
                "iterate_seconds": figures["replay"] - figures["load"],
                "strategy_seconds": figures["strategy"],
                "peer_books": theirs["books"], "peer_runs": len(theirs["dicts"]),
                "peer_dicts_seconds": peer["dicts"], "peer_objects_seconds": peer["objects"],
                "peer_objects_reading_seconds": peer["objects_reading"],
                "samples": {key: timings.seconds for key, timings in (*mine.items(), *theirs.items())
                            if isinstance(timings, Timings)},
                "estimated": sorted(key for key, timings in (*mine.items(), *theirs.items())
                                    if isinstance(timings, Timings) and timings.estimated),
                "speedups": {name: speedup(figures[mine_key], peer[their_key])
                             for name, (mine_key, their_key) in SPEEDUP_PARTS.items()}})
    order = {file.label: index for index, file in enumerate(files)}
    return sorted(rows, key=lambda row: order[row["file"]])


# to_dict. `to_dict()` builds a fresh tree at every call (betfairlightweight hands out its
# cached dicts again), so its yardstick is what building the same tree costs at all:
# `orjson.loads` of the tree's JSON, dumped outside the timing. Both sides are timed per
# book, the trees are freed outside the timings, and the collector is off (the trees hold
# no cycles), so that a collection falls on neither side. The books are the same whatever
# the compression, so each content is measured once.

def to_dict_run(quorvane, orjson, path: str, cap: float) -> tuple[float, float, int]:
    """Seconds of `to_dict()` of every book and of `orjson.loads` of the same trees, and the
    books reached before the cap."""
    clock = time.perf_counter
    building = loading = 0.0
    books = 0
    gc.collect()
    gc.disable()
    try:
        for book in capped(quorvane.iter_prices_file(path), cap):
            started = clock()
            tree = book.to_dict()
            built = clock()
            text = orjson.dumps(tree)
            del tree
            started_loads = clock()
            tree = orjson.loads(text)
            loaded = clock()
            del tree
            building += built - started
            loading += loaded - started_loads
            books += 1
    finally:
        gc.enable()
    return building, loading, books


def to_dict_section(quorvane, orjson, files: list[BenchFile], options: argparse.Namespace) -> list[dict]:
    """Per content, medians over the runs of the time per book of each side and of their
    ratio; a run stopped at the cap counts the books it reached."""
    rows = []
    for group in by_content(files):
        file = min(group, key=lambda file: file.kind != "plain")
        building, loading, ratios, reached = [], [], [], []
        planned, run = options.runs, 0
        while run < planned:
            note(f"to_dict: {file.label}, run {run + 1} of {planned}")
            started = time.perf_counter()
            built, loaded, books = to_dict_run(quorvane, orjson, str(file.path), options.cap)
            if books == 0 or loaded == 0:
                sys.exit(f"bench.py: {file.label}: no book reached to_dict within the cap")
            building.append(built / books)
            loading.append(loaded / books)
            ratios.append(built / loaded)
            reached.append(books)
            if run == 0:
                planned = runs_within(options.runs, options.seconds, time.perf_counter() - started, built)
            run += 1
        rows.append({"file": file.label, "books": len(quorvane.iter_prices_file(str(file.path))),
                     "books_reached": min(reached), "runs": run,
                     "to_dict_us_per_book": statistics.median(building) * 1e6,
                     "orjson_us_per_book": statistics.median(loading) * 1e6,
                     "to_dict_vs_orjson": statistics.median(ratios)})
    return rows


# Steps. A market with full ladders, then messages that change nothing or one runner's best
# back size each, the runner taking turns; the load is not timed.

def step_file(path: Path, runners: int, step: str, messages: int) -> None:
    market = "1.100000001"
    ids = [1000 + i for i in range(runners)]
    image = {"op": "mcm", "pt": 1_600_000_000_000, "mc": [{
        "id": market, "img": True,
        "marketDefinition": {"status": "OPEN", "marketTime": "2021-03-18T13:20:00.000Z",
                             "runners": [{"id": r, "sortPriority": i + 1, "status": "ACTIVE"}
                                         for i, r in enumerate(ids)]},
        "rc": [{"id": r, "ltp": 3.0,
                "atb": [[round(3.0 - 0.05 * k, 2), 10 + k] for k in range(10)],
                "atl": [[round(3.05 + 0.05 * k, 2), 10 + k] for k in range(10)],
                "trd": [[round(2.5 + 0.05 * k, 2), 5 + k] for k in range(10)]} for r in ids]}]}
    with open(path, "w", encoding="utf-8") as out:
        out.write(json.dumps(image) + "\n")
        for i in range(messages):
            change = [] if step == "unchanged" else [{"id": market, "rc": [
                {"id": ids[i % runners], "atb": [[3.0, 11 + (i // runners) % 2]]}]}]
            out.write(json.dumps({"op": "mcm", "pt": 1_600_000_000_001 + i, "mc": change},
                                 separators=(",", ":")) + "\n")


def time_iteration(quorvane, path: Path, runs: int) -> tuple[float, int]:
    """Median seconds of iterating a loaded file to the end, and the books it gave."""
    timings, books = [], 0
    gc.collect()
    gc.disable()
    try:
        for _ in range(runs):
            prices = quorvane.iter_prices_file(str(path))
            started = time.perf_counter()
            books = 0
            for _book in prices:
                books += 1
            timings.append(time.perf_counter() - started)
            del prices, _book
    finally:
        gc.enable()
    return statistics.median(timings), books


def step_section(quorvane, runs: int, messages: int) -> list[dict]:
    rows = []
    with tempfile.TemporaryDirectory() as directory:
        for step in STEPS:
            for runners in STEP_RUNNERS:
                note(f"step: {step}, {runners} runners")
                path = Path(directory) / "steps.jsonl"
                step_file(path, runners, step, messages)
                seconds, books = time_iteration(quorvane, path, runs)
                if books != messages + 1:
                    sys.exit(f"bench.py: the {step} steps gave {books} books, not {messages + 1}")
                rows.append({"step": step, "runners": runners, "steps": books, "runs": runs,
                             "median_seconds": seconds, "us_per_step": seconds / books * 1e6})
    return rows


# Output

CPU_FLAGS = ("avx2", "avx512f", "avx512bw", "avx512vl", "avx512vbmi", "avx512_vbmi2", "bmi2", "pclmulqdq")


def machine() -> dict:
    cpu, flags = platform.processor(), set()
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                name, _, value = line.partition(":")
                if name.strip() == "model name":
                    cpu = value.strip()
                elif name.strip() == "flags":
                    flags = set(value.split())
                    break
    except OSError:
        pass
    return {"cpu": cpu, "cpu_flags": [flag for flag in CPU_FLAGS if flag in flags], "cores": os.cpu_count(),
            "python": sys.version.split()[0], "platform": platform.platform(),
            "load_average": list(os.getloadavg())}


def git(*args: str) -> str | None:
    run = subprocess.run(["git", "-C", str(ROOT), *args], capture_output=True, text=True)
    return run.stdout.strip() if run.returncode == 0 else None


def source_tree() -> dict:
    """The commit measured, and whether the tracked files differ from it."""
    status = git("status", "--porcelain", "--untracked-files=no")
    return {"quorvane_commit": git("rev-parse", "--short", "HEAD"),
            "clean_tree": None if status is None else not status}


def versions(peers, orjson=None, dom_context: dict | None = None) -> dict:
    dom_context = dom_context or {}
    return {**source_tree(),
            "betfairlightweight": peers.betfairlightweight.__version__ if peers else None,
            "orjson": orjson.__version__ if orjson else None,
            "simdjson": dom_context.get("simdjson_version"),
            "simdjson_implementation": dom_context.get("simdjson_implementation")}


def table(headers: list[str], rows: list[list[str]], right_from: int = 1) -> str:
    """A markdown table, padded so that it reads in a terminal too."""
    widths = [max(len(cell) for cell in column) for column in zip(headers, *rows)]

    def line(cells):
        padded = [cell.ljust(width) if i < right_from else cell.rjust(width)
                  for i, (cell, width) in enumerate(zip(cells, widths))]
        return "| " + " | ".join(padded) + " |"

    rule = ["-" * width if i < right_from else "-" * (width - 1) + ":" for i, width in enumerate(widths)]
    return "\n".join([line(headers), "| " + " | ".join(rule) + " |", *map(line, rows)])


def verdict(ok: bool) -> str:
    return "ok" if ok else "MISS"


def judged(value: float | None, goal: float | None, at_least: bool) -> list[str]:
    """The goal and its mark, or two empty cells when there is none to judge."""
    if value is None or goal is None:
        return ["-", ""]
    return [f"{'>=' if at_least else '<='} {goal}x", verdict(value >= goal if at_least else value <= goal)]


def ms(seconds: float | None, estimated: bool = False) -> str:
    return "-" if seconds is None else ("~" if estimated else "") + f"{seconds * 1e3:,.1f}"


def load_limit(row: dict, rows: list[dict], goals: dict) -> tuple[str, float, float] | None:
    """What a load row is measured against: its name, its MB/s and the goal on the ratio."""
    if row["kind"] == "plain" and row["dom_mb_per_s"]:
        return "simdjson DOM", row["dom_mb_per_s"], goals["load_vs_dom"]
    if row["kind"] == "gzip":
        # Its twin holds the same bytes, or else has its name less the extension (a recording
        # compressed after its line ends were changed is still the same recording).
        plain = [other for other in rows if other["kind"] == "plain"]
        twin = (next((other for other in plain if other["content"] == row["content"]), None)
                or next((other for other in plain if other["file"] == row["file"].rpartition(".")[0]), None))
        if twin:
            return f"plain {twin['file']}", twin["mb_per_s"], goals["gzip_vs_plain"]
    return None


def replay_judged(row: dict, goals: dict) -> bool:
    return row["kind"] != "bz2" and row["uncompressed_bytes"] >= goals["replay_min_bytes"]


def header(results: dict) -> str:
    info, made = results["machine"], results["versions"]
    flags = ", ".join([*(flag.upper() for flag in info["cpu_flags"]),
                       *(["no AVX-512"] if "avx512f" not in info["cpu_flags"] else [])])
    tree = {True: "clean tree", False: "with uncommitted changes", None: "tree state unknown"}[made["clean_tree"]]
    simdjson = (f"simdjson {made['simdjson']} ({made['simdjson_implementation']} kernels)"
                if made["simdjson"] else "simdjson not run")
    return (f"Run of {results['time']} at quorvane {made['quorvane_commit']} ({tree}), {results['seconds'] / 60:.0f}"
            f" minutes, on {info['cpu']} ({flags}), {info['cores']} cores; load average"
            f" {info['load_average'][0]:.1f} at the start and {info['load_average_end'][0]:.1f} at the end;"
            f" Python {info['python']} ({info['platform']}); betfairlightweight {made['betfairlightweight']},"
            f" orjson {made['orjson']}, {simdjson}.")


def render(results: dict) -> str:
    goals = results["goals"]
    out = [header(results)]

    loads = results["load"]
    out += ["", "### Load", "",
            "`iter_prices_file` to the returned iterator; MB = 10^6 bytes of uncompressed data; median of"
            " \"runs\" loads, taken in rounds that alternate with the limit's own runs. The limit of a plain"
            " file is simdjson's DOM parse of its lines (C++, `quorvane_json_parse_bench`: a document of"
            f" every line, nothing stored), goal >= {goals['load_vs_dom']}x; that of a gzip file is its"
            f" plain twin's load, goal >= {goals['gzip_vs_plain']}x; bz2 loads at libbz2's speed and has"
            " none. Memory is measured in a fresh process: held is what the loaded iterator keeps, peak the"
            " most the load used on the way.", ""]
    rows = []
    for r in loads:
        limit = load_limit(r, loads, goals)
        rate = r["mb_per_s"] / limit[1] if limit else None
        rows.append([
            r["file"], r["kind"], f"{r['uncompressed_bytes'] / 1e6:.2f}", f"{r['messages']:,}", str(r["runs"]),
            f"{r['median_seconds'] * 1e3:.2f}", f"{r['mb_per_s']:.0f}",
            *([limit[0], f"{limit[1]:.0f}", f"{rate:.2f}x"] if limit else ["-", "-", "-"]),
            *judged(rate, limit[2] if limit else None, at_least=True),
            f"{r['held_bytes'] / 1e6:.2f}", f"{r['held_ratio']:.2f}",
            *judged(r["held_ratio"], goals["held_x_file"], at_least=False),
            f"{r['peak_bytes'] / 1e6:.2f}", f"{r['peak_ratio']:.2f}"])
    out.append(table(["file", "kind", "MB", "messages", "runs", "ms", "MB/s", "limit", "limit MB/s", "x limit",
                      "goal", "", "held MB", "held x file", "goal", "", "peak MB", "peak x file"],
                     rows, right_from=2))

    replays = results["replay"]
    out += ["", "### Replay", "",
            "Wall times from the `iter_prices_file` call to the last book, median of \"runs\", the"
            " collector on: replay iterates every book (load and iterate are its two parts), strategy"
            " reads the best back and lay price of every runner of every book. A \"~\" marks a figure"
            " extrapolated from a run stopped at its cap.", ""]
    out.append(table(
        ["file", "books", "runs", "load ms", "iterate ms", "us/book", "replay ms", "strategy ms"],
        [[r["file"], f"{r['books']:,}", str(r["runs"]), ms(r["load_seconds"]),
          ms(r["iterate_seconds"], "replay" in r["estimated"]),
          f"{r['iterate_seconds'] / max(r['books'], 1) * 1e6:.2f}",
          *(ms(r[f"{key}_seconds"], key in r["estimated"]) for key in ("replay", "strategy"))]
         for r in replays]))

    if any(r["peer_runs"] for r in replays):
        out += ["", "### Against betfairlightweight", "",
                "betfairlightweight's historical replay of the same file: lightweight mode (dicts), object"
                " mode (MarketBook objects) and object mode with the strategy's reads on its objects, median"
                " of \"peer runs\" (compressed files reach it decompressed, outside its timing). Speed-ups"
                " are betfairlightweight's time over quorvane's for the same work: the replay against the"
                f" dicts (goal >= {goals['replay_vs_dicts']}x) and against the objects (goal >="
                f" {goals['replay_vs_objects']}x) on every plain or gzip file of"
                f" {goals['replay_min_bytes'] / 1e6:g} MB or more; smaller files and bz2 (libbz2's speed)"
                " are shown without a goal, and so is the strategy against the objects with the same reads.",
                ""]
        rows = []
        for r in (r for r in replays if r["peer_runs"]):
            marked = replay_judged(r, goals)

            def cell(key):
                value = r["speedups"][key]
                estimated = not set(r["estimated"]).isdisjoint(SPEEDUP_PARTS[key])
                return "-" if value is None else ("~" if estimated else "") + f"{value:.1f}x"

            rows.append([
                r["file"], f"{r['uncompressed_bytes'] / 1e6:.2f}", f"{r['peer_books']:,}", str(r["peer_runs"]),
                *(ms(r[f"peer_{key}_seconds"], key in r["estimated"]) for key in ("dicts", "objects", "objects_reading")),
                cell("replay_vs_dicts"),
                *judged(r["speedups"]["replay_vs_dicts"], goals["replay_vs_dicts"] if marked else None, at_least=True),
                cell("replay_vs_objects"),
                *judged(r["speedups"]["replay_vs_objects"], goals["replay_vs_objects"] if marked else None,
                        at_least=True),
                cell("strategy_vs_objects")])
        out.append(table(["file", "MB", "books", "peer runs", "dicts ms", "objects ms", "objects+reads ms",
                          "replay vs dicts", "goal", "", "replay vs objects", "goal", "", "strategy vs objects+reads"],
                         rows))

    if results["to_dict"]:
        out += ["", "### to_dict", "",
                "`book.to_dict()` of every book against `orjson.loads` building the same tree again from"
                " its JSON, serialised by `orjson.dumps` outside the timing: each call timed on its own,"
                " the trees freed outside the timings, the collector off; once per content (the books do"
                " not depend on the compression), median of \"runs\". Goal: to_dict at most"
                f" {goals['to_dict_vs_orjson']}x orjson.loads. \"books\" shows how many a run stopped at"
                " its cap reached.", ""]
        out.append(table(
            ["file", "books", "runs", "to_dict us/book", "orjson.loads us/book", "x loads", "goal", ""],
            [[r["file"], f"{r['books']:,}" if r["books_reached"] == r["books"]
              else f"{r['books_reached']:,} of {r['books']:,}", str(r["runs"]),
              f"{r['to_dict_us_per_book']:.1f}", f"{r['orjson_us_per_book']:.1f}", f"{r['to_dict_vs_orjson']:.2f}x",
              *judged(r["to_dict_vs_orjson"], goals["to_dict_vs_orjson"], at_least=False)]
             for r in results["to_dict"]]))

    steps = results["step"]
    if steps:
        base = {r["step"]: r["us_per_step"] for r in steps if r["runners"] == STEP_RUNNERS[0]}
        out += ["", "### Step", "",
                f"One step (`next()`) in a market of n runners with full ladders whose messages change"
                f" nothing or one runner's \"atb\" ladder, median of {steps[0]['runs']} iterations of"
                f" {steps[0]['steps']:,} steps (load not timed). Every step hands out a new `runners` list,"
                " so even an unchanged step grows with the runners; reported without a goal.", ""]
        out.append(table(
            ["message", "runners", "us/step", "ns/step/runner", f"x {STEP_RUNNERS[0]} runners"],
            [[r["step"], str(r["runners"]), f"{r['us_per_step']:.3f}", f"{r['us_per_step'] / r['runners'] * 1e3:.1f}",
              f"{r['us_per_step'] / base[r['step']]:.2f}" if base.get(r["step"]) else "-"]
             for r in steps]))
    return "\n".join(out) + "\n"


README_BEGIN = "<!-- bench/bench.py --render: begin -->\n"
README_END = "<!-- bench/bench.py --render: end -->\n"


def write_into_readme(readme: Path, tables: str) -> None:
    """Puts the tables between the README's markers, in place of what stood there."""
    text = readme.read_text()
    begin, end = text.find(README_BEGIN), text.find(README_END)
    if begin < 0 or end < begin:
        sys.exit(f"bench.py: {readme} has no {README_BEGIN.strip()} ... {README_END.strip()} markers")
    readme.write_text(text[:begin + len(README_BEGIN)] + "\n" + tables + "\n" + text[end:])


def import_orjson():
    try:
        import orjson
    except ImportError as error:
        note(f"orjson is not importable ({error}; `make bench` installs requirements/bench.txt);"
             " the to_dict comparison is left out")
        return None
    return orjson


def main() -> int:
    parser = argparse.ArgumentParser(description="quorvane's benchmark suite")
    parser.add_argument("--quick", action="store_true",
                        help="recordings and the small files, 3 runs, shorter step files")
    parser.add_argument("--runs", type=int, help="timed runs (rounds of the load) per file and measure"
                                                 " (default 5, quick 3)")
    parser.add_argument("--peer-runs", type=int,
                        help="betfairlightweight's runs per file, at most (default 5, quick 3)")
    parser.add_argument("--seconds", type=float, default=60.0,
                        help="quorvane's time budget per file: after the first run, the runs that"
                             " fit (at least one; default 60)")
    parser.add_argument("--peer-seconds", type=float, default=100.0,
                        help="betfairlightweight's time budget per file, likewise (default 100)")
    parser.add_argument("--cap", type=float, default=60.0,
                        help="seconds after which one of quorvane's timed loops is stopped and its"
                             " time extrapolated (default 60)")
    parser.add_argument("--peer-cap", type=float, default=900.0,
                        help="the same for one of betfairlightweight's replays (default 900)")
    parser.add_argument("--no-peer", action="store_true", help="leave betfairlightweight out")
    parser.add_argument("--dom-bench", type=Path, default=DOM_BENCH,
                        help="the C++ benchmark that times simdjson's DOM parse (default"
                             " build/bench/quorvane_json_parse_bench, which `make bench` builds)")
    parser.add_argument("--no-dom", action="store_true", help="leave simdjson's DOM parse out")
    parser.add_argument("--sizes", help="generated files, comma-separated; empty for none"
                                        " (default small,medium, quick small)")
    parser.add_argument("--files", nargs="+", type=Path, metavar="FILE",
                        help="recordings to bench instead of ../shared/data/real")
    parser.add_argument("--step-messages", type=int,
                        help="steps per step file (default 200000, quick 50000)")
    parser.add_argument("--results-dir", type=Path, default=RESULTS_DIR,
                        help="where the JSON and markdown results go (default bench/results)")
    parser.add_argument("--render", type=Path, metavar="RESULT",
                        help="print the tables of a saved JSON result and stop")
    parser.add_argument("--readme", type=Path, metavar="README",
                        help="with --render: write the tables between the markers of this README instead")
    parser.add_argument("--memory", metavar="PATH", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.memory:
        print(json.dumps(memory_here(args.memory)))
        return 0
    if args.readme and not args.render:
        parser.error("--readme goes with --render")
    if args.render:
        tables = render(json.loads(args.render.read_text()))
        if args.readme:
            write_into_readme(args.readme, tables)
        else:
            sys.stdout.write(tables)
        return 0
    quick = args.quick
    args.runs = runs = args.runs or (3 if quick else 5)
    args.peer_runs = peer_runs = args.peer_runs or (3 if quick else 5)
    step_messages = args.step_messages or (50_000 if quick else 200_000)
    sizes_text = args.sizes if args.sizes is not None else "small" if quick else ",".join(DEFAULT_SIZES)
    sizes = [size for size in sizes_text.split(",") if size]
    if unknown := set(sizes) - set(SIZES):
        parser.error(f"unknown sizes: {', '.join(sorted(unknown))} (choose from {', '.join(SIZES)})")
    if min(runs, peer_runs, step_messages) < 1 or min(args.seconds, args.peer_seconds, args.cap, args.peer_cap) <= 0:
        parser.error("counts, budgets and caps take a positive number")
    # The module first: without it nothing else can run.
    quorvane = import_quorvane()
    dom_bench = None if args.no_dom else args.dom_bench
    if dom_bench and not dom_bench.is_file():
        parser.error(f"{dom_bench} is missing: `make bench` builds it, or leave it out with --no-dom")

    peers = None if args.no_peer else import_peers()
    orjson = import_orjson()
    stamp = datetime.datetime.now(datetime.timezone.utc)
    info, tree = machine(), source_tree()  # the tree as it was when the measuring began
    files = bench_files(args.files or [], sizes)
    load_rows, dom_context = load_section(quorvane, files, runs, dom_bench)
    replay_rows = replay_section(quorvane, peers, files, args)
    to_dict_rows = to_dict_section(quorvane, orjson, files, args) if orjson else []
    step_rows = step_section(quorvane, runs, step_messages)
    info["load_average_end"] = list(os.getloadavg())
    results = {
        "time": stamp.isoformat(timespec="seconds"), "machine": info,
        "versions": {**versions(peers, orjson, dom_context), **tree},
        "options": {"runs": runs, "peer_runs": peer_runs, "seconds": args.seconds,
                    "peer_seconds": args.peer_seconds, "cap": args.cap, "peer_cap": args.peer_cap,
                    "sizes": sizes, "step_messages": step_messages, "quick": quick},
        "goals": GOALS, "load": load_rows, "replay": replay_rows, "to_dict": to_dict_rows, "step": step_rows,
        "seconds": (datetime.datetime.now(datetime.timezone.utc) - stamp).total_seconds()}
    tables = render(results)
    sys.stdout.write(tables)
    args.results_dir.mkdir(parents=True, exist_ok=True)
    out = args.results_dir / f"bench-{stamp:%Y%m%d-%H%M%S}.json"
    out.write_text(json.dumps(results, indent=2) + "\n")
    out.with_suffix(".md").write_text(tables)
    note(f"results: {out} and {out.with_suffix('.md').name} ({results['seconds']:.0f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
