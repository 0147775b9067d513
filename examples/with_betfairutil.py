#!/usr/bin/env python3
"""betfairutil's price helpers applied to quorvane's books.

    python examples/with_betfairutil.py [FILE]     (default: data/sample.jsonl)

`MarketBook.to_dict()` gives the lightweight dictionary layout that betfairutil's
functions take, so they work on quorvane's books unchanged. The program prints the
market's book percentage on either side (the sum of 1 / best price over the active
runners: above 100% on the back side is the overround) at evenly spaced moments before
the off, and at the off, per runner, the best back and lay price, the spread in ticks of
the Betfair price ladder and the size available at the best prices.
"""

import argparse
import pathlib
import sys

import betfairutil
from betfairutil import Side

try:
    import quorvane
except ImportError as error:
    sys.exit(f"with_betfairutil.py: cannot import quorvane ({error}); build it first with `make build`")

SAMPLE = pathlib.Path(__file__).resolve().parents[1] / "data" / "sample.jsonl"
MOMENTS = 6


def percentages(market_book):
    return (100 * betfairutil.calculate_book_percentage(market_book, Side.BACK),
            100 * betfairutil.calculate_book_percentage(market_book, Side.LAY))


def level(price_size):
    """A price dict of the lightweight layout as price and size columns."""
    if price_size is None:
        return f"{'-':>6} {'-':>9}"
    return f"{price_size['price']:>6g} {price_size['size']:>9.2f}"


def main() -> int:
    parser = argparse.ArgumentParser(description="betfairutil's helpers on quorvane's books.")
    parser.add_argument("file", nargs="?", default=str(SAMPLE), help="recorded stream (plain, .gz or .bz2)")
    path = parser.parse_args().file
    try:
        books = list(quorvane.iter_prices_file(path))
    except ValueError as error:
        print(f"with_betfairutil.py: cannot load {path}: {error}", file=sys.stderr)
        return 1

    # Pre-off books with prices: betfairutil reads dicts, so each one is converted.
    priced = [book for book in books if not book.inplay and book.status == "OPEN"
              and any(runner.ex.available_to_back for runner in book.runners)]
    if not priced:
        print(f"{path}: no open pre-off book with prices")
        return 0
    definition = books[-1].market_definition
    names = {r.selection_id: r.name for r in definition.runners} if definition else {}

    print(f"{path}: market {books[0].market_id}, {len(priced):,} open pre-off books with prices")
    print(f"\n{'publish time (UTC)':<23} {'back book %':>11} {'lay book %':>10}")
    step = max(1, len(priced) // MOMENTS)
    for book in priced[::step][:MOMENTS] + [priced[-1]]:
        back, lay = percentages(book.to_dict())
        print(f"{book.publish_time:%Y-%m-%d %H:%M:%S.%f}"[:-3] + f" {back:>11.2f} {lay:>10.2f}")

    off = priced[-1].to_dict()
    print(f"\nat the off ({priced[-1].publish_time:%H:%M:%S} UTC)")
    print(f"{'runner':<22} {'back':>6} {'size':>9} {'lay':>6} {'size':>9} {'spread':>8}")
    for runner in off["runners"]:
        if runner["status"] != "ACTIVE":
            continue
        back = betfairutil.get_best_price_size(runner, Side.BACK)
        lay = betfairutil.get_best_price_size(runner, Side.LAY)
        spread = betfairutil.get_spread(runner)
        name = names.get(runner["selectionId"]) or str(runner["selectionId"])
        ticks = "-" if spread is None else f"{spread} tick" + ("s" if spread != 1 else "")
        print(f"{name[:22]:<22} {level(back)} {level(lay)} {ticks:>8}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
