#!/usr/bin/env python3
"""Chart each runner's best back, best lay and last traded price over the life of a market.

    python examples/plot_market.py data/sample.jsonl market.png

One panel per runner that ever had a price (in the order of the market definition), on a
shared time axis with a logarithmic price axis labelled in Betfair odds, and below them a
panel of the amount matched on the market over time. The best back price is drawn as a
line in blue, the best lay in pink, with the spread between them shaded, and the last
traded price as black dots. While the market is suspended or closed no price is drawn:
grey bands mark the suspensions, a dotted green line the scheduled start and a dashed
red line the turn in-play. Removed runners are labelled as such. The legend lists only
what the chart shows, and the time axis names the dates when the market spans several.
"""

import argparse
import datetime
import sys

import matplotlib

matplotlib.use("Agg")  # files only, no display needed

import matplotlib.dates as mdates  # noqa: E402
import matplotlib.pyplot as plt  # noqa: E402
from matplotlib.ticker import FixedLocator, Formatter, FuncFormatter, NullFormatter, NullLocator  # noqa: E402

try:
    import quorvane
except ImportError as error:
    sys.exit(f"plot_market.py: cannot import quorvane ({error}); build it first with `make build`")

BACK, LAY, TRADED, VOLUME = "#1f77b4", "#e377c2", "black", "#7f7f7f"
SUSPENDED, START, INPLAY = "0.85", "#2ca02c", "red"
ODDS_TICKS = [1.01, 1.1, 1.2, 1.3, 1.4, 1.5, 1.6, 1.8, 2, 2.2, 2.5, 3, 3.5, 4, 4.5, 5, 6, 7, 8, 9, 10,
              12, 14, 16, 18, 20, 25, 30, 35, 40, 50, 60, 80, 100, 150, 200, 300, 500, 1000]
# Widths of the volume panel's bars, the first that gives at most MAX_BARS bars.
BAR_WIDTHS = [(datetime.timedelta(seconds=s), label) for s, label in (
    (1, "second"), (5, "5 s"), (15, "15 s"), (60, "minute"), (300, "5 min"), (900, "15 min"),
    (3600, "hour"), (4 * 3600, "4 hours"), (86400, "day"))]
MAX_BARS = 90
NAN = float("nan")


class Series:
    """Prices of one runner, one point per book in which they changed."""

    def __init__(self):
        self.times, self.back, self.lay, self.traded = [], [], [], []
        self.priced = False
        self.removed = False

    def add(self, time, back, lay, traded):
        self.times.append(time)
        self.back.append(back)
        self.lay.append(lay)
        self.traded.append(traded)


def collect(path):
    books = list(quorvane.iter_prices_file(path))
    series, previous_runner, was_trading = {}, {}, None
    for book in books:
        # Prices only mean something while the market is open: a suspension
        # breaks every line, and the reopening draws every runner again.
        trading = book.status == "OPEN"
        if trading != was_trading:
            previous_runner.clear()
            was_trading = trading
        for runner in book.runners:
            # A runner that did not change is the very same object as in the last book.
            if previous_runner.get(runner.selection_id) is runner:
                continue
            previous_runner[runner.selection_id] = runner
            points = series.setdefault(runner.selection_id, Series())
            ex = runner.ex
            back = ex.available_to_back[0].price if ex.available_to_back else NAN
            lay = ex.available_to_lay[0].price if ex.available_to_lay else NAN
            traded = runner.last_price_traded or NAN
            points.priced |= any(value == value for value in (back, lay, traded))
            if runner.status == "REMOVED":
                # A removed runner keeps its last traded price; its line ends here.
                points.removed = True
            if not trading or points.removed:
                back = lay = traded = NAN
            points.add(book.publish_time, back, lay, traded)
    return books, series


class TimeOfDay(Formatter):
    """Times of day; the first tick, and the first of every new day, also show the date."""

    def __call__(self, value, pos=None):
        return self.format_ticks([value])[0]

    def format_ticks(self, values):
        moments = [mdates.num2date(value) for value in values]
        clock = "%H:%M:%S" if any(moment.second for moment in moments) else "%H:%M"
        labels, day = [], None
        for moment in moments:
            labels.append(moment.strftime(clock) + (moment.strftime("\n%d %b %Y") if moment.date() != day else ""))
            day = moment.date()
        return labels


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
    if points.times and points.times[-1] < end:
        points.add(end, points.back[-1], points.lay[-1], NAN)


def has_values(values):
    return any(value == value for value in values)


def draw_prices(axis, points):
    """Draws one runner's lines; returns the labels of what it drew."""
    drawn = []
    if has_values(points.back) and has_values(points.lay):
        axis.fill_between(points.times, points.back, points.lay, step="post", color=LAY, alpha=0.12,
                          linewidth=0)
    for values, colour, label in ((points.back, BACK, "best back"), (points.lay, LAY, "best lay")):
        if has_values(values):
            axis.step(points.times, values, where="post", color=colour, linewidth=1.3, label=label)
            drawn.append(label)
    if has_values(points.traded):
        axis.plot(points.times, points.traded, ".", color=TRADED, markersize=2.5, label="last traded")
        drawn.append("last traded")
    prices = [v for v in points.back + points.lay + points.traded if v == v]
    low, high = (min(prices), max(prices)) if prices else (1.01, 1000)
    axis.set_yscale("log")
    axis.set_ylim(low / 1.08, high * 1.08)
    ticks = [t for t in ODDS_TICKS if low / 1.08 <= t <= high * 1.08]
    while len(ticks) > 6:
        ticks = ticks[::2]
    axis.yaxis.set_major_locator(FixedLocator(ticks or [low, high]))
    axis.yaxis.set_major_formatter(FuncFormatter(lambda value, _: f"{value:g}"))
    axis.yaxis.set_minor_locator(NullLocator())
    axis.yaxis.set_minor_formatter(NullFormatter())
    axis.grid(True, which="major", axis="y", color="0.9", linewidth=0.6)
    return drawn


