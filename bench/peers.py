"""Timings of betfairlightweight's historical replay, the peer quorvane is measured against.

    python bench/peers.py [--runs 3] FILE...

A replay runs as a user of betfairlightweight writes it: a fresh client, listener and
historical generator stream, and every book it yields consumed. `replay_dicts` is its
lightweight mode (dicts). `replay_objects` is its object mode (MarketBook objects) with a
strategy's reads on every book, the best back and lay price of every runner; the reads are
timed apart, so one run gives both the replay alone and the replay with the reads.

betfairlightweight reads text only: `plain_text` hands it a gzip or bzip2 recording
decompressed into a temporary file, and the timings exclude that decompression.
"""

import argparse
import bz2
import contextlib
import gzip
import os
import shutil
import statistics
import sys
import tempfile
import time

import betfairlightweight

DECOMPRESSORS = {"gz": gzip.open, "gzip": gzip.open, "bz2": bz2.open}


def generator(path, lightweight):
    client = betfairlightweight.APIClient("username", "password", app_key="appkey")
    listener = betfairlightweight.StreamListener(max_latency=None, lightweight=lightweight,
                                                 update_clk=False)
    stream = client.streaming.create_historical_generator_stream(file_path=path,
                                                                 listener=listener)
    return stream.get_generator()


def every(market_books):
    return market_books


def replay_dicts(path, within=every):
    """Wall seconds of a lightweight replay of a plain-text recording, and its books.
    The replay iterates `within(generator)`, which may stop it early: the books then say
    how far it came."""
    books = 0
    started = time.perf_counter()
    for market_books in within(generator(path, lightweight=True)()):
        books += len(market_books)
    return time.perf_counter() - started, books


def replay_objects(path, within=every):
    """Wall seconds of an object-mode replay that reads every runner's best back and lay
    price of every book, the seconds of it spent on those reads, and the books; `within`
    as for replay_dicts."""
    reading, books = 0.0, 0
    started = time.perf_counter()
    for market_books in within(generator(path, lightweight=False)()):
        read_started = time.perf_counter()
        for book in market_books:
            for runner in book.runners:
                back, lay = runner.ex.available_to_back, runner.ex.available_to_lay
                best_back = back[0].price if back else None
                best_lay = lay[0].price if lay else None
        reading += time.perf_counter() - read_started
        books += len(market_books)
    return time.perf_counter() - started, reading, books


def is_compressed(path):
    name = os.path.basename(path)
    return name.rfind(".") > 0 and name.rpartition(".")[2] in DECOMPRESSORS


@contextlib.contextmanager
def plain_text(path):
    """The recording as a plain-text file betfairlightweight can open."""
    if not is_compressed(path):
        yield path
        return
    with tempfile.TemporaryDirectory() as folder:
        plain = os.path.join(folder, "recording")
        with DECOMPRESSORS[path.rpartition(".")[2]](path, "rb") as source, \
                open(plain, "wb") as target:
            shutil.copyfileobj(source, target, 1 << 20)
        yield plain


def main():
    parser = argparse.ArgumentParser(description="betfairlightweight's replay timings")
    parser.add_argument("--runs", type=int, default=3, help="replays per file and mode (default 3)")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    print(f"betfairlightweight {betfairlightweight.__version__}, median of {args.runs}")
    for path in args.files:
        with plain_text(path) as plain:
            dicts = [replay_dicts(plain) for _ in range(args.runs)]
            objects = [replay_objects(plain) for _ in range(args.runs)]
        books = dicts[0][1]
        for mode, seconds in (("dicts", statistics.median(s for s, _ in dicts)),
                              ("objects", statistics.median(s - r for s, r, _ in objects)),
                              ("objects+reads", statistics.median(s for s, _, _ in objects))):
            print(f"{path}: {mode:13} {seconds * 1e3:10.2f} ms, {books} books, "
                  f"{seconds / max(books, 1) * 1e6:7.1f} us/book")


if __name__ == "__main__":
    sys.exit(main())
