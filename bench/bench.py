#!/usr/bin/env python3
"""quorvane benchmarks.

load: how fast `iter_prices_file` reads and pre-parses a whole file (MB/s of uncompressed
stream data, plain, gzip and bz2) and how much memory the loaded iterator holds against the
file's uncompressed size. Files: the real recordings in ../shared/data/real (when present)
and the generated markets in data/large (written by scripts/make_bench_data.sh when missing).

iterate: books per second of a full `for book in iterator` over the plain files (the load
is not timed), and the cost of one step in a 10-runner market whose messages change
nothing (an empty market-change list) or one runner's "atb" ladder (µs per step).

to_dict: a replay as a user of `to_dict` runs it (load, iterate, `book.to_dict()` of every
book) next to betfairlightweight's historical replay in lightweight mode (dicts) over the same
files, as the ratio quorvane / betfairlightweight of the median wall times. betfairlightweight
reads text only: it gets a gzip file decompressed before its timing starts.

The tables are printed and the figures are written as JSON to bench/results/.

    python bench/bench.py [--runs 5] [--to-dict-runs 3] [--sizes small,medium,large]
"""

from __future__ import annotations

import argparse
import bz2
import ctypes
import datetime
import gc
import json
import os
import platform
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

LOAD_GOAL_MB_S = {"plain": 300.0, "gzip": 250.0, "bz2": None}
HELD_GOAL_RATIO = 1.5
# Small files load in about a millisecond: repeat them until the timings cover this long.
MIN_TIMED_SECONDS = 0.5
MAX_RUNS = 500

TO_DICT_GOAL_RATIO = 0.2  # quorvane at least 5 times faster than the peer

STEP_GOAL_US = {"unchanged": 0.3, "one runner atb": 1.5}
STEP_MESSAGES = 200_000
STEP_RUNNERS = 10


def import_quorvane():
    try:
        import quorvane
    except ImportError as error:
        sys.exit(f"bench.py: cannot import quorvane ({error}); build it first with `make build`")
    return quorvane


def kind_of(path: Path) -> str:
    if path.suffix == ".bz2":
        return "bz2"
    return "gzip" if path.suffix in (".gz", ".gzip") else "plain"


def uncompressed_size(path: Path) -> int:
    if kind_of(path) == "plain":
        return path.stat().st_size
    if kind_of(path) == "bz2":
        with bz2.open(path) as file:
            return sum(len(chunk) for chunk in iter(lambda: file.read(1 << 20), b""))
    # The reader takes the first gzip member only, and so does this count.
    inflater = zlib.decompressobj(wbits=31)
    total = 0
    with open(path, "rb") as file:
        while not inflater.eof and (chunk := file.read(1 << 20)):
            total += len(inflater.decompress(chunk))
    return total


def bench_files(sizes: list[str]) -> list[tuple[str, Path]]:
    files = []
    if REAL_DIR.is_dir():
        files += [(f"real/{p.name}", p) for p in sorted(REAL_DIR.iterdir())
                  if p.is_file() and p.suffix != ".md"]
    else:
        print(f"note: {REAL_DIR} is missing; the real recordings are left out")
    if sizes:
        env = dict(os.environ, PYTHON=sys.executable)
        subprocess.run([str(ROOT / "scripts" / "make_bench_data.sh"), *sizes], check=True, env=env)
        for size in sizes:
            for suffix in (".jsonl", ".jsonl.gz"):
                path = LARGE_DIR / f"{size}{suffix}"
                files.append((f"large/{path.name}", path))
        bz2_copy = bz2_file(LARGE_DIR / f"{sizes[0]}.jsonl")
        files.append((f"large/{bz2_copy.name}", bz2_copy))
    return files


def bz2_file(plain: Path) -> Path:
    """A bzip2 copy of a generated file (one stream, level 9), written when missing or stale."""
    path = plain.with_name(plain.name + ".bz2")
    if not path.exists() or path.stat().st_mtime < plain.stat().st_mtime:
        temporary = path.with_name(path.name + ".tmp")
        temporary.write_bytes(bz2.compress(plain.read_bytes()))
        temporary.replace(path)
    return path


