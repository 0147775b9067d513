#!/usr/bin/env python3
"""quorvane's benchmark suite, against betfairlightweight on the same files in the same run.

Files: the real recordings in ../shared/data/real (when present) and the generated markets
of data/large (small, medium, large; written by scripts/make_bench_data.sh when missing),
plain and gzip, and a bzip2 copy of the first size.

load: `iter_prices_file` speed (MB/s of uncompressed stream data) and, in a fresh process,
the peak memory during the load and the memory the loaded iterator holds, against the
file's uncompressed size.

replay: quorvane's full replay (load and iterate every book), the replay with `to_dict()`
of every book and a strategy loop (the best back and lay price of every runner of every
book), each next to betfairlightweight's historical replay of the same file in lightweight
mode (dicts) and in object mode (with the same reads on its MarketBook objects), as ratios
quorvane / betfairlightweight of median wall times. Runs alternate between the two sides,
so that a busy machine slows both alike. Each side's runs per file stop at a time budget
(betfairlightweight's object mode takes minutes on the large file), and the "runs" columns
say how many each median took; one timed loop that passes its cap is stopped and
extrapolated. betfairlightweight reads text only, so a compressed file reaches it
decompressed, outside its timing, and files of the same content share its runs.

step: the cost of one step in markets of 10, 40 and 200 runners whose messages change
nothing or one runner's "atb" ladder.

The tables are printed as markdown; the figures go to bench/results/ as JSON, with the
same tables beside them as .md.

    python bench/bench.py [--quick] [--runs 5] [--peer-runs 5] [--sizes small,medium,large]
    python bench/bench.py --render bench/results/bench-....json
"""

from __future__ import annotations

import argparse
import bz2
import contextlib
import ctypes
import dataclasses
import datetime
import gc
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
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
REAL_DIR = ROOT.parent / "shared" / "data" / "real"
LARGE_DIR = ROOT / "data" / "large"
RESULTS_DIR = ROOT / "bench" / "results"
SIZES = ("small", "medium", "large")

LOAD_GOAL_MB_S = {"plain": 400.0, "gzip": 300.0, "bz2": None}  # bz2 runs at libbz2's speed
HELD_GOAL_RATIO = 1.5
# quorvane / betfairlightweight, at most.
GOAL_RATIO = {"replay_vs_dicts": 1 / 20, "replay_vs_objects": 1 / 100, "to_dict_vs_dicts": 1 / 5,
              "strategy_vs_objects": None}
# The measures each ratio divides: quorvane's, betfairlightweight's.
RATIO_PARTS = {"replay_vs_dicts": ("replay", "dicts"), "replay_vs_objects": ("replay", "objects"),
               "to_dict_vs_dicts": ("to_dict", "dicts"),
               "strategy_vs_objects": ("strategy", "objects_reading")}
STEP_GOAL_US = {"unchanged": 0.3, "one runner atb": 1.5}
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
    if kind_of(path) == "bz2":
        with bz2.open(path) as file:
            yield from iter(lambda: file.read(1 << 20), b"")
        return
    with open(path, "rb") as file:
        if kind_of(path) == "plain":
            yield from iter(lambda: file.read(1 << 20), b"")
            return
        # The reader takes the first gzip member only, and so does this.
        inflater = zlib.decompressobj(wbits=31)
        while not inflater.eof and (chunk := file.read(1 << 20)):
            yield inflater.decompress(chunk)


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


# Load speed and memory

def time_load(quorvane, path: Path, runs: int) -> tuple[float, int, int]:
    """Median seconds of one load, the stored message count and the runs taken."""
    gc.collect()
    started = time.perf_counter()
    messages = len(quorvane.iter_prices_file(str(path)))  # warms the page cache too
    first = time.perf_counter() - started
    runs = max(runs, min(MAX_LOAD_RUNS, int(MIN_TIMED_SECONDS / max(first, 1e-6))))
    timings = []
    gc.disable()
    try:
        for _ in range(runs):
            started = time.perf_counter()
            prices = quorvane.iter_prices_file(str(path))
            timings.append(time.perf_counter() - started)
            del prices
    finally:
        gc.enable()
    return statistics.median(timings), messages, runs


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


