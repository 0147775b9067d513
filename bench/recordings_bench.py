#!/usr/bin/env python3
"""How fast quorvane_tools.recordings catalogues recordings, and how replay_many scales with processes.

A tree of MARKETS recordings is written to a temporary folder from the real recordings in
../shared/data/real and data/sample.jsonl, renamed as distinct markets: bz2 members of a
.tar in the historical data service's folder layout, and the same markets as loose bz2,
gzip and plain files. "big bz2" is the sample repeated to about 5 MB per market, where a
full load costs far more than reading the first definition.

catalogue: recordings per second of `catalogue` (the first market definition of each),
on 1 and on 2 processes, next to a full `iter_prices_file` of the same recordings.

replay_many: wall time of replaying every recording (every book, and `to_dict()` of the
last) on 1 and 2 processes, and the speed-up.

recompress: `gzip_copy` of every bz2 recording of the tar (written, then checked by
replaying both), on 2 processes.

Each figure is the median of RUNS runs. The machine's load average is printed before and
after, since other work on it slows every figure.

    python bench/recordings_bench.py [--markets 200] [--runs 3]
"""

from __future__ import annotations

import argparse
import bz2
import functools
import gzip
import io
import os
import statistics
import sys
import tarfile
import tempfile
import time
from collections.abc import Callable
from pathlib import Path

try:
    import quorvane
except ImportError as error:
    sys.exit(f"recordings_bench.py: cannot import quorvane ({error}); build it first with `make build`")

from quorvane_tools.recompress import gzip_copy
from quorvane_tools.recordings import ArchiveMember, RecordingSource, catalogue, find_recordings, replay_many

ROOT = Path(__file__).resolve().parents[1]
REAL_DIR = ROOT.parent / "shared" / "data" / "real"
ORIGINALS = [REAL_DIR / "1.197931750", REAL_DIR / "BASIC-1.132153978", ROOT / "data" / "sample.jsonl"]
BIG_BYTES = 5 << 20


def write_tree(folder: Path, markets: int) -> dict[str, list[str]]:
    """The paths to give `find_recordings` for every kind of tree."""
    contents = [path.read_bytes() for path in ORIGINALS if path.is_file()]
    sample = (ROOT / "data" / "sample.jsonl").read_bytes()
    big = sample * (BIG_BYTES // len(sample) + 1)
    kinds = {"tar of bz2": [str(folder / "service.tar")]}
    with tarfile.open(folder / "service.tar", "w") as tar:
        for number in range(markets):
            data = bz2.compress(contents[number % len(contents)])
            info = tarfile.TarInfo(f"PRO/2022/Jul/11/{31573045 + number}/1.{200806927 + number}.bz2")
            info.size = len(data)
            tar.addfile(info, io.BytesIO(data))
    for kind, suffix, compress, sources in (("bz2", ".bz2", bz2.compress, contents),
                                            ("gzip", ".gz", gzip.compress, contents),
                                            ("plain", "", bytes, contents),
                                            ("big bz2", ".bz2", bz2.compress, [big])):
        subfolder = folder / kind.replace(" ", "_")
        subfolder.mkdir()
        count = markets if kind != "big bz2" else max(markets // 10, 2)
        compressed = [compress(content) for content in sources]
        for number in range(count):
            (subfolder / f"1.{200806927 + number}{suffix}").write_bytes(compressed[number % len(compressed)])
        kinds[kind] = [str(subfolder)]
    return kinds


def median_seconds(runs: int, work: Callable[[], object]) -> float:
    times = []
    for _ in range(runs):
        started = time.perf_counter()
        work()
        times.append(time.perf_counter() - started)
    return statistics.median(times)


def full_load(source: RecordingSource) -> int:
    return len(source.iter_prices())


def replay(source: RecordingSource) -> int:
    last = None
    for last in source.iter_prices():
        pass
    return len(last.to_dict()) if last is not None else 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--markets", type=int, default=200, help="recordings per tree (default 200)")
    parser.add_argument("--runs", type=int, default=3, help="runs per figure (default 3)")
    args = parser.parse_args()
    if not REAL_DIR.is_dir():
        print(f"recordings_bench.py: {REAL_DIR} not found; only the sample is used", file=sys.stderr)

    print(f"load average before: {' '.join(f'{load:.2f}' for load in os.getloadavg())},"
          f" {os.cpu_count()} cores")
    with tempfile.TemporaryDirectory(prefix="quorvane-bench-") as folder:
        kinds = write_tree(Path(folder), args.markets)
        print("\n| recordings | count | catalogue, 1 process | catalogue, 2 processes | full load, 1 process |")
        print("|---|---:|---:|---:|---:|")
        for kind, paths in kinds.items():
            sources = find_recordings(paths)
            one, two = (median_seconds(args.runs, lambda n=n: catalogue(sources, processes=n, progress=False))
                        for n in (1, 2))
            load = median_seconds(args.runs, lambda: replay_many(full_load, sources, processes=1, progress=False))
            print(f"| {kind} | {len(sources)} | {len(sources) / one:,.0f} /s | {len(sources) / two:,.0f} /s"
                  f" | {len(sources) / load:,.0f} /s |")

        print("\n| replay_many | count | 1 process | 2 processes | speed-up |")
        print("|---|---:|---:|---:|---:|")
        for kind in ("tar of bz2", "gzip", "plain"):
            sources = find_recordings(kinds[kind])
            one, two = (median_seconds(args.runs, lambda n=n: replay_many(replay, sources, processes=n,
                                                                          progress=False))
                        for n in (1, 2))
            print(f"| {kind} | {len(sources)} | {one:,.2f} s | {two:,.2f} s | {one / two:.2f}x |")

        sources = find_recordings(kinds["tar of bz2"])
        out = Path(folder) / "recompressed"
        seconds = median_seconds(args.runs, lambda: replay_many(functools.partial(gzip_copy, out=out), sources,
                                                                processes=2, progress=False))
        before = sum(source.size for source in sources if isinstance(source, ArchiveMember))
        after = sum(path.stat().st_size for path in out.rglob("*.gz"))
        print(f"\nrecompress: {len(sources)} bz2 recordings ({before / 1e6:,.1f} MB) to gzip ({after / 1e6:,.1f} MB)"
              f" in {seconds:,.2f} s on 2 processes, {len(sources) / seconds:,.0f} /s")
    print(f"\nload average after: {' '.join(f'{load:.2f}' for load in os.getloadavg())}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
