"""Recordings compressed with bzip2, as Betfair's historical data service delivers them."""

import bz2
import os
import pathlib

import pytest

import quorvane

pytestmark = pytest.mark.reader

SAMPLE = pathlib.Path(__file__).resolve().parents[2] / "data" / "sample.jsonl"


def replayed(path):
    """What every step shows, down to each runner's ladders."""
    return [
        (book.publish_time_epoch, book.market_id, book.status, book.inplay, book.total_matched,
         [(runner.selection_id, runner.status, runner.last_price_traded,
           [(level.price, level.size) for level in runner.ex.available_to_back],
           [(level.price, level.size) for level in runner.ex.available_to_lay],
           [(level.price, level.size) for level in runner.ex.traded_volume])
          for runner in book.runners])
        for book in quorvane.iter_prices_file(path)
    ]


def open_descriptors_to(path):
    fds = pathlib.Path("/proc/self/fd")
    targets = []
    for fd in fds.iterdir():
        try:
            targets.append(os.readlink(fd))
        except OSError:
            pass
    return targets.count(os.path.realpath(path))


def split_in(data, parts):
    lines = data.splitlines(keepends=True)
    size = -(-len(lines) // parts)
    return [b"".join(lines[i:i + size]) for i in range(0, len(lines), size)]


@pytest.mark.parametrize("streams", [1, 3], ids=["one stream", "three streams"])
def test_sample_reads_as_its_plain_copy(tmp_path, streams):
    plain = SAMPLE.read_bytes()
    path = tmp_path / "sample.jsonl.bz2"
    # pbzip2 writes one stream per block of input, back to back.
    path.write_bytes(b"".join(bz2.compress(part) for part in split_in(plain, streams)))
    books = replayed(str(path))
    assert len(books) == len(quorvane.iter_prices_file(str(SAMPLE)))
    assert books == replayed(str(SAMPLE))


@pytest.mark.parametrize("name", ["1.197931750", "BASIC-1.132153978"])
def test_real_recording_reads_as_its_plain_copy(tmp_path, real_recording, name):
    plain = real_recording(name)
    path = tmp_path / f"{name}.bz2"
    path.write_bytes(bz2.compress(pathlib.Path(plain).read_bytes()))
    assert replayed(str(path)) == replayed(plain)


WHOLE = bz2.compress(b'{"pt": 1, "mc": [{"id": "1.2"}]}\n' * 2000)


def damaged(data, at):
    return data[:at] + bytes([data[at] ^ 0x55]) + data[at + 1:]


@pytest.mark.parametrize(
    ("content", "message"),
    [
        (b"", "unexpected end of file"),
        (WHOLE[: len(WHOLE) // 2], "unexpected end of file"),
        (WHOLE + WHOLE[:-1], "unexpected end of file"),
        (b'{"pt": 1, "mc": []}\n', "corrupt bz2 stream"),
        (damaged(WHOLE, len(WHOLE) // 2), "corrupt bz2 stream"),
        (WHOLE + damaged(WHOLE, 40), "corrupt bz2 stream"),
    ],
    ids=["empty", "truncated", "second stream truncated", "plain text", "damaged", "second stream damaged"],
)
def test_faults_fail_the_call_and_close_the_file(write_file, content, message):
    path = write_file("1.23.bz2", content)
    with pytest.raises(ValueError) as raised:
        quorvane.iter_prices_file(path)
    assert str(raised.value) == message
    assert open_descriptors_to(path) == 0


@pytest.mark.parametrize("name", ["1.23.BZ2", "1.23.bz", "1.23.json"])
def test_only_the_extension_bz2_selects_the_decoder(write_file, name):
    with pytest.raises(ValueError, match="stream did not contain valid UTF-8"):
        quorvane.iter_prices_file(write_file(name, WHOLE))


def test_bytes_after_the_last_stream_are_ignored(write_file):
    path = write_file("1.23.bz2", WHOLE + b"\0" * 100)
    assert len(quorvane.iter_prices_file(path)) == 2000
