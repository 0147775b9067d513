#!/usr/bin/env python3
"""Replay a recorded Betfair stream file with quorvane and print a summary of the market.

    python examples/replay.py data/sample.jsonl

The summary names the market and its runners, lists every change of the market's status
(with the turn in-play), says how long the market was in play, and shows per runner the
prices at the off (the last book before the turn in-play, or the last book with prices
when the market never went in play), the last traded price, the result and the Betfair
starting price where the recording has them. Plain, .gz and .bz2 files are all read.
The same summary is `quorvane summary FILE`; both print it with quorvane_tools.summary.
"""

import argparse
import sys

try:
    import quorvane  # noqa: F401 (checked first, for a plain message when it is not built)
except ImportError as error:
    sys.exit(f"replay.py: cannot import quorvane ({error}); build it first with `make build`")

from quorvane_tools.summary import summarise_file


def main() -> int:
    parser = argparse.ArgumentParser(description="Summarise a recorded stream file (plain, .gz or .bz2).")
    parser.add_argument("file", help="recorded stream: one JSON message per line")
    return summarise_file(parser.parse_args().file, "replay.py")


if __name__ == "__main__":
    sys.exit(main())
