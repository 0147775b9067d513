"""Timings of betfairlightweight's historical replay, the peer quorvane is measured against.

    python bench/peers.py FILE...

`time_replay(path, lightweight)` replays a recording as a user of
betfairlightweight would (a fresh client, listener and historical generator
stream per replay) and returns the best wall time over `repeat` runs, with
every book it yields consumed: dicts when `lightweight` is true, MarketBook
objects otherwise. betfairlightweight reads text only, so a gzip recording
is decompressed once, before any timing.
"""

import contextlib
import gzip
import os
import shutil
import sys
import tempfile
import time

import betfairlightweight


def replay(path, lightweight):
    """Replays a plain-text recording; returns the number of market books yielded."""
    client = betfairlightweight.APIClient("username", "password", app_key="appkey")
    listener = betfairlightweight.StreamListener(max_latency=None, lightweight=lightweight,
                                                 update_clk=False)
    stream = client.streaming.create_historical_generator_stream(file_path=path,
                                                                 listener=listener)
    return sum(len(books) for books in stream.get_generator()())


@contextlib.contextmanager
def plain_text(path):
    """The recording as a plain-text file betfairlightweight can open."""
    name = os.path.basename(path)
    if not (name.rfind(".") > 0 and name.rpartition(".")[2] in ("gz", "gzip")):
        yield path
        return
    with tempfile.TemporaryDirectory() as folder:
        plain = os.path.join(folder, "recording")
        with gzip.open(path, "rb") as source, open(plain, "wb") as target:
            shutil.copyfileobj(source, target)
        yield plain


def time_replay(path, lightweight, repeat=5):
    """Best wall time in seconds of `repeat` replays, and the books of one replay."""
    with plain_text(path) as plain:
        best, books = float("inf"), 0
        for _ in range(repeat):
            start = time.perf_counter()
            books = replay(plain, lightweight)
            best = min(best, time.perf_counter() - start)
    return best, books


def time_lightweight(path, repeat=5):
    return time_replay(path, lightweight=True, repeat=repeat)


def time_objects(path, repeat=5):
    return time_replay(path, lightweight=False, repeat=repeat)


def main(paths):
    print(f"betfairlightweight {betfairlightweight.__version__}, best of 5")
    for path in paths:
        for mode, timer in (("dicts", time_lightweight), ("objects", time_objects)):
            seconds, books = timer(path)
            print(f"{path}: {mode:7} {seconds * 1e3:8.2f} ms, {books} books, "
                  f"{seconds / books * 1e6:7.1f} us/book")


if __name__ == "__main__":
    main(sys.argv[1:])