def time_load(quorvane, path: Path, runs: int) -> tuple[float, int, int]:
    """Median seconds of one load, the stored message count and the runs taken."""
    gc.collect()
    started = time.perf_counter()
    messages = len(quorvane.iter_prices_file(str(path)))  # warms the page cache too
    first = time.perf_counter() - started
    runs = max(runs, min(MAX_RUNS, int(MIN_TIMED_SECONDS / max(first, 1e-6))))
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


# Held memory. tracemalloc sees only Python's allocator, not the module's native one, so
# the figure is the growth of the process's anonymous resident memory (/proc/self/statm:
# resident less file-backed pages) across one load, taken in a fresh interpreter: a process
# that has loaded and freed files before keeps freed pages and would show too little. The
# first load also pages in the code of the module and its libraries, file-backed pages that
# the process maps once whatever it loads; they are reported apart as code bytes. quorvane is
# imported before the first reading, nothing else reads the file, and malloc_trim hands pages
# that the load used only in passing (line buffers, the parser's tree) back to the system
# before each reading, so what remains is what the iterator holds.

def resident_bytes() -> tuple[int, int]:
    """Anonymous and file-backed resident bytes."""
    with open("/proc/self/statm") as statm:
        fields = statm.read().split()
    page = os.sysconf("SC_PAGE_SIZE")
    resident, file_backed = int(fields[1]) * page, int(fields[2]) * page
    return resident - file_backed, file_backed


def release_free_heap() -> None:
    trim = getattr(ctypes.CDLL(None), "malloc_trim", None)
    if trim is not None:
        trim(0)


def held_memory_here(path: str) -> dict:
    quorvane = import_quorvane()
    gc.collect()
    release_free_heap()
    anonymous, file_backed = resident_bytes()
    prices = quorvane.iter_prices_file(path)
    gc.collect()
    release_free_heap()
    anonymous_after, file_backed_after = resident_bytes()
    return {"held_bytes": anonymous_after - anonymous, "code_bytes": file_backed_after - file_backed,
            "messages": len(prices)}


def held_memory(path: Path) -> dict:
    child = subprocess.run([sys.executable, __file__, "--held-memory", str(path)],
                           check=True, capture_output=True, text=True)
    return json.loads(child.stdout)


def load_section(quorvane, files: list[tuple[str, Path]], runs: int) -> list[dict]:
    rows = []
    for label, path in files:
        kind = kind_of(path)
        size = uncompressed_size(path)
        seconds, messages, taken = time_load(quorvane, path, runs)
        memory = held_memory(path)
        if memory["messages"] != messages:
            sys.exit(f"bench.py: {label} gave {messages} and {memory['messages']} messages")
        rows.append({
            "file": label, "kind": kind, "uncompressed_bytes": size, "messages": messages,
            "runs": taken, "median_seconds": seconds, "mb_per_s": size / 1e6 / seconds,
            "goal_mb_per_s": LOAD_GOAL_MB_S[kind], "held_bytes": memory["held_bytes"], "code_bytes": memory["code_bytes"],
            "held_ratio": memory["held_bytes"] / size if size else 0.0,
            "goal_held_ratio": HELD_GOAL_RATIO})
    return rows


def print_load(rows: list[dict]) -> None:
    print(f"\nload: iter_prices_file (MB = 10^6 bytes of uncompressed stream data; median)")
    print(f"goals: plain >= {LOAD_GOAL_MB_S['plain']:.0f} MB/s, gzip >= {LOAD_GOAL_MB_S['gzip']:.0f} MB/s,"
          f" bz2 none (bounded by libbz2), held <= {HELD_GOAL_RATIO} x file")
    header = (f"{'file':<28} {'kind':<5} {'MB':>8} {'messages':>9} {'runs':>5} {'ms':>9}"
              f" {'MB/s':>8} {'goal':>5} {'held MB':>8} {'x file':>7} {'goal':>5}")
    print(header)
    print("-" * len(header))
    for row in rows:
        goal = row["goal_mb_per_s"]
        fast = "-" if goal is None else "ok" if row["mb_per_s"] >= goal else "MISS"
        lean = row["held_ratio"] <= row["goal_held_ratio"]
        print(f"{row['file']:<28} {row['kind']:<5} {row['uncompressed_bytes'] / 1e6:>8.2f}"
              f" {row['messages']:>9,} {row['runs']:>5} {row['median_seconds'] * 1e3:>9.2f}"
              f" {row['mb_per_s']:>8.1f} {fast:>5}"
              f" {row['held_bytes'] / 1e6:>8.2f} {row['held_ratio']:>7.2f} {'ok' if lean else 'MISS':>5}")


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


