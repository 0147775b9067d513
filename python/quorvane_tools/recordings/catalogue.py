"""A catalogue of recordings from their first market definition, and filters over it."""

from __future__ import annotations

import bz2
import dataclasses
import datetime
import gzip
import io
import json
import tarfile
import zlib
from collections.abc import Collection, Iterable
from typing import Any

from quorvane_tools.recordings.parallel import replay_many
from quorvane_tools.recordings.sources import RecordingSource

COLUMNS = ("source", "market_id", "event_id", "event_type_id", "event_name", "market_type", "market_name",
           "country_code", "venue", "market_time", "runners", "error")
# Recordings carry their definition in the first line; a file that has none by then is
# not read to its end (a bz2 file would take seconds per 100 MB).
DEFINITION_SEARCH_BYTES = 16 << 20
READ_FAULTS = (OSError, EOFError, ValueError, zlib.error, tarfile.TarError)


@dataclasses.dataclass(frozen=True)
class CatalogueEntry:
    """One recording as its first market definition describes it, or the error that stopped its reading."""

    source: RecordingSource
    market_id: str | None = None
    event_id: str | None = None
    event_type_id: str | None = None
    event_name: str | None = None
    market_type: str | None = None
    market_name: str | None = None
    country_code: str | None = None
    venue: str | None = None
    market_time: str | None = None
    """The definition's "marketTime" as received, e.g. "2022-07-11T13:00:00.000Z"."""
    runners: int | None = None
    error: str | None = None

    def row(self) -> dict[str, str | int | None]:
        """The entry's fields by the names of `COLUMNS`, the source by its display name."""
        values: dict[str, str | int | None] = {field: getattr(self, field) for field in COLUMNS}
        values["source"] = self.source.name
        return values


def catalogue_entry(source: RecordingSource, *, search_bytes: int = DEFINITION_SEARCH_BYTES) -> CatalogueEntry:
    """The entry of one recording, read from the start of the file up to its first market definition.

    Only lines that carry a "marketDefinition" are parsed. A recording without one in its
    first `search_bytes` decompressed bytes gets an error instead of being read to its end.
    """
    try:
        with source.open() as stored:
            market_id, definition = _first_definition(_decompressed(source, stored), search_bytes)
    except READ_FAULTS as error:
        return CatalogueEntry(source, error=str(error) or type(error).__name__)
    runners = definition.get("runners")
    return CatalogueEntry(
        source,
        market_id=market_id,
        event_id=_text(definition, "eventId"),
        event_type_id=_text(definition, "eventTypeId"),
        event_name=_text(definition, "eventName"),
        market_type=_text(definition, "marketType"),
        market_name=_text(definition, "name"),
        country_code=_text(definition, "countryCode"),
        venue=_text(definition, "venue"),
        market_time=_text(definition, "marketTime"),
        runners=len(runners) if isinstance(runners, list) else None,
    )


def catalogue(sources: Iterable[RecordingSource], *, processes: int | None = None,
              progress: bool = True) -> list[CatalogueEntry]:
    """The catalogue entries of the recordings, in their order, read on `processes` processes (default: all cores).

    A recording that cannot be read gets an entry with its `error`; it never stops the others.
    """
    entries = replay_many(catalogue_entry, sources, processes=processes, progress=progress)
    # catalogue_entry returns its faults; whatever escapes it is a fault of this program.
    for entry in entries:
        if isinstance(entry, BaseException):
            raise entry
    return [entry for entry in entries if not isinstance(entry, BaseException)]


def select(entries: Iterable[CatalogueEntry], *, event_type_ids: str | Collection[str] | None = None,
           market_types: str | Collection[str] | None = None, country_codes: str | Collection[str] | None = None,
           venues: str | Collection[str] | None = None, market_time_from: datetime.datetime | str | None = None,
           market_time_to: datetime.datetime | str | None = None) -> list[CatalogueEntry]:
    """The entries that match every filter given.

    Each text filter takes one value or several and compares without regard to case.
    The market-time range is `market_time_from` <= market time < `market_time_to`, in
    UTC; the bounds are datetimes (naive ones in UTC) or ISO texts such as "2022-07-11"
    or "2022-07-11T13:00Z". An entry with an error is always kept: what it holds is
    unknown, and its error should not go unseen.
    """
    texts = {"event_type_id": _casefolded(event_type_ids), "market_type": _casefolded(market_types),
             "country_code": _casefolded(country_codes), "venue": _casefolded(venues)}
    wanted = {field: values for field, values in texts.items() if values is not None}
    start = None if market_time_from is None else _utc(market_time_from)
    end = None if market_time_to is None else _utc(market_time_to)

    def matches(entry: CatalogueEntry) -> bool:
        if entry.error is not None:
            return True
        for field, values in wanted.items():
            value = getattr(entry, field)
            if value is None or value.casefold() not in values:
                return False
        if start is None and end is None:
            return True
        if entry.market_time is None:
            return False
        try:
            time = _utc(entry.market_time)
        except ValueError:
            return False
        return (start is None or start <= time) and (end is None or time < end)

    return [entry for entry in entries if matches(entry)]


def _decompressed(source: RecordingSource, stored: io.BufferedIOBase) -> io.BufferedIOBase:
    if source.compression == "gzip":
        return gzip.GzipFile(fileobj=stored)
    if source.compression == "bz2":
        return bz2.BZ2File(stored)
    return stored


def _first_definition(lines: io.BufferedIOBase, search_bytes: int) -> tuple[str | None, dict[str, Any]]:
    left = search_bytes
    while left > 0:
        line = lines.readline(left)
        if not line:
            raise ValueError("no market definition in the recording")
        left -= len(line)
        if b'"marketDefinition"' not in line:
            continue
        if not line.endswith(b"\n") and left == 0:
            break  # the line goes on past the bound
        message = json.loads(line)
        changes = message.get("mc") if isinstance(message, dict) else None
        for change in changes if isinstance(changes, list) else ():
            if isinstance(change, dict) and isinstance(change.get("marketDefinition"), dict):
                market_id = change.get("id")
                return market_id if isinstance(market_id, str) else None, change["marketDefinition"]
    raise ValueError(f"no market definition in the first {search_bytes:,} bytes of the recording")


def _text(definition: dict[str, Any], key: str) -> str | None:
    value = definition.get(key)
    return value if isinstance(value, str) else None


def _casefolded(values: str | Collection[str] | None) -> frozenset[str] | None:
    if values is None:
        return None
    return frozenset(value.casefold() for value in ([values] if isinstance(values, str) else values))


def _utc(moment: datetime.datetime | str) -> datetime.datetime:
    if isinstance(moment, str):
        moment = datetime.datetime.fromisoformat(moment)
    if moment.tzinfo is not None:
        moment = moment.astimezone(datetime.UTC).replace(tzinfo=None)
    return moment