def load_section(quorvane, files: list[BenchFile], runs: int) -> list[dict]:
    rows = []
    for file in files:
        note(f"load: {file.label}")
        seconds, messages, taken = time_load(quorvane, file.path, runs)
        memory = memory_in_fresh_process(file.path)
        if memory["messages"] != messages:
            sys.exit(f"bench.py: {file.label} gave {messages} and {memory['messages']} messages")
        size = max(file.size, 1)
        rows.append({
            "file": file.label, "kind": file.kind, "uncompressed_bytes": file.size,
            "messages": messages, "runs": taken, "median_seconds": seconds,
            "mb_per_s": file.size / 1e6 / seconds, "goal_mb_per_s": LOAD_GOAL_MB_S[file.kind],
            "held_bytes": memory["held_bytes"], "peak_bytes": memory["peak_bytes"],
            "code_bytes": memory["code_bytes"], "held_ratio": memory["held_bytes"] / size,
            "peak_ratio": memory["peak_bytes"] / size, "goal_held_ratio": HELD_GOAL_RATIO})
    return rows


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


def replay_to_dict(quorvane, path: str, cap: float) -> tuple[float, int]:
    books = 0
    started = time.perf_counter()
    for book in capped(quorvane.iter_prices_file(path), cap):
        book.to_dict()
        books += 1
    return time.perf_counter() - started, books


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


