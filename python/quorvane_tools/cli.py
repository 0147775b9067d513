"""The `quorvane` command: a catalogue of recordings, a market's summary, and recompressing bz2 as gzip."""

from __future__ import annotations

import argparse
import csv
import datetime
import functools
import json
import sys
from collections.abc import Sequence

from quorvane_tools.recompress import gzip_copy
from quorvane_tools.recordings import COLUMNS, CatalogueEntry, catalogue, find_recordings, replay_many, select
from quorvane_tools.summary import summarise_file

PROGRAM = "quorvane"
TABLE_COLUMNS = ("source", "market_id", "event_type_id", "market_type", "country_code", "venue", "market_time",
                 "runners", "event_name", "market_name")


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line `quorvane COMMAND ...` and returns its exit status."""
    args = _parser().parse_args(argv)
    status: int = args.run(args)
    return status


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROGRAM, description="Work with recorded Betfair Exchange stream files (plain, .gz or .bz2).",
        epilog="PATH is a recording, a folder (searched recursively) or a .tar or .tar.gz archive of them.")
    commands = parser.add_subparsers(required=True, metavar="COMMAND")

    listing = commands.add_parser(
        "catalogue", help="one row per recording, from its first market definition",
        description="One row per recording, read from its first market definition (the start of the file"
                    " only). The exit status is 1 when any recording failed, 0 otherwise.")
    listing.add_argument("paths", nargs="+", metavar="PATH", help="recordings, folders or tar archives")
    listing.add_argument("--format", choices=("table", "csv", "json"), default="table", help="default: table")
    listing.add_argument("--event-type", action="append", metavar="ID", help="event type id, e.g. 7 (repeatable)")
    listing.add_argument("--market-type", action="append", metavar="TYPE", help="e.g. WIN (repeatable)")
    listing.add_argument("--country", action="append", metavar="CODE", help="country code, e.g. GB (repeatable)")
    listing.add_argument("--venue", action="append", help="venue, e.g. Ascot (repeatable)")
    listing.add_argument("--from", dest="market_time_from", type=_time, metavar="TIME",
                         help="market time at or after TIME (ISO, UTC), e.g. 2022-07-11")
    listing.add_argument("--to", dest="market_time_to", type=_time, metavar="TIME",
                         help="market time before TIME (ISO, UTC), e.g. 2022-07-12T00:00")
    _add_processes(listing)
    listing.set_defaults(run=_catalogue)

    summary = commands.add_parser(
        "summary", help="a summary of one recording's market",
        description="Replays one recording and prints its market, status timeline, time in play, prices at"
                    " the off, last traded prices, winners and starting prices.")
    summary.add_argument("file", metavar="FILE", help="a recording: plain, .gz or .bz2")
    summary.set_defaults(run=_summary)

    recompress = commands.add_parser(
        "recompress", help="rewrite bz2 recordings as gzip, which loads several times faster",
        description="Rewrites every bz2 recording found as gzip below DIR, at its path below its folder or"
                    " archive, keeping each copy only when it replays to the same last book. Other"
                    " recordings are skipped. The exit status is 1 when any recording failed.")
    recompress.add_argument("paths", nargs="+", metavar="PATH", help="recordings, folders or tar archives")
    recompress.add_argument("--to", choices=("gzip",), required=True, help="the new compression")
    recompress.add_argument("--out", required=True, metavar="DIR", help="folder for the rewritten recordings")
    _add_processes(recompress)
    recompress.set_defaults(run=_recompress)
    return parser


def _add_processes(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--processes", type=int, metavar="N", help="worker processes (default: all cores)")


def _time(text: str) -> datetime.datetime:
    return datetime.datetime.fromisoformat(text)


def _catalogue(args: argparse.Namespace) -> int:
    sources = find_recordings(args.paths)
    if not sources:
        print(f"{PROGRAM} catalogue: no recordings found", file=sys.stderr)
    entries = select(catalogue(sources, processes=args.processes), event_type_ids=args.event_type,
                     market_types=args.market_type, country_codes=args.country, venues=args.venue,
                     market_time_from=args.market_time_from, market_time_to=args.market_time_to)
    rows = [entry.row() for entry in entries]
    if args.format == "csv":
        writer = csv.DictWriter(sys.stdout, fieldnames=COLUMNS, lineterminator="\n")
        writer.writeheader()
        writer.writerows(rows)
    elif args.format == "json":
        json.dump(rows, sys.stdout, indent=1)
        print()
    else:
        _print_table(entries)
    return 1 if any(entry.error is not None for entry in entries) else 0


def _print_table(entries: Sequence[CatalogueEntry]) -> None:
    cells = [{column: "" if value is None else str(value) for column, value in entry.row().items()}
             for entry in entries]
    widths = {column: max([len(column), *(len(row[column]) for row in cells)]) for column in TABLE_COLUMNS}
    print("  ".join(f"{column:<{widths[column]}}" for column in TABLE_COLUMNS).rstrip())
    for row in cells:
        if row["error"]:
            print(f"{row['source']:<{widths['source']}}  error: {row['error']}")
        else:
            print("  ".join(f"{row[column]:<{widths[column]}}" for column in TABLE_COLUMNS).rstrip())


def _summary(args: argparse.Namespace) -> int:
    return summarise_file(args.file, f"{PROGRAM} summary")


def _recompress(args: argparse.Namespace) -> int:
    sources = find_recordings(args.paths)
    chosen = [source for source in sources if source.compression == "bz2"]
    results = replay_many(functools.partial(gzip_copy, out=args.out), chosen, processes=args.processes)
    failed = 0
    for source, result in zip(chosen, results):
        if isinstance(result, Exception):
            failed += 1
            print(f"{source.name}: error: {result}", file=sys.stderr)
    written = [result for result in results if isinstance(result, str)]
    print(f"rewrote {len(written)} of {len(chosen)} bz2 recordings as gzip in {args.out}"
          f" ({len(sources) - len(chosen)} other recordings skipped, {failed} failed)")
    return 1 if failed else 0
