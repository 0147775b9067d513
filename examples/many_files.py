#!/usr/bin/env python3
"""Replay a folder of recordings in parallel and collect one summary per market.

    python examples/many_files.py DIR [--workers 4] [--csv summary.csv]
    python examples/many_files.py DIR --dask [--workers 2]
    python examples/many_files.py DIR --dask --scheduler tcp://10.0.0.5:8786

Every file is replayed from start to end in a worker process; only the small summary
dict travels back. The default runs on this machine with `concurrent.futures` and a tqdm
progress bar. `--dask` runs the very same function on a Dask cluster: a `LocalCluster`
of `--workers` processes, or the cluster whose scheduler `--scheduler` names (its
workers need quorvane installed and the files at the same paths). A file that fails to
load is reported in its row; the exit status is 1 when any did.
"""

import argparse
import concurrent.futures
import csv
import os
import pathlib
import sys

from tqdm import tqdm

try:
    import quorvane
except ImportError as error:
    sys.exit(f"many_files.py: cannot import quorvane ({error}); build it first with `make build`")

NOT_RECORDINGS = {".md", ".txt", ".csv", ".json", ".png", ".py", ".stamp", ".tmp"}
COLUMNS = ["file", "market_id", "event", "market", "books", "runners", "inplay_at", "winners",
           "winner_bsp", "total_matched", "error"]


def recordings(directory):
    return sorted(str(path) for path in pathlib.Path(directory).iterdir()
                  if path.is_file() and not path.name.startswith(".") and path.suffix not in NOT_RECORDINGS)


def summarise(path):
    """One market's summary: plain values only, so that it pickles cheaply."""
    row = dict.fromkeys(COLUMNS, "")
    row["file"] = os.path.basename(path)
    try:
        prices = quorvane.iter_prices_file(path)
    except ValueError as error:
        row["error"] = str(error)
        return row
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


def with_processes(paths, workers):
    rows = []
    with concurrent.futures.ProcessPoolExecutor(max_workers=workers) as pool:
        futures = [pool.submit(summarise, path) for path in paths]
        for future in tqdm(concurrent.futures.as_completed(futures), total=len(futures), unit="file"):
            rows.append(future.result())
    return rows


def with_dask(paths, workers, scheduler=None):
    from dask.distributed import Client, LocalCluster, as_completed

    # One thread per worker process: a replay holds the interpreter lock throughout.
    cluster = None if scheduler else LocalCluster(n_workers=workers, threads_per_worker=1,
                                                  processes=True, dashboard_address=None)
    try:
        with Client(scheduler or cluster) as client:
            futures = client.map(summarise, paths, pure=False)
            return [future.result()
                    for future in tqdm(as_completed(futures), total=len(futures), unit="file")]
    finally:
        if cluster is not None:
            cluster.close()


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
    parser = argparse.ArgumentParser(description="Replay a folder of recordings in parallel.")
    parser.add_argument("directory", help="folder of recordings (plain, .gz or .bz2)")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1, help="worker processes")
    parser.add_argument("--dask", action="store_true", help="run on a Dask cluster")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler (with --dask)")
    parser.add_argument("--csv", help="also write the summaries to this CSV file")
    args = parser.parse_args()

    paths = recordings(args.directory)
    if not paths:
        print(f"many_files.py: no recordings in {args.directory}", file=sys.stderr)
        return 1
    if args.dask:
        rows = with_dask(paths, args.workers, args.scheduler)
    else:
        rows = with_processes(paths, args.workers)
    rows.sort(key=lambda row: row["file"])
    print_table(rows)
    if args.csv:
        with open(args.csv, "w", newline="", encoding="utf-8") as out:
            writer = csv.DictWriter(out, fieldnames=COLUMNS)
            writer.writeheader()
            writer.writerows(rows)
    return 1 if any(row["error"] for row in rows) else 0


if __name__ == "__main__":
    sys.exit(main())
