#!/usr/bin/env python3
"""flumine backtests on quorvane's stream against flumine's own stream, on the same files.

Per file: a whole FlumineSimulation with the two strategies of examples/flumine_backtest.py,
once on flumine's BetfairHistoricalStream and once on quorvane_tools' QuorvaneHistoricalStream,
and the data path alone (the stream's generator consumed, no simulation). Runs of the two
streams alternate and the tables show medians; the trades of both streams are compared on
every run. Goal: the whole simulation at least 2.5 x faster on every file of 1 MB or more.

Files: as bench/bench.py finds them, the real recordings and the generated markets of
data/large (by default small and medium; large takes flumine's stream many minutes a run).

    python bench/flumine_bench.py [--runs 3] [--sizes small,medium] [--files FILE...]
    python bench/flumine_bench.py --profile FILE    # where a simulation on quorvane's stream spends its time
"""

from __future__ import annotations

import argparse
import cProfile
import datetime
import gc
import json
import pstats
import statistics
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path[:0] = [str(ROOT / "bench"), str(ROOT / "examples")]

import bench as suite  # noqa: E402 (the suite's files, tables and machine line)

GOAL_SPEED_UP = 2.5
GOAL_FROM_BYTES = 1_000_000


def streams():
    from flumine.streams.betfairhistoricalstream import BetfairHistoricalStream

    from quorvane_tools.flumine import QuorvaneHistoricalStream

    return {"flumine": BetfairHistoricalStream, "quorvane": QuorvaneHistoricalStream}


def trades(orders) -> list[tuple]:
    """What a backtest's result is made of: every order's placing, fate and profit. flumine's own
    books carry aware datetimes, quorvane's naive ones, both in UTC."""
    return [(o.trade.strategy.name, o.selection_id, o.side, o.order_type.ORDER_TYPE.value,
             str(o.order_type.place_instruction()), o.date_time_created.replace(tzinfo=None), o.status.value,
             o.size_matched, o.average_price_matched, o.size_cancelled, o.size_voided,
             o.size_lapsed, o.profit) for o in orders]


def simulation(stream_class, path: Path) -> tuple[float, list[tuple]]:
    import flumine_backtest

    gc.collect()
    started = time.perf_counter()
    orders = flumine_backtest.backtest([stream_class(file_path=str(path))])
    return time.perf_counter() - started, trades(orders)


def data_path(stream_class, path: Path) -> tuple[float, int]:
    """Seconds to consume the stream's generator, and the books it gave."""
    gc.collect()
    started = time.perf_counter()
    books = sum(len(market_books) for market_books in stream_class(file_path=str(path)).create_generator()())
    return time.perf_counter() - started, books


def bench_file(file: suite.BenchFile, runs: int) -> dict:
    classes = streams()
    seconds: dict[str, list[float]] = {f"{kind}_{side}": [] for kind in ("simulation", "data") for side in classes}
    identical, orders, books = True, 0, {}
    for run in range(runs):
        suite.note(f"flumine: {file.label}, run {run + 1} of {runs}")
        results = {}
        for side, stream_class in classes.items():
            taken, results[side] = simulation(stream_class, file.path)
            seconds[f"simulation_{side}"].append(taken)
            taken, books[side] = data_path(stream_class, file.path)
            seconds[f"data_{side}"].append(taken)
        identical &= results["flumine"] == results["quorvane"]
        orders = len(results["flumine"])
    medians = {key: statistics.median(values) for key, values in seconds.items()}
    return {"file": file.label, "uncompressed_bytes": file.size, "books": books["flumine"],
            "quorvane_books": books["quorvane"], "runs": runs, "orders": orders, "identical": identical,
            "seconds": seconds, **{f"{key}_seconds": value for key, value in medians.items()},
            "simulation_speed_up": medians["simulation_flumine"] / medians["simulation_quorvane"],
            "data_speed_up": medians["data_flumine"] / medians["data_quorvane"],
            "goal_speed_up": GOAL_SPEED_UP if file.size >= GOAL_FROM_BYTES else None}


