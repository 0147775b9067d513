"""Calling a function on many recordings at once, on processes of this machine or on a Dask cluster."""

from __future__ import annotations

import concurrent.futures
import contextlib
import dataclasses
import importlib
import os
import pickle
import sys
from collections.abc import Callable, Iterable, Iterator
from typing import TYPE_CHECKING, Generic, Protocol, TypeVar

from quorvane_tools.recordings.sources import RecordingSource

if TYPE_CHECKING:
    from distributed import Client

T = TypeVar("T")


class RecordingError(Exception):
    """A recording's failure whose own exception could not be sent from the process that ran it.

    Its message is the original exception's type and message; its notes are the original's.
    """


class _Progress(Protocol):
    def update(self, n: int = 1) -> object: ...


def replay_many(function: Callable[[RecordingSource], T], sources: Iterable[RecordingSource], *,
                processes: int | None = None, client: Client | None = None,
                progress: bool = True) -> list[T | Exception]:
    """`function(source)` for every source, in parallel; the results come back in the order of `sources`.

    The calls run in a pool of `processes` processes (default: as many as this process
    may use; 1 runs them here, one after the other) or, given a Dask distributed
    `Client`, on its cluster, whose workers need quorvane and the recordings at the same
    paths. `function` and its results must pickle: a function defined at the top of a
    module, or a `functools.partial` of one, returning plain values. `source.iter_prices()`
    replays the recording; its books stay in the worker.

    A call that raises gives its exception in its place, with a note that names the
    source ("while replaying ..."), and the other calls go on. With `progress`, a tqdm
    bar shows on a terminal when tqdm is installed.
    """
    sources = list(sources)
    with _progress_bar(len(sources), progress) as bar:
        if client is not None:
            outcomes = _on_dask(function, sources, client, bar)
        elif processes == 1 or len(sources) <= 1:
            outcomes = _here(function, sources, bar)
        else:
            outcomes = _on_processes(function, sources, processes or os.process_cpu_count() or 1, bar)
    for source, outcome in zip(sources, outcomes):
        if isinstance(outcome, Exception):
            outcome.add_note(f"while replaying {source.name}")
    return outcomes


@dataclasses.dataclass(frozen=True)
class _Call(Generic[T]):
    """The user's function, wrapped for another process: its exceptions always pickle."""

    function: Callable[[RecordingSource], T]

    def __call__(self, source: RecordingSource) -> T:
        try:
            return self.function(source)
        except Exception as error:
            failure = _portable(error)
        # Raised outside the handler, so a stand-in does not carry the original as its context.
        raise failure


def _portable(error: Exception) -> Exception:
    try:
        pickle.loads(pickle.dumps(error))
    except Exception:
        portable = RecordingError(f"{type(error).__module__}.{type(error).__qualname__}: {error}")
        for note in getattr(error, "__notes__", ()):
            portable.add_note(note)
        return portable
    return error


def _here(function: Callable[[RecordingSource], T], sources: list[RecordingSource],
          bar: _Progress) -> list[T | Exception]:
    outcomes: list[T | Exception] = []
    for source in sources:
        try:
            outcomes.append(function(source))
        except Exception as error:
            outcomes.append(error)
        bar.update()
    return outcomes


def _on_processes(function: Callable[[RecordingSource], T], sources: list[RecordingSource], processes: int,
                  bar: _Progress) -> list[T | Exception]:
    with concurrent.futures.ProcessPoolExecutor(max_workers=min(processes, len(sources))) as pool:
        futures = [pool.submit(_Call(function), source) for source in sources]
        try:
            for _ in concurrent.futures.as_completed(futures):
                bar.update()
        except BaseException:
            pool.shutdown(cancel_futures=True)
            raise
    return [_outcome(future.exception, future.result) for future in futures]


def _on_dask(function: Callable[[RecordingSource], T], sources: list[RecordingSource], client: Client,
             bar: _Progress) -> list[T | Exception]:
    from distributed import as_completed

    futures = client.map(_Call(function), sources, pure=False)
    try:
        for _ in as_completed(futures):  # type: ignore[no-untyped-call]
            bar.update()
    except BaseException:
        client.cancel(futures)  # type: ignore[no-untyped-call]
        raise
    return [_outcome(future.exception, future.result) for future in futures]


def _outcome(exception: Callable[[], BaseException | None], result: Callable[[], T]) -> T | Exception:
    error = exception()
    if error is None:
        return result()
    if isinstance(error, Exception):
        return error
    raise error  # an interrupt or exit is not a recording's failure


class _NoBar:
    def update(self, n: int = 1) -> None:
        pass


@contextlib.contextmanager
def _progress_bar(total: int, wanted: bool) -> Iterator[_Progress]:
    if wanted and sys.stderr.isatty():
        try:
            tqdm = importlib.import_module("tqdm")
        except ImportError:
            pass
        else:
            with tqdm.tqdm(total=total, unit="recording", file=sys.stderr) as bar:
                yield bar
            return
    yield _NoBar()