def ratio(ours: float, theirs: float | None) -> float | None:
    return ours / theirs if theirs else None


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
    for name, loop in (("to_dict", replay_to_dict), ("strategy", replay_strategy)):
        gc.collect()
        mine[name].add(*loop(quorvane, path, cap), mine["books"])
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
    groups: dict[str, list[BenchFile]] = {}
    for file in files:
        groups.setdefault(file.content, []).append(file)
    rows = []
    for group in groups.values():
        ours = {file.label: {"books": 0, **{key: Timings() for key in ("load", "replay", "to_dict", "strategy")}}
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
            figures = {key: mine[key].median() for key in ("load", "replay", "to_dict", "strategy")}
            rows.append({
                "file": file.label, "kind": file.kind, "uncompressed_bytes": file.size,
                "books": mine["books"], "runs": len(mine["replay"]),
                "load_seconds": figures["load"], "replay_seconds": figures["replay"],
                "iterate_seconds": figures["replay"] - figures["load"],
                "to_dict_seconds": figures["to_dict"], "strategy_seconds": figures["strategy"],
                "peer_books": theirs["books"], "peer_runs": len(theirs["dicts"]),
                "peer_dicts_seconds": peer["dicts"], "peer_objects_seconds": peer["objects"],
                "peer_objects_reading_seconds": peer["objects_reading"],
                "samples": {key: timings.seconds for key, timings in (*mine.items(), *theirs.items())
                            if isinstance(timings, Timings)},
                "estimated": sorted(key for key, timings in (*mine.items(), *theirs.items())
                                    if isinstance(timings, Timings) and timings.estimated),
                "ratios": {name: ratio(figures[mine_key], peer[their_key])
                           for name, (mine_key, their_key) in RATIO_PARTS.items()},
                "goal_ratios": GOAL_RATIO})
    order = {file.label: index for index, file in enumerate(files)}
    return sorted(rows, key=lambda row: order[row["file"]])


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
        for step in STEP_GOAL_US:
            for runners in STEP_RUNNERS:
                note(f"step: {step}, {runners} runners")
                path = Path(directory) / "steps.jsonl"
                step_file(path, runners, step, messages)
                seconds, books = time_iteration(quorvane, path, runs)
                if books != messages + 1:
                    sys.exit(f"bench.py: the {step} steps gave {books} books, not {messages + 1}")
                rows.append({"step": step, "runners": runners, "steps": books, "runs": runs,
                             "median_seconds": seconds, "us_per_step": seconds / books * 1e6,
                             "goal_us_per_step": STEP_GOAL_US[step]})
    return rows


# Output

def machine() -> dict:
    cpu = platform.processor()
    try:
        with open("/proc/cpuinfo") as info:
            cpu = next(line.split(":", 1)[1].strip() for line in info if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    return {"cpu": cpu, "cores": os.cpu_count(), "python": sys.version.split()[0],
            "platform": platform.platform(), "load_average": list(os.getloadavg())}


def versions(peers) -> dict:
    commit = subprocess.run(["git", "-C", str(ROOT), "describe", "--always", "--dirty"],
                            capture_output=True, text=True).stdout.strip()
    return {"quorvane_commit": commit or None,
            "betfairlightweight": peers.betfairlightweight.__version__ if peers else None}


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


def ratio_cell(value: float | None, goal: float | None, estimated: bool) -> str:
    if value is None:
        return "-"
    text = ("~" if estimated else "") + (f"{value:.3f} ({1 / value:.0f}x)" if value < 1 else f"{value:.2f}")
    return text if goal is None else f"{text} {verdict(value <= goal)}"


def ms(seconds: float | None, estimated: bool = False) -> str:
    return "-" if seconds is None else ("~" if estimated else "") + f"{seconds * 1e3:,.1f}"


def render(results: dict) -> str:
    info = results["machine"]
    out = [f"Run of {results['time']} on {info['cpu']}, {info['cores']} cores, Python {info['python']}"
           f" ({info['platform']}); load average {info['load_average'][0]:.1f} at the start;"
           f" quorvane {results['versions']['quorvane_commit']},"
           f" betfairlightweight {results['versions']['betfairlightweight']}."]

    out += ["", "### Load", "",
            f"`iter_prices_file` to the returned iterator; MB = 10^6 bytes of uncompressed data;"
            f" median of \"runs\" loads. Goals: plain >= {LOAD_GOAL_MB_S['plain']:.0f} MB/s, gzip >="
            f" {LOAD_GOAL_MB_S['gzip']:.0f} MB/s, held <= {HELD_GOAL_RATIO} x the file. Memory is"
            " measured in a fresh process: held is what the loaded iterator keeps, peak the most"
            " the load used on the way.", ""]
    out.append(table(
        ["file", "kind", "MB", "messages", "runs", "ms", "MB/s", "goal", "", "held MB", "held x file",
         "goal", "", "peak MB", "peak x file"],
        [[r["file"], r["kind"], f"{r['uncompressed_bytes'] / 1e6:.2f}", f"{r['messages']:,}",
          str(r["runs"]), f"{r['median_seconds'] * 1e3:.2f}", f"{r['mb_per_s']:.0f}",
          *(["-", ""] if r["goal_mb_per_s"] is None else
            [f">= {r['goal_mb_per_s']:.0f}", verdict(r["mb_per_s"] >= r["goal_mb_per_s"])]),
          f"{r['held_bytes'] / 1e6:.2f}", f"{r['held_ratio']:.2f}", f"<= {r['goal_held_ratio']}",
          verdict(r["held_ratio"] <= r["goal_held_ratio"]),
          f"{r['peak_bytes'] / 1e6:.2f}", f"{r['peak_ratio']:.2f}"]
         for r in results["load"]], right_from=2))

    replays = results["replay"]
    out += ["", "### Replay", "",
            "Wall times from the `iter_prices_file` call to the last book, median of \"runs\":"
            " replay iterates every book, to_dict calls `book.to_dict()` on every book, strategy"
            " reads the best back and lay price of every runner of every book (load and iterate"
            " are the replay's two parts). A \"~\" marks a figure extrapolated from a run stopped at"
            " its cap.", ""]
    out.append(table(
        ["file", "books", "runs", "load ms", "iterate ms", "us/book", "replay ms", "to_dict ms",
         "strategy ms"],
        [[r["file"], f"{r['books']:,}", str(r["runs"]), ms(r["load_seconds"]),
          ms(r["iterate_seconds"], "replay" in r["estimated"]),
          f"{r['iterate_seconds'] / max(r['books'], 1) * 1e6:.2f}",
          *(ms(r[f"{key}_seconds"], key in r["estimated"]) for key in ("replay", "to_dict", "strategy"))]
         for r in replays]))

    if any(r["peer_runs"] for r in replays):
        goals = results["goal_ratios"]
        out += ["", "### Against betfairlightweight", "",
                "betfairlightweight's historical replay of the same file: lightweight mode (dicts),"
                " object mode (MarketBook objects) and object mode with the strategy's reads on its"
                " objects, median of \"peer runs\" (compressed files reach it decompressed, outside"
                " its timing). Ratios are quorvane / betfairlightweight for the same work (the"
                " speed-up in brackets): replay vs dicts (goal <= "
                f"{goals['replay_vs_dicts']:.2f}), replay vs objects (goal <= {goals['replay_vs_objects']:.2f}),"
                f" to_dict vs dicts (goal <= {goals['to_dict_vs_dicts']:.2f}), strategy vs objects with"
                " the same reads.", ""]
        out.append(table(
            ["file", "books", "peer runs", "dicts ms", "objects ms", "objects+reads ms", "replay/dicts",
             "replay/objects", "to_dict/dicts", "strategy/objects+reads"],
            [[r["file"], f"{r['peer_books']:,}", str(r["peer_runs"]),
              *(ms(r[f"peer_{key}_seconds"], key in r["estimated"]) for key in ("dicts", "objects", "objects_reading")),
              *(ratio_cell(r["ratios"][key], goals[key], not set(r["estimated"]).isdisjoint(RATIO_PARTS[key]))
                for key in goals)]
             for r in replays if r["peer_runs"]]))

    steps = results["step"]
    if steps:
        base = {r["step"]: r["us_per_step"] for r in steps if r["runners"] == STEP_RUNNERS[0]}
        out += ["", "### Step", "",
                f"One step (`next()`) in a market of n runners with full ladders whose messages change"
                f" nothing or one runner's \"atb\" ladder, median of {steps[0]['runs']} iterations of"
                f" {steps[0]['steps']:,} steps (load not timed); the cost should follow the change,"
                f" not the market's size.", ""]
        out.append(table(
            ["message", "runners", "us/step", "goal", "", f"x {STEP_RUNNERS[0]} runners"],
            [[r["step"], str(r["runners"]), f"{r['us_per_step']:.3f}", f"<= {r['goal_us_per_step']}",
              verdict(r["us_per_step"] <= r["goal_us_per_step"]),
              f"{r['us_per_step'] / base[r['step']]:.2f}" if base.get(r["step"]) else "-"]
             for r in steps]))
    return "\n".join(out) + "\n"


def main() -> int:
    parser = argparse.ArgumentParser(description="quorvane's benchmark suite")
    parser.add_argument("--quick", action="store_true",
                        help="recordings and the small files, 3 runs, shorter step files")
    parser.add_argument("--runs", type=int, help="timed runs per file and measure (default 5, quick 3)")
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
    parser.add_argument("--sizes", help="generated files, comma-separated; empty for none"
                                        " (default small,medium,large, quick small)")
    parser.add_argument("--files", nargs="+", type=Path, metavar="FILE",
                        help="recordings to bench instead of ../shared/data/real")
    parser.add_argument("--step-messages", type=int,
                        help="steps per step file (default 200000, quick 50000)")
    parser.add_argument("--results-dir", type=Path, default=RESULTS_DIR,
                        help="where the JSON and markdown results go (default bench/results)")
    parser.add_argument("--render", type=Path, metavar="RESULT",
                        help="print the tables of a saved JSON result and stop")
    parser.add_argument("--memory", metavar="PATH", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.memory:
        print(json.dumps(memory_here(args.memory)))
        return 0
    if args.render:
        sys.stdout.write(render(json.loads(args.render.read_text())))
        return 0
    quick = args.quick
    args.runs = runs = args.runs or (3 if quick else 5)
    args.peer_runs = peer_runs = args.peer_runs or (3 if quick else 5)
    step_messages = args.step_messages or (50_000 if quick else 200_000)
    sizes_text = args.sizes if args.sizes is not None else "small" if quick else ",".join(SIZES)
    sizes = [size for size in sizes_text.split(",") if size]
    if unknown := set(sizes) - set(SIZES):
        parser.error(f"unknown sizes: {', '.join(sorted(unknown))} (choose from {', '.join(SIZES)})")
    if min(runs, peer_runs, step_messages) < 1 or min(args.seconds, args.peer_seconds, args.cap, args.peer_cap) <= 0:
        parser.error("counts, budgets and caps take a positive number")

    quorvane = import_quorvane()
    peers = None if args.no_peer else import_peers()
    stamp = datetime.datetime.now(datetime.timezone.utc)
    info = machine()
    files = bench_files(args.files or [], sizes)
    load_rows = load_section(quorvane, files, runs)
    replay_rows = replay_section(quorvane, peers, files, args)
    step_rows = step_section(quorvane, runs, step_messages)
    results = {
        "time": stamp.isoformat(timespec="seconds"), "machine": info, "versions": versions(peers),
        "options": {"runs": runs, "peer_runs": peer_runs, "seconds": args.seconds,
                    "peer_seconds": args.peer_seconds, "cap": args.cap, "peer_cap": args.peer_cap,
                    "sizes": sizes, "step_messages": step_messages, "quick": quick},
        "goal_ratios": GOAL_RATIO, "load": load_rows, "replay": replay_rows, "step": step_rows,
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
