"""Recordings at scale: finding them, a catalogue of their markets, and replaying many at once.

- `find_recordings(paths)`: the recordings in files, folders (searched recursively)
  and .tar or .tar.gz archives, as `RecordingSource` values (`ArchiveMember` for one
  in an archive);
- `catalogue(sources)`: one `CatalogueEntry` per recording from its first market
  definition, read from the start of the file only; `select(entries, ...)` filters it;
- `replay_many(function, sources)`: `function(source)` for every recording, on a
  process pool or a Dask cluster, with the results in the order of `sources`.
"""

from quorvane_tools.recordings.catalogue import (
    COLUMNS,
    DEFINITION_SEARCH_BYTES,
    CatalogueEntry,
    catalogue,
    catalogue_entry,
    select,
)
from quorvane_tools.recordings.parallel import RecordingError, replay_many
from quorvane_tools.recordings.sources import (
    ArchiveMember,
    RecordingFile,
    RecordingSource,
    UnreadableArchive,
    find_recordings,
)

__all__ = [
    "COLUMNS",
    "DEFINITION_SEARCH_BYTES",
    "ArchiveMember",
    "CatalogueEntry",
    "RecordingError",
    "RecordingFile",
    "RecordingSource",
    "UnreadableArchive",
    "catalogue",
    "catalogue_entry",
    "find_recordings",
    "replay_many",
    "select",
]
