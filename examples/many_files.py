#!/usr/bin/env python3
"""Replay folders or tar archives of recordings in parallel and collect one summary per market.

    python examples/many_files.py PATH... [--workers 4] [--csv summary.csv]
    python examples/many_files.py PATH... --dask [--workers 2]
    python examples/many_files.py PATH... --dask --scheduler tcp://10.0.0.5:8786

The recordings are found by `quorvane_tools.recordings.find_recordings` (folders are
searched recursively, .tar and .tar.gz archives are read member by member) and replayed
by `replay_many`: every recording from start to end in a worker process, from which only
the small summary dict travels back, with a tqdm progress bar on a terminal. The default
runs on this machine's cores; `--dask` runs the very same function on a Dask cluster: a
`LocalCluster` of `--workers` processes, or the cluster whose scheduler `--scheduler`
names (its workers need quorvane installed and the files at the same paths). A recording
that fails to load is reported in its row; the exit status is 1 when any did.
"""

import argparse
import csv
import os
import sys

try:
    import quorvane  # noqa: F401 (checked first, for a plain message when it is not built)
except ImportError as error:
    sys.exit(f"many_files.py: cannot import quorvane ({error}); build it first with `make build`")

from quorvane_tools.recordings import find_recordings, replay_many

COLUMNS = ["file", "market_id", "event", "market", "books", "runners", "inplay_at", "winners",
           "winner_bsp", "total_matched", "error"]


def summarise(source):
    """One market's summary: plain values only, so that it pickles cheaply."""
    row = dict.fromkeys(COLUMNS, "")
    row["file"] = source.relative_name
    prices = source.iter_prices()
    last = inplay_at = None
    books = 0
    for book in prices:
        books += 1
        if inplay_at is None and book.inplay:
            inplay_at = book.publish_time
        last = book
    row["books"] = books
    if last is None:
        return row
    definition = last.market_definition
    names = {r.selection_id: r.name for r in definition.runners} if definition else {}
    winners = [r for r in last.runners if r.status == "WINNER"]
    row.update(
        market_id=last.market_id,
        event=definition.event_name or "" if definition else "",
        market=" ".join(p for p in (definition.venue, definition.name) if p) if definition else "",
        runners=len(last.runners),
        inplay_at=f"{inplay_at:%Y-%m-%d %H:%M:%S}" if inplay_at else "",
        winners=", ".join(names.get(r.selection_id) or str(r.selection_id) for r in winners),
        winner_bsp=", ".join(f"{r.sp.actual_sp:g}" for r in winners if isinstance(r.sp.actual_sp, float)),
        total_matched=round(last.total_matched, 2),
    )
    return row


def summaries(sources, workers, dask=False, scheduler=None):
    if not dask:
        return replay_many(summarise, sources, processes=workers)
    from dask.distributed import Client, LocalCluster

    # One thread per worker process: a replay holds the interpreter lock throughout.
    cluster = None if scheduler else LocalCluster(n_workers=workers, threads_per_worker=1,
                                                  processes=True, dashboard_address=None)
    try:
        with Client(scheduler or cluster) as client:
            return replay_many(summarise, sources, client=client)
    finally:
        if cluster is not None:
            cluster.close()


def failed_row(source, error):
    return dict(dict.fromkeys(COLUMNS, ""), file=source.relative_name, error=str(error))


def print_table(rows, out=sys.stdout):
    shown = ["file", "market_id", "market", "books", "inplay_at", "winners", "winner_bsp", "total_matched"]
    widths = {c: max(len(c), *(len(str(row[c])) for row in rows)) for c in shown}
    print("  ".join(f"{c:<{widths[c]}}" for c in shown), file=out)
    for row in rows:
        if row["error"]:
            print(f"{row['file']:<{widths['file']}}  error: {row['error']}", file=out)
        else:
            print("  ".join(f"{str(row[c]):<{widths[c]}}" for c in shown), file=out)


def main() -> int:
    parser = argparse.ArgumentParser(description="Replay folders or archives of recordings in parallel.")
    parser.add_argument("paths", nargs="+", metavar="PATH",
                        help="recordings (plain, .gz or .bz2), folders or .tar archives of them")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1, help="worker processes")
    parser.add_argument("--dask", action="store_true", help="run on a Dask cluster")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (with --dask)")
    parser.add_argument("--csv", help="also write the summaries to this CSV file")
    args = parser.parse_args()

    sources = find_recordings(args.paths)
    if not sources:
        print(f"many_files.py: no recordings in {' '.join(args.paths)}", file=sys.stderr)
        return 1
    results = summaries(sources, args.workers, args.dask, args.scheduler)
    rows = [failed_row(source, result) if isinstance(result, Exception) else result
            for source, result in zip(sources, results)]
    print_table(rows)
    if args.csv:
        with open(args.csv, "w", newline="", encoding="utf-8") as out:
            writer = csv.DictWriter(out, fieldnames=COLUMNS)
            writer.writeheader()
            writer.writerows(rows)
    return 1 if any(row["error"] for row in rows) else 0


if __name__ == "__main__":
    sys.exit(main())
