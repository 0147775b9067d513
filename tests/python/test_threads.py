"""Overlapping use from several threads. A step calls back into Python (the
definition times go through datetime.datetime.strptime), so other threads can
run in the middle of it; the iterator's borrow flag must refuse them at once,
and books, which steps never change, must read the same from every thread."""

import datetime
import gzip
import os
import pathlib
import sys
import threading

import pytest

import quorvane
from book_snapshot import snapshot
from streams import change, generate, message, write_stream

WAIT = 30  # seconds; only reached when something is broken


def definition(market_time):
    return {"status": "OPEN", "marketTime": market_time, "runners": [{"id": 7, "sortPriority": 1, "status": "ACTIVE"}]}


@pytest.fixture
def stream(tmp_path):
    """Three messages; the first and the third carry a definition, so their steps call strptime."""
    return write_stream(
        tmp_path,
        message(1000, change(definition=definition("2024-05-01T12:00:00.000Z"), rc=[{"id": 7, "ltp": 2.5}])),
        message(2000, change(rc=[{"id": 7, "ltp": 3.0}])),
        message(3000, change(definition=definition("2024-05-01T13:30:00.000Z"))),
    )


class StrptimeHook:
    """Replaces datetime.datetime by a subclass whose strptime first runs `hook`."""

    def __init__(self, monkeypatch):
        self.hook = None
        outer = self
        original = datetime.datetime

        class HookedDatetime(datetime.datetime):
            @classmethod
            def strptime(cls, text, format):
                if outer.hook:
                    outer.hook()
                return original.strptime(text, format)

        monkeypatch.setattr(datetime, "datetime", HookedDatetime)


@pytest.fixture
def strptime_hook(monkeypatch):
    return StrptimeHook(monkeypatch)


def raised_by(call):
    try:
        call()
    except RuntimeError as error:
        return str(error)
    return None


def test_other_thread_is_refused_during_a_step(stream, strptime_hook):
    it = quorvane.iter_prices_file(stream)
    entered, release = threading.Event(), threading.Event()

    def block():
        strptime_hook.hook = None  # only the first call waits
        entered.set()
        assert release.wait(WAIT)

    strptime_hook.hook = block
    stepped = []
    stepper = threading.Thread(target=lambda: stepped.append(next(it)))
    stepper.start()
    try:
        assert entered.wait(WAIT)
        # The step is parked inside strptime: every other use is refused at once.
        assert raised_by(lambda: next(it)) == "Already borrowed"
        assert raised_by(lambda: len(it)) == "Already mutably borrowed"
        assert raised_by(lambda: iter(it)) == "Already mutably borrowed"
        assert raised_by(lambda: list(it)) == "Already mutably borrowed"
    finally:
        release.set()
        stepper.join(WAIT)
    assert not stepper.is_alive()

    # The refusals changed nothing: every message still yields its own book, once.
    first = stepped[0]
    assert (first.publish_time_epoch, first.market_definition.market_time) == (1000, datetime.datetime(2024, 5, 1, 12))
    assert len(it) == 3 and iter(it) is it
    assert [book.publish_time_epoch for book in it] == [2000, 3000]
    assert next(it, None) is None


def test_a_failing_callback_fails_only_its_step(stream, strptime_hook):
    it = quorvane.iter_prices_file(stream)

    def fail():
        raise KeyError("strptime is broken")

    strptime_hook.hook = fail
    with pytest.raises(KeyError, match="strptime is broken"):
        next(it)
    strptime_hook.hook = None
    # The failed step consumed its message and released the iterator; the
    # definition it could not build is built by the next step instead.
    second = next(it)
    assert second.publish_time_epoch == 2000
    assert second.market_definition.market_time == datetime.datetime(2024, 5, 1, 12)
    assert [r.last_price_traded for r in second.runners] == [3.0]
    assert len(it) == 3


def test_books_are_not_borrowed_by_a_running_step(stream, strptime_hook):
    it = quorvane.iter_prices_file(stream)
    first, second = next(it), next(it)
    before = snapshot(first), snapshot(second)
    entered, release = threading.Event(), threading.Event()

    def block():
        strptime_hook.hook = None
        entered.set()
        assert release.wait(WAIT)

    strptime_hook.hook = block
    stepper = threading.Thread(target=lambda: next(it))
    stepper.start()
    try:
        assert entered.wait(WAIT)
        # Books already handed out stay readable and writable during the step.
        assert (snapshot(first), snapshot(second)) == before
        first.streaming_unique_id = 42
        assert first.streaming_unique_id == 42
        if hasattr(first, "to_dict"):
            assert first.to_dict() == first.to_dict()
    finally:
        release.set()
        stepper.join(WAIT)
    assert not stepper.is_alive()
    first.streaming_unique_id = None
    assert (snapshot(first), snapshot(second)) == before


@pytest.fixture
def fast_switching():
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(interval)


@pytest.mark.slow
def test_books_read_from_many_threads_while_iterating(tmp_path, fast_switching):
    path = generate(tmp_path, runners=6, messages=400, depth=4, seed=11)
    books, snapshots, failures = [], [], []
    done = threading.Event()

    def read():
        checked = 0
        while not done.is_set() or checked < len(books):
            count = len(books)
            if not count:
                continue
            index = checked % count
            try:
                if snapshot(books[index]) != snapshots[index]:
                    failures.append(index)
            except Exception as error:  # noqa: BLE001 - any error is a failure of the test
                failures.append(repr(error))
            checked += 1

    readers = [threading.Thread(target=read) for _ in range(4)]
    for reader in readers:
        reader.start()
    try:
        for book in quorvane.iter_prices_file(path):
            # The snapshot is taken before the book is shared with the readers.
            snapshots.append(snapshot(book))
            books.append(book)
    finally:
        done.set()
        for reader in readers:
            reader.join(WAIT * 4)
    assert len(books) == 400
    assert not failures
    assert [snapshot(book) for book in books] == snapshots


def compressed_market(tmp_path):
    plain = pathlib.Path(generate(tmp_path, runners=10, messages=3000))
    assert plain.stat().st_size > 1 << 19  # read ahead well past the part read directly
    compressed = tmp_path / "market.jsonl.gz"
    compressed.write_bytes(gzip.compress(plain.read_bytes()))
    return compressed, 3000


def large_plain_market(tmp_path):
    lines = [message(1000, change(definition=definition("2024-05-01T12:00:00.000Z")))]
    lines += [message(1000 + i, change(rc=[{"id": 7, "ltp": 2.5 + i % 50}])) for i in range(1, 120_000)]
    path = pathlib.Path(write_stream(tmp_path, *lines))
    assert path.stat().st_size > 8 << 20  # large enough to be read ahead
    return path, len(lines)


@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="counts the process's threads in /proc")
@pytest.mark.parametrize("market", [compressed_market, large_plain_market])
def test_a_load_read_ahead_leaves_no_thread_behind(tmp_path, market):
    """A compressed or large file is read on a second thread, which must end with the load: a thread
    left behind makes every later os.fork() warn, and its child would lack it."""
    path, books = market(tmp_path)
    before = len(os.listdir("/proc/self/task"))
    assert sum(1 for _ in quorvane.iter_prices_file(str(path))) == books
    assert len(os.listdir("/proc/self/task")) == before