def draw_volume(axis, books):
    """Bars of the amount matched on the market in each interval; False when none was."""
    start, end = books[0].publish_time, books[-1].publish_time
    width, label = next(((w, l) for w, l in BAR_WIDTHS if (end - start) / w <= MAX_BARS), BAR_WIDTHS[-1])
    bars: dict[int, float] = {}
    matched = books[0].total_matched
    for book in books[1:]:
        # total_matched only grows while the market trades; a fall (a new
        # image after a reconnection) restarts the count.
        bar = int((book.publish_time - start) / width)
        bars[bar] = bars.get(bar, 0.0) + max(book.total_matched - matched, 0.0)
        matched = book.total_matched
    bars = {bar: amount for bar, amount in bars.items() if amount > 0}
    if not bars:
        axis.text(0.5, 0.5, "no volume matched in this recording", transform=axis.transAxes,
                  ha="center", va="center", color=VOLUME, fontsize=9)
        axis.set_yticks([])
        return False
    left = [mdates.date2num(start + bar * width) for bar in bars]
    axis.bar(left, list(bars.values()), width=width / datetime.timedelta(days=1), align="edge", color=VOLUME)
    axis.yaxis.set_major_formatter(FuncFormatter(lambda value, _: f"{value / 1000:g}k" if value >= 1000
                                                 else f"{value:g}"))
    axis.set_ylabel(f"matched\nper {label}", fontsize=8)
    axis.grid(True, axis="y", color="0.9", linewidth=0.6)
    return True


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
    shown = [sid for sid in order if sid in series and series[sid].priced]

    columns = 2 if len(shown) > 4 else 1
    rows = max(1, -(-len(shown) // columns))
    figure = plt.figure(figsize=(7 * columns + 1, 2.3 * rows + 2.6))
    grid = figure.add_gridspec(rows + 1, columns, height_ratios=[1] * rows + [0.8])
    # One volume panel under each column, so that every panel's times line up with it.
    volume_axes = [figure.add_subplot(grid[rows, 0])]
    volume_axes += [figure.add_subplot(grid[rows, c], sharex=volume_axes[0]) for c in range(1, columns)]
    axes = [figure.add_subplot(grid[i // columns, i % columns], sharex=volume_axes[0]) for i in range(len(shown))]

    inplay = next((book.publish_time for book in books if book.inplay), None)
    suspended = spans(books, lambda book: book.status == "SUSPENDED")
    first = books[0].publish_time
    scheduled = definition.market_time if definition else None
    if scheduled is not None and not first <= scheduled <= last.publish_time:
        scheduled = None  # outside the recording: it would only stretch the axis

    drawn = set()
    for axis, selection_id in zip(axes, shown):
        points = series[selection_id]
        extend_to_end(points, last.publish_time)
        drawn.update(draw_prices(axis, points))
        title = names.get(selection_id, str(selection_id))
        result = status.get(selection_id, "")
        if result and result != "ACTIVE":
            title += f"  ({result.lower()})"
        axis.set_title(title, loc="left", fontsize=10, fontweight="bold" if result == "WINNER" else None)
        axis.tick_params(labelbottom=False)
    for axis in volume_axes:
        draw_volume(axis, books)
    for axis in axes + volume_axes:
        for start, end in suspended:
            axis.axvspan(start, end, color=SUSPENDED, zorder=0)
        if scheduled:
            axis.axvline(scheduled, color=START, linestyle=":", linewidth=1.4)
        if inplay:
            axis.axvline(inplay, color=INPLAY, linestyle="--", linewidth=1.2)

    for axis in volume_axes:
        axis.xaxis.set_major_locator(mdates.AutoDateLocator(minticks=5, maxticks=12))
        axis.xaxis.set_major_formatter(TimeOfDay())
        axis.set_xlabel("publish time (UTC)")
    volume_axes[0].set_xlim(first, last.publish_time)

    legend = [(plt.Line2D([], [], color=BACK, linewidth=1.3), "best back"),
              (plt.Line2D([], [], color=LAY, linewidth=1.3), "best lay"),
              (plt.Line2D([], [], color=TRADED, marker=".", linestyle=""), "last traded")]
    legend = [(handle, label) for handle, label in legend if label in drawn]
    if suspended:
        legend.append((plt.Rectangle((0, 0), 1, 1, color=SUSPENDED), "suspended"))
    if scheduled:
        legend.append((plt.Line2D([], [], color=START, linestyle=":"), "scheduled start"))
    if inplay:
        legend.append((plt.Line2D([], [], color=INPLAY, linestyle="--"), "turn in-play"))

    title = f"{last.market_id}"
    if definition:
        title += " " + " ".join(part for part in (definition.venue, definition.name) if part)
        if definition.market_time:
            title += f", {definition.market_time:%Y-%m-%d %H:%M} UTC"
    figure.suptitle(title, fontsize=12)
    if legend:
        figure.legend(*zip(*legend), loc="upper center", ncol=len(legend), bbox_to_anchor=(0.5, 0.965),
                      frameon=False, fontsize=9)
    figure.tight_layout(rect=(0, 0, 1, 0.94))
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
