"""A printed summary of one recording's market: what `quorvane summary FILE` and examples/replay.py show.

The summary names the market and its runners, lists every change of the market's status
(with the turn in-play), says how long the market was in play, and shows per runner the
prices at the off (the last book before the turn in-play, or the last book with prices
when the market never went in play), the last traded price, the result and the Betfair
starting price where the recording has them.
"""

from __future__ import annotations

import datetime
import os
import sys
import time
from collections.abc import Sequence
from typing import TextIO

import quorvane


def clock(moment: datetime.datetime) -> str:
    return f"{moment:%H:%M:%S.%f}"[:-3]


def duration(seconds: float) -> str:
    minutes, seconds = divmod(seconds, 60)
    return f"{int(minutes)}m {seconds:04.1f}s" if minutes else f"{seconds:.1f}s"


def price(value: float | str | None) -> str:
    """A price as the exchange shows it; a starting price the stream gave as text stays that text."""
    if value is None:
        return "-"
    return value if isinstance(value, str) else f"{value:g}"


def best(levels: Sequence[quorvane.PriceSize]) -> float | None:
    return levels[0].price if levels else None


def status_timeline(books: Sequence[quorvane.MarketBook]) -> list[tuple[quorvane.MarketBook, str]]:
    """(book, label) at the first book and at every change of status or in-play."""
    changes: list[tuple[quorvane.MarketBook, str]] = []
    previous: tuple[str, bool] | None = None
    for book in books:
        state = (book.status, book.inplay)
        if state != previous:
            changes.append((book, book.status + (" in-play" if book.inplay else "")))
            previous = state
    return changes


def prices_at_the_off(books: Sequence[quorvane.MarketBook]) -> quorvane.MarketBook | None:
    """The last book before the turn in-play; without one, the last book that has prices."""
    before = books
    turn = next((i for i, book in enumerate(books) if book.inplay), None)
    if turn is not None:
        before = books[:turn]
    for book in reversed(before):
        if any(runner.ex.available_to_back or runner.ex.available_to_lay for runner in book.runners):
            return book
    return None


def summarise(books: Sequence[quorvane.MarketBook], out: TextIO = sys.stdout) -> None:
    """Prints the summary of a market from all of its books, in order."""
    last = books[-1]
    definition = last.market_definition
    names = {r.selection_id: r.name for r in definition.runners if r.name} if definition else {}
    order = {r.selection_id: r.sort_priority for r in definition.runners} if definition else {}

    def name(selection_id: int) -> str:
        return names.get(selection_id) or str(selection_id)

    print(f"market {last.market_id}", file=out)
    if definition:
        title = " ".join(part for part in (definition.venue, definition.name) if part)
        details = ", ".join(part for part in (definition.market_type, definition.event_name,
                                              definition.country_code) if part)
        print(f"  {title} ({details})", file=out)
        if definition.market_time:
            print(f"  scheduled start {definition.market_time:%Y-%m-%d %H:%M:%S} UTC", file=out)
        print(f"  {len(definition.runners)} runners, {definition.number_of_winners} to win,"
              f" {'a' if definition.bsp_market else 'no'} BSP market", file=out)

    print("\nstatus", file=out)
    for book, label in status_timeline(books):
        print(f"  {book.publish_time:%Y-%m-%d} {clock(book.publish_time)}  {label}", file=out)

    inplay = [book for book in books if book.inplay]
    if inplay:
        start, end = inplay[0].publish_time, inplay[-1].publish_time
        late = ""
        if definition and definition.market_time:
            late = f", {duration((start - definition.market_time).total_seconds())} after the scheduled start"
        print(f"  in play from {clock(start)}{late}, for {duration((end - start).total_seconds())}", file=out)
    else:
        print("  never in play", file=out)
    print(f"  matched {last.total_matched:,.2f}", file=out)

    off = prices_at_the_off(books)
    at_off = {runner.selection_id: runner for runner in off.runners} if off else {}
    heading = f"at the off ({clock(off.publish_time)})" if off else "no prices in the recording"
    print(f"\n{'runner':<22} {'back':>6} {'lay':>6} {'traded':>7} {'BSP':>7}  result"
          f"    back/lay {heading}", file=out)
    for runner in sorted(last.runners, key=lambda r: (order.get(r.selection_id, 1 << 31), r.selection_id)):
        before = at_off.get(runner.selection_id)
        back = best(before.ex.available_to_back) if before else None
        lay = best(before.ex.available_to_lay) if before else None
        print(f"{name(runner.selection_id)[:22]:<22} {price(back):>6} {price(lay):>6}"
              f" {price(runner.last_price_traded):>7} {price(runner.sp.actual_sp):>7}"
              f"  {runner.status}", file=out)

    winners = [r for r in last.runners if r.status == "WINNER"]
    if winners:
        print("\nwinner: " + ", ".join(
            name(r.selection_id) + ("" if r.sp.actual_sp is None else f" (BSP {price(r.sp.actual_sp)})")
            for r in winners), file=out)
    for runner in last.runners:
        if runner.status == "REMOVED":
            factor = "" if runner.adjustment_factor is None else f", adjustment factor {runner.adjustment_factor:g}"
            print(f"removed: {name(runner.selection_id)} at {runner.removal_date or 'an unknown time'}{factor}",
                  file=out)


def summarise_file(path: str, program: str, out: TextIO = sys.stdout) -> int:
    """Loads and replays a recording, prints its timings and summary, and returns the exit status.

    A file that cannot be loaded is reported on stderr as "PROGRAM: cannot load PATH: ..." (status 1).
    """
    started = time.perf_counter()
    try:
        prices = quorvane.iter_prices_file(path)
    except ValueError as error:
        print(f"{program}: cannot load {path}: {error}", file=sys.stderr)
        return 1
    load_seconds = time.perf_counter() - started
    # The books are kept: each still shows its own step after the market moved on.
    started = time.perf_counter()
    books = list(prices)
    replay_seconds = time.perf_counter() - started
    print(f"{path}: {os.path.getsize(path) / 1e6:,.2f} MB, {len(prices):,} messages loaded in"
          f" {load_seconds * 1e3:,.1f} ms, {len(books):,} books replayed in {replay_seconds * 1e3:,.1f} ms\n",
          file=out)
    if not books:
        print("no market in this file", file=out)
        return 0
    summarise(books, out)
    return 0
