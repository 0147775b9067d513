"""quorvane_tools.recordings on a service-style archive with one broken member."""

import datetime
import os
import pickle
import subprocess
import sys

import pytest

import quorvane
from quorvane_tools.recordings import (
    RecordingError,
    RecordingFile,
    catalogue,
    catalogue_entry,
    find_recordings,
    replay_many,
    select,
)

import recording_tree


@pytest.fixture(scope="module")
def tree(tmp_path_factory):
    return recording_tree.build(tmp_path_factory.mktemp("service"))


@pytest.fixture(scope="module")
def sources(tree):
    return find_recordings([tree.folder])


def count_books(source):
    return sum(1 for _ in source.iter_prices())


class Unpicklable(Exception):
    def __init__(self, message):
        super().__init__(message)
        self.callback = lambda: None


def fail_unpicklably(source):
    raise Unpicklable(f"cannot replay {source.relative_name}")


def test_finds_every_recording_and_replays_members_from_temporary_copies(tree, sources):
    names = [source.name for source in sources]
    good = list(tree.originals)
    assert names == good[:3] + [tree.broken] + good[3:]
    for source in sources:
        if source.name == tree.broken:
            continue
        with source.local_path() as path:
            # The copy keeps the member's extension, which chooses the decompression.
            assert os.path.basename(path) == os.path.basename(source.relative_name)
            assert len(quorvane.iter_prices_file(path)) == len(
                quorvane.iter_prices_file(str(tree.originals[source.name])))
        assert path == source.name or not os.path.exists(path)


def test_catalogue_describes_each_market_by_its_first_definition(tree, sources):
    entries = catalogue(sources, processes=2, progress=False)
    assert [entry.source for entry in entries] == sources
    for entry in entries:
        if entry.source.name == tree.broken:
            assert entry.error and entry.market_id is None and entry.runners is None
            continue
        assert entry.error is None
        first = next(book for book in quorvane.iter_prices_file(str(tree.originals[entry.source.name]))
                     if book.market_definition)
        definition = first.market_definition
        assert (entry.market_id, entry.event_id, entry.event_type_id, entry.event_name, entry.market_type,
                entry.market_name, entry.country_code, entry.venue, entry.runners) == (
            first.market_id, definition.event_id, definition.event_type_id, definition.event_name,
            definition.market_type, definition.name, definition.country_code, definition.venue,
            len(definition.runners))
        assert datetime.datetime.fromisoformat(entry.market_time).replace(tzinfo=None) == definition.market_time


@pytest.mark.parametrize("lines_before, search_bytes, found", [
    (0, 1 << 20, True),
    (40, 1 << 20, True),
    (40, 1000, False),  # the definition lies past the bound
    (None, 1 << 20, False),  # no definition at all
])
def test_catalogue_looks_for_the_definition_within_a_bound(write_file, lines_before, search_bytes, found):
    lines = b'{"op":"mcm","pt":1,"mc":[{"id":"1.5","rc":[]}]}\n' * (lines_before or 50)
    if lines_before is not None:
        lines += b'{"pt":2,"mc":[{"id":"1.5","marketDefinition":{"venue":"Ascot"}}]}\n'
    entry = catalogue_entry(RecordingFile(write_file("1.5", lines), "1.5"), search_bytes=search_bytes)
    assert (entry.venue == "Ascot") == found
    assert (entry.error is not None and "no market definition" in entry.error) == (not found)


@pytest.mark.parametrize("filters, markets", [
    ({}, {"1.197931750", "1.132153978", "1.209017031"}),
    ({"event_type_ids": "7"}, {"1.132153978", "1.209017031"}),
    ({"market_types": ["win"], "venues": ["newmarket", "SHEFFIELD"]}, {"1.197931750", "1.209017031"}),
    ({"country_codes": "IE"}, set()),
    ({"market_time_from": "2022-04-19T18:26Z", "market_time_to": datetime.datetime(2025, 3, 30, 19, 7)},
     {"1.197931750"}),
])
def test_select_keeps_the_matching_markets_and_every_failure(tree, sources, filters, markets):
    entries = select(catalogue(sources, processes=1, progress=False), **filters)
    assert {entry.market_id for entry in entries if entry.error is None} == markets
    assert [entry.source.name for entry in entries if entry.error] == [tree.broken]


@pytest.mark.parametrize("where", ["here", "processes", pytest.param("dask", marks=pytest.mark.slow)])
def test_replay_many_returns_results_in_order_and_failures_in_place(tree, sources, where):
    if where == "dask":
        distributed = pytest.importorskip("distributed")
        with distributed.Client(processes=False, n_workers=1, threads_per_worker=2,
                                dashboard_address=None) as client:
            results = replay_many(count_books, sources, client=client)
    else:
        results = replay_many(count_books, sources, processes=1 if where == "here" else 2)
    for source, result in zip(sources, results, strict=True):
        if source.name == tree.broken:
            assert isinstance(result, ValueError)
            assert f"while replaying {source.name}" in result.__notes__
            assert pickle.loads(pickle.dumps(result)).__notes__ == result.__notes__
        else:
            assert result == len(quorvane.iter_prices_file(str(tree.originals[source.name])))


def test_replay_many_sends_back_an_exception_that_does_not_pickle_as_its_text(sources):
    results = replay_many(fail_unpicklably, sources[:2], processes=2)
    for source, result in zip(sources, results):
        assert isinstance(result, RecordingError)
        assert str(result) == f"test_recordings.Unpicklable: cannot replay {source.relative_name}"
        assert result.__notes__ == [f"while replaying {source.name}"]


def test_the_tools_import_no_optional_extra():
    code = ("import sys, quorvane_tools.cli, quorvane_tools.recordings;"
            " print(sorted({'dask', 'distributed', 'tqdm'} & set(sys.modules)))")
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert run.stdout.strip() == "[]", run.stderr