def render(results: dict) -> str:
    info = results["machine"]
    out = [f"Run of {results['time']} on {info['cpu']}, {info['cores']} cores, Python {info['python']};"
           f" load average {info['load_average'][0]:.1f} at the start; quorvane {results['commit']},"
           f" flumine {results['flumine']}.", "",
           "A whole FlumineSimulation with the strategies of examples/flumine_backtest.py on flumine's"
           " stream and on quorvane's, and the data path alone (the stream's generator consumed),"
           " median of \"runs\" alternating runs. trades says whether every order, fill, status and"
           f" profit was the same on both streams in every run. Goal: simulation >= {GOAL_SPEED_UP}x"
           " faster on files of 1 MB or more.", ""]
    out.append(suite.table(
        ["file", "MB", "books", "runs", "orders", "trades", "flumine s", "quorvane s", "speed-up", "goal", "",
         "data flumine ms", "data quorvane ms", "data speed-up"],
        [[r["file"], f"{r['uncompressed_bytes'] / 1e6:.2f}", f"{r['books']:,}", str(r["runs"]), str(r["orders"]),
          "identical" if r["identical"] and r["books"] == r["quorvane_books"] else "DIFFER",
          f"{r['simulation_flumine_seconds']:.2f}", f"{r['simulation_quorvane_seconds']:.2f}",
          f"{r['simulation_speed_up']:.1f}x",
          *(["-", ""] if r["goal_speed_up"] is None else
            [f">= {r['goal_speed_up']}x", suite.verdict(r["simulation_speed_up"] >= r["goal_speed_up"])]),
          f"{r['data_flumine_seconds'] * 1e3:,.1f}", f"{r['data_quorvane_seconds'] * 1e3:,.1f}",
          f"{r['data_speed_up']:.1f}x"]
         for r in results["files"]]))
    return "\n".join(out) + "\n"


def profile(path: Path, top: int) -> None:
    """The functions a simulation on quorvane's stream spends the most own time in."""
    import flumine_backtest

    from quorvane_tools.flumine import QuorvaneHistoricalStream

    profiler = cProfile.Profile()
    profiler.runcall(flumine_backtest.backtest, [QuorvaneHistoricalStream(file_path=str(path))])
    pstats.Stats(profiler).sort_stats("tottime").print_stats(top)


def main() -> int:
    parser = argparse.ArgumentParser(description="flumine backtests on quorvane's stream and on flumine's")
    parser.add_argument("--runs", type=int, default=3, help="runs per file and stream (default 3)")
    parser.add_argument("--sizes", default="small,medium",
                        help="generated files, comma-separated; empty for none (default small,medium)")
    parser.add_argument("--files", nargs="+", type=Path, metavar="FILE",
                        help="recordings to bench instead of ../shared/data/real")
    parser.add_argument("--results-dir", type=Path, default=suite.RESULTS_DIR,
                        help="where the JSON and markdown results go (default bench/results)")
    parser.add_argument("--profile", type=Path, metavar="FILE", help="profile one simulation on FILE and stop")
    parser.add_argument("--top", type=int, default=25, help="functions the profile lists (default 25)")
    args = parser.parse_args()
    if args.profile:
        profile(args.profile, args.top)
        return 0
    sizes = [size for size in args.sizes.split(",") if size]
    if unknown := set(sizes) - set(suite.SIZES):
        parser.error(f"unknown sizes: {', '.join(sorted(unknown))}")
    if args.runs < 1:
        parser.error("--runs takes a positive number")

    import flumine

    stamp = datetime.datetime.now(datetime.timezone.utc)
    info = suite.machine()
    rows = [bench_file(file, args.runs) for file in suite.bench_files(args.files or [], sizes)]
    results = {"time": stamp.isoformat(timespec="seconds"), "machine": info,
               "commit": suite.versions(None)["quorvane_commit"], "flumine": flumine.__version__,
               "runs": args.runs, "files": rows}
    tables = render(results)
    sys.stdout.write(tables)
    args.results_dir.mkdir(parents=True, exist_ok=True)
    out = args.results_dir / f"flumine-{stamp:%Y%m%d-%H%M%S}.json"
    out.write_text(json.dumps(results, indent=2, default=str) + "\n")
    out.with_suffix(".md").write_text(tables)
    suite.note(f"results: {out} and {out.with_suffix('.md').name}")
    return 0 if all(r["identical"] and r["books"] == r["quorvane_books"] for r in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
