#!/usr/bin/env python3
"""Replay a recorded Betfair stream file with quorvane and print the market's timeline.

    python examples/replay.py data/sample.jsonl

The timeline shows a handful of moments (the first book, evenly spaced samples, every
change of status or in-play, every runner removal and the last book): the publish time,
the market status and, per runner, its best back and lay price and last traded price.
"""

import argparse
import os
import sys
import time

try:
    import quorvane
except ImportError as error:
    sys.exit(f"replay.py: cannot import quorvane ({error}); build it first with `make build`")

SAMPLES = 4


def best(levels):
    return f"{levels[0].price:g}" if levels else "-"


def runner_line(runner, names):
    name = names.get(runner.selection_id, str(runner.selection_id))[:18]
    if runner.status != "ACTIVE":
        return f"    {name:<18} {runner.status}"
    ltp = "-" if runner.last_price_traded is None else f"{runner.last_price_traded:g}"
    return (f"    {name:<18} back {best(runner.ex.available_to_back):>6}"
            f"  lay {best(runner.ex.available_to_lay):>6}  traded {ltp:>6}")


def moment(book, names, why):
    state = "in-play" if book.inplay else "pre-race"
    print(f"{book.publish_time:%Y-%m-%d %H:%M:%S.%f}"[:-3] + f"  {book.status:<9} {state:<8} "
          f"matched {book.total_matched:>12,.2f}  ({why})")
    for runner in book.runners:
        print(runner_line(runner, names))


def main() -> int:
    parser = argparse.ArgumentParser(description="Replay a stream file (plain or .gz) and print its timeline.")
    parser.add_argument("file", help="recorded stream: one JSON message per line")
    path = parser.parse_args().file

    started = time.perf_counter()
    try:
        prices = quorvane.iter_prices_file(path)
    except ValueError as error:
        print(f"replay.py: cannot load {path}: {error}", file=sys.stderr)
        return 1
    load_seconds = time.perf_counter() - started
    megabytes = os.path.getsize(path) / 1e6
    print(f"{path}: {len(prices):,} messages, {megabytes:,.2f} MB, loaded in {load_seconds * 1e3:,.1f} ms")

    # The books are kept: each still shows its own step after the market moved on.
    started = time.perf_counter()
    books = list(prices)
    replay_seconds = time.perf_counter() - started
    if not books:
        print("no market in this file")
        return 0

    definition = next((b.market_definition for b in books if b.market_definition), None)
    names = {r.selection_id: r.name for r in definition.runners if r.name} if definition else {}
    if definition:
        print(f"market {books[0].market_id}: {definition.venue or ''} {definition.name or ''}"
              f" {definition.market_type or ''}, start {definition.market_time}".replace("  ", " "))

    step = max(1, len(books) // (SAMPLES + 1))
    previous = None
    for index, book in enumerate(books):
        reasons = []
        if previous is None:
            reasons.append("first book")
        else:
            if (book.status, book.inplay) != (previous.status, previous.inplay):
                reasons.append("status")
            was = {r.selection_id: r.status for r in previous.runners}
            removed = [r for r in book.runners if r.status == "REMOVED" and was.get(r.selection_id) != "REMOVED"]
            reasons += [f"removed {names.get(r.selection_id, r.selection_id)}" for r in removed]
        if index and index % step == 0 and index < len(books) - 1:
            reasons.append(f"step {index:,}")
        if index == len(books) - 1:
            reasons.append("last book")
        if reasons:
            moment(book, names, ", ".join(reasons))
        previous = book

    print(f"\n{len(books):,} books in {replay_seconds * 1e3:,.1f} ms"
          f" ({len(books) / replay_seconds:,.0f} books per second)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