def iterate_section(quorvane, files: list[tuple[str, Path]], runs: int) -> list[dict]:
    rows = []
    for label, path in files:
        if kind_of(path) != "plain":
            continue  # the steps do not depend on how the file was stored
        seconds, books = time_iteration(quorvane, path, runs)
        rows.append({"file": label, "books": books, "median_seconds": seconds,
                     "books_per_s": books / seconds if seconds else 0.0,
                     "us_per_book": seconds / books * 1e6 if books else 0.0})
    return rows


def step_files(directory: Path) -> dict[str, Path]:
    """A 10-runner market with full ladders, then messages that change nothing or
    one runner's best back price each."""
    market = "1.100000001"
    runners = [{"id": 1000 + i, "sortPriority": i + 1, "status": "ACTIVE"} for i in range(STEP_RUNNERS)]
    image = {"op": "mcm", "pt": 1_600_000_000_000, "mc": [{
        "id": market, "img": True,
        "marketDefinition": {"status": "OPEN", "marketTime": "2021-03-18T13:20:00.000Z", "runners": runners},
        "rc": [{"id": r["id"], "ltp": 3.0,
                "atb": [[round(3.0 - 0.05 * k, 2), 10 + k] for k in range(10)],
                "atl": [[round(3.05 + 0.05 * k, 2), 10 + k] for k in range(10)],
                "trd": [[round(2.5 + 0.05 * k, 2), 5 + k] for k in range(10)]} for r in runners]}]}
    files = {}
    for name, change in (
        ("unchanged", lambda i: []),
        ("one runner atb", lambda i: [{"id": market, "rc": [
            {"id": 1000 + i % STEP_RUNNERS, "atb": [[3.0, 10 + (i // STEP_RUNNERS) % 2 + 1]]}]}]),
    ):
        path = directory / f"{name.replace(' ', '-')}.jsonl"
        with open(path, "w", encoding="utf-8") as out:
            out.write(json.dumps(image) + "\n")
            for i in range(STEP_MESSAGES):
                out.write(json.dumps({"op": "mcm", "pt": 1_600_000_000_001 + i, "mc": change(i)}) + "\n")
        files[name] = path
    return files


def step_section(quorvane, runs: int) -> list[dict]:
    rows = []
    with tempfile.TemporaryDirectory() as directory:
        for name, path in step_files(Path(directory)).items():
            seconds, books = time_iteration(quorvane, path, runs)
            if books != STEP_MESSAGES + 1:
                sys.exit(f"bench.py: {name} gave {books} books")
            rows.append({"step": name, "runners": STEP_RUNNERS, "steps": books, "median_seconds": seconds,
                         "us_per_step": seconds / books * 1e6, "goal_us_per_step": STEP_GOAL_US[name]})
    return rows


def print_iterate(rows: list[dict], steps: list[dict]) -> None:
    print("\niterate: for book in iterator (load not timed; median)")
    header = f"{'file':<28} {'books':>9} {'ms':>9} {'books/s':>11} {'us/book':>8}"
    print(header)
    print("-" * len(header))
    for row in rows:
        print(f"{row['file']:<28} {row['books']:>9,} {row['median_seconds'] * 1e3:>9.2f}"
              f" {row['books_per_s']:>11,.0f} {row['us_per_book']:>8.3f}")
    print(f"\nstep: {STEP_RUNNERS}-runner market, {STEP_MESSAGES:,} steps per run (median)")
    header = f"{'message':<28} {'us/step':>8} {'goal':>6} {'':>5}"
    print(header)
    print("-" * len(header))
    for row in steps:
        ok = row["us_per_step"] < row["goal_us_per_step"]
        print(f"{row['step']:<28} {row['us_per_step']:>8.3f} {row['goal_us_per_step']:>6.1f}"
              f" {'ok' if ok else 'MISS':>5}")


def time_to_dict_replay(quorvane, path: Path) -> tuple[float, int]:
    """Wall seconds of loading, iterating and exporting every book, and the books."""
    started = time.perf_counter()
    books = 0
    for book in quorvane.iter_prices_file(str(path)):
        book.to_dict()
        books += 1
    return time.perf_counter() - started, books


def to_dict_section(quorvane, files: list[tuple[str, Path]], runs: int) -> list[dict]:
    sys.path.insert(0, str(ROOT / "bench"))
    try:
        import peers
    except ImportError as error:
        print(f"note: betfairlightweight is not importable ({error}); the to_dict section is left out")
        return []
    rows = []
    # Runs alternate between the two sides, so that a busy machine slows both alike.
    for label, path in files:
        ours, theirs, books, peer_books = [], [], 0, 0
        for _ in range(runs):
            seconds, books = time_to_dict_replay(quorvane, path)
            ours.append(seconds)
            seconds, peer_books = peers.time_lightweight(str(path), repeat=1)
            theirs.append(seconds)
        ours_s, theirs_s = statistics.median(ours), statistics.median(theirs)
        rows.append({"file": label, "books": books, "peer_books": peer_books, "runs": runs,
                     "median_seconds": ours_s, "peer_median_seconds": theirs_s,
                     "ratio": ours_s / theirs_s, "goal_ratio": TO_DICT_GOAL_RATIO})
    return rows


def print_to_dict(rows: list[dict]) -> None:
    if not rows:
        return
    print("\nto_dict: load + iterate + to_dict() of every book, against betfairlightweight's"
          " lightweight replay (median wall time)")
    print(f"goal: quorvane / betfairlightweight <= {TO_DICT_GOAL_RATIO}")
    header = (f"{'file':<28} {'books':>9} {'peer books':>10} {'runs':>4} {'ms':>10} {'peer ms':>10}"
              f" {'us/book':>8} {'ratio':>6} {'goal':>5}")
    print(header)
    print("-" * len(header))
    for row in rows:
        ok = row["ratio"] <= row["goal_ratio"]
        print(f"{row['file']:<28} {row['books']:>9,} {row['peer_books']:>10,} {row['runs']:>4}"
              f" {row['median_seconds'] * 1e3:>10.2f} {row['peer_median_seconds'] * 1e3:>10.2f}"
              f" {row['median_seconds'] / max(row['books'], 1) * 1e6:>8.2f} {row['ratio']:>6.2f}"
              f" {'ok' if ok else 'MISS':>5}")


def machine() -> dict:
    cpu = platform.processor()
    try:
        with open("/proc/cpuinfo") as info:
            cpu = next(line.split(":", 1)[1].strip() for line in info if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    return {"python": sys.version.split()[0], "platform": platform.platform(), "cpu": cpu,
            "cores": os.cpu_count()}


def main() -> int:
    parser = argparse.ArgumentParser(description="quorvane benchmarks")
    parser.add_argument("--runs", type=int, default=5, help="timed loads per file, at least (default 5)")
    parser.add_argument("--to-dict-runs", type=int, default=3,
                        help="timed replays per file and side in the to_dict section (default 3)")
    parser.add_argument("--sizes", default=",".join(SIZES),
                        help="generated files to include, comma-separated; empty for none")
    parser.add_argument("--held-memory", metavar="PATH", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.held_memory:
        print(json.dumps(held_memory_here(args.held_memory)))
        return 0
    sizes = [size for size in args.sizes.split(",") if size]
    if unknown := set(sizes) - set(SIZES):
        parser.error(f"unknown sizes: {', '.join(sorted(unknown))} (choose from {', '.join(SIZES)})")

    quorvane = import_quorvane()
    files = bench_files(sizes)
    rows = load_section(quorvane, files, args.runs)
    print_load(rows)
    iterate_rows = iterate_section(quorvane, files, args.runs)
    steps = step_section(quorvane, args.runs)
    print_iterate(iterate_rows, steps)
    to_dict_rows = to_dict_section(quorvane, files, args.to_dict_runs)
    print_to_dict(to_dict_rows)

    stamp = datetime.datetime.now(datetime.timezone.utc)
    results = {"time": stamp.isoformat(timespec="seconds"), "machine": machine(), "load": rows, "iterate": iterate_rows,
               "step": steps, "to_dict": to_dict_rows}
    RESULTS_DIR.mkdir(parents=True, exist_ok=True)
    out = RESULTS_DIR / f"bench-{stamp:%Y%m%d-%H%M%S}.json"
    out.write_text(json.dumps(results, indent=2) + "\n")
    print(f"\nresults: {out.relative_to(ROOT)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
