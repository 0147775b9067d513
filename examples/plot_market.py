#!/usr/bin/env python3
"""Chart each runner's best back, best lay and last traded price over the life of a market.

    python examples/plot_market.py data/sample.jsonl market.png

One panel per runner that ever had a price (in the order of the market definition), on a
shared time axis with a logarithmic price axis labelled in Betfair odds. The best back
price is drawn as a line in blue, the best lay in pink, with the spread between them
shaded, and the last traded price as black dots. A dashed red line marks the turn
in-play and the grey bands the suspensions. Removed runners are labelled as such.
"""

import argparse
import sys

import matplotlib

matplotlib.use("Agg")  # files only, no display needed

import matplotlib.dates as mdates  # noqa: E402
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.ticker import FixedLocator, NullFormatter, NullLocator  # noqa: E402

try:
    import quorvane
except ImportError as error:
    sys.exit(f"plot_market.py: cannot import quorvane ({error}); build it first with `make build`")

BACK, LAY, TRADED = "#1f77b4", "#e377c2", "black"
ODDS_TICKS = [1.01, 1.1, 1.2, 1.3, 1.4, 1.5, 1.6, 1.8, 2, 2.2, 2.5, 3, 3.5, 4, 4.5, 5, 6, 7, 8, 9, 10,
              12, 14, 16, 18, 20, 25, 30, 35, 40, 50, 60, 80, 100, 150, 200, 300, 500, 1000]
NAN = float("nan")


class Series:
    """Prices of one runner, one point per book."""

    def __init__(self):
        self.times, self.back, self.lay, self.traded = [], [], [], []
        self.removed = False


def collect(path):
    books = list(quorvane.iter_prices_file(path))
    series, previous_runner = {}, {}
    for book in books:
        for runner in book.runners:
            # A runner that did not change is the very same object as in the last book.
            if previous_runner.get(runner.selection_id) is runner:
                continue
            previous_runner[runner.selection_id] = runner
            points = series.setdefault(runner.selection_id, Series())
            points.times.append(book.publish_time)
            if runner.status == "REMOVED":
                # A removed runner keeps its last traded price; its line ends here.
                points.removed = True
                for values in (points.back, points.lay, points.traded):
                    values.append(NAN)
                continue
            ex = runner.ex
            points.back.append(ex.available_to_back[0].price if ex.available_to_back else NAN)
            points.lay.append(ex.available_to_lay[0].price if ex.available_to_lay else NAN)
            points.traded.append(runner.last_price_traded or NAN)
    return books, series


def spans(books, test):
    """(start, end) publish times of the runs of books for which test(book) holds."""
    runs, start = [], None
    for book, following in zip(books, books[1:] + [None]):
        if test(book) and start is None:
            start = book.publish_time
        if start is not None and (following is None or not test(following)):
            runs.append((start, following.publish_time if following else book.publish_time))
            start = None
    return runs


def extend_to_end(points, end):
    """Prices hold until the next change: the ladder lines run on to the end of the market."""
    if points.times and points.times[-1] < end and not points.removed:
        points.times.append(end)
        points.back.append(points.back[-1])
        points.lay.append(points.lay[-1])
        points.traded.append(NAN)


def plot(path, out):
    books, series = collect(path)
    if not books:
        sys.exit(f"plot_market.py: {path} holds no market")
    last = books[-1]
    definition = last.market_definition
    names = {r.selection_id: r.name for r in definition.runners if r.name} if definition else {}
    order = [r.selection_id for r in definition.runners] if definition else []
    order += sorted(set(series) - set(order))
    status = {r.selection_id: r.status for r in last.runners}
    shown = [sid for sid in order if sid in series and any(
        v == v for v in series[sid].back + series[sid].lay + series[sid].traded)]

    columns = 2 if len(shown) > 4 else 1
    rows = -(-len(shown) // columns)
    figure, axes = plt.subplots(rows, columns, sharex=True, squeeze=False,
                                figsize=(7 * columns + 1, 2.3 * rows + 1.2))
    inplay = next((book.publish_time for book in books if book.inplay), None)
    suspended = spans(books, lambda book: book.status == "SUSPENDED")

    for axis, selection_id in zip(axes.flat, shown):
        points = series[selection_id]
        extend_to_end(points, last.publish_time)
        axis.fill_between(points.times, points.back, points.lay, step="post", color=LAY, alpha=0.12,
                          linewidth=0)
        axis.step(points.times, points.back, where="post", color=BACK, linewidth=1.3, label="best back")
        axis.step(points.times, points.lay, where="post", color=LAY, linewidth=1.3, label="best lay")
        axis.plot(points.times, points.traded, ".", color=TRADED, markersize=2.5, label="last traded")
        for start, end in suspended:
            axis.axvspan(start, end, color="0.85", zorder=0)
        if inplay:
            axis.axvline(inplay, color="red", linestyle="--", linewidth=1.2)
        axis.set_yscale("log")
        prices = [v for v in points.back + points.lay + points.traded if v == v]
        low, high = min(prices), max(prices)
        axis.set_ylim(low / 1.08, high * 1.08)
        ticks = [t for t in ODDS_TICKS if low / 1.08 <= t <= high * 1.08]
        while len(ticks) > 6:
            ticks = ticks[::2]
        ticks = ticks or [low, high]
        axis.yaxis.set_major_locator(FixedLocator(ticks))
        axis.yaxis.set_major_formatter(lambda value, _: f"{value:g}")
        axis.yaxis.set_minor_locator(NullLocator())
        axis.yaxis.set_minor_formatter(NullFormatter())
        axis.grid(True, which="major", axis="y", color="0.9", linewidth=0.6)
        title = names.get(selection_id, str(selection_id))
        result = status.get(selection_id, "")
        if result and result != "ACTIVE":
            title += f"  ({result.lower()})"
        axis.set_title(title, loc="left", fontsize=10, fontweight="bold" if result == "WINNER" else None)
    for axis in list(axes.flat)[len(shown):]:
        axis.set_visible(False)

    for axis in axes[-1]:
        axis.xaxis.set_major_formatter(mdates.DateFormatter("%H:%M"))
        axis.set_xlabel("publish time (UTC)")
    handles, labels = axes.flat[0].get_legend_handles_labels()
    handles.append(plt.Line2D([], [], color="red", linestyle="--"))
    labels.append("turn in-play")
    handles.append(plt.Rectangle((0, 0), 1, 1, color="0.85"))
    labels.append("suspended")
    title = f"{last.market_id}"
    if definition:
        title += " " + " ".join(part for part in (definition.venue, definition.name) if part)
        if definition.market_time:
            title += f", {definition.market_time:%Y-%m-%d %H:%M} UTC"
    figure.suptitle(title, fontsize=12)
    figure.legend(handles, labels, loc="upper center", ncol=len(labels), bbox_to_anchor=(0.5, 0.965),
                  frameon=False, fontsize=9)
    figure.tight_layout(rect=(0, 0, 1, 0.93))
    figure.savefig(out, dpi=110)
    plt.close(figure)
    return len(shown)


def main() -> int:
    parser = argparse.ArgumentParser(description="Chart best back, best lay and last traded price per runner.")
    parser.add_argument("file", help="recorded stream: one JSON message per line (plain, .gz or .bz2)")
    parser.add_argument("out", help="image file to write, for example market.png")
    args = parser.parse_args()
    try:
        shown = plot(args.file, args.out)
    except ValueError as error:
        print(f"plot_market.py: cannot load {args.file}: {error}", file=sys.stderr)
        return 1
    print(f"{args.out}: {shown} runners")
    return 0


if __name__ == "__main__":
    sys.exit(main())
