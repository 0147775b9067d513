#!/usr/bin/env python3
"""Load a recorded Betfair stream file with quorvane and say what it held.

    python examples/replay.py data/sample.jsonl
"""

import argparse
import os
import sys
import time

try:
    import quorvane
except ImportError as error:
    sys.exit(f"replay.py: cannot import quorvane ({error}); build it first with `make build`")


def main() -> int:
    parser = argparse.ArgumentParser(description="Load a stream file (plain or .gz) and report it.")
    parser.add_argument("file", help="recorded stream: one JSON message per line")
    path = parser.parse_args().file

    started = time.perf_counter()
    try:
        prices = quorvane.iter_prices_file(path)
    except ValueError as error:
        print(f"replay.py: cannot load {path}: {error}", file=sys.stderr)
        return 1
    seconds = time.perf_counter() - started

    megabytes = os.path.getsize(path) / 1e6
    print(f"file      {path}")
    print(f"messages  {len(prices):,}")
    print(f"size      {megabytes:,.2f} MB on disk")
    print(f"load      {seconds * 1e3:,.1f} ms ({megabytes / seconds:,.0f} MB/s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
