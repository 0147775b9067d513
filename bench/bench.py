#!/usr/bin/env python3
"""quorvane benchmarks.

load: how fast `iter_prices_file` reads and pre-parses a whole file (MB/s of uncompressed
stream data, plain and gzip) and how much memory the loaded iterator holds against the
file's uncompressed size. Files: the real recordings in ../shared/data/real (when present)
and the generated markets in data/large (written by scripts/make_bench_data.sh when missing).

The table is printed and the figures are written as JSON to bench/results/.

    python bench/bench.py [--runs 5] [--sizes small,medium,large]
"""

from __future__ import annotations

import argparse
import ctypes
import datetime
import gc
import json
import os
import platform
import statistics
import subprocess
import sys
import time
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
REAL_DIR = ROOT.parent / "shared" / "data" / "real"
LARGE_DIR = ROOT / "data" / "large"
RESULTS_DIR = ROOT / "bench" / "results"
SIZES = ("small", "medium", "large")

LOAD_GOAL_MB_S = {"plain": 300.0, "gzip": 250.0}
HELD_GOAL_RATIO = 1.5
# Small files load in about a millisecond: repeat them until the timings cover this long.
MIN_TIMED_SECONDS = 0.5
MAX_RUNS = 500


def import_quorvane():
    try:
        import quorvane
    except ImportError as error:
        sys.exit(f"bench.py: cannot import quorvane ({error}); build it first with `make build`")
    return quorvane


def kind_of(path: Path) -> str:
    return "gzip" if path.suffix in (".gz", ".gzip") else "plain"


def uncompressed_size(path: Path) -> int:
    if kind_of(path) == "plain":
        return path.stat().st_size
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
    return files


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
          f" held <= {HELD_GOAL_RATIO} x file")
    header = (f"{'file':<28} {'kind':<5} {'MB':>8} {'messages':>9} {'runs':>5} {'ms':>9}"
              f" {'MB/s':>8} {'goal':>5} {'held MB':>8} {'x file':>7} {'goal':>5}")
    print(header)
    print("-" * len(header))
    for row in rows:
        fast = row["mb_per_s"] >= row["goal_mb_per_s"]
        lean = row["held_ratio"] <= row["goal_held_ratio"]
        print(f"{row['file']:<28} {row['kind']:<5} {row['uncompressed_bytes'] / 1e6:>8.2f}"
              f" {row['messages']:>9,} {row['runs']:>5} {row['median_seconds'] * 1e3:>9.2f}"
              f" {row['mb_per_s']:>8.1f} {'ok' if fast else 'MISS':>5}"
              f" {row['held_bytes'] / 1e6:>8.2f} {row['held_ratio']:>7.2f} {'ok' if lean else 'MISS':>5}")


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
    rows = load_section(quorvane, bench_files(sizes), args.runs)
    print_load(rows)

    stamp = datetime.datetime.now(datetime.timezone.utc)
    results = {"time": stamp.isoformat(timespec="seconds"), "machine": machine(), "load": rows}
    RESULTS_DIR.mkdir(parents=True, exist_ok=True)
    out = RESULTS_DIR / f"bench-{stamp:%Y%m%d-%H%M%S}.json"
    out.write_text(json.dumps(results, indent=2) + "\n")
    print(f"\nresults: {out.relative_to(ROOT)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
