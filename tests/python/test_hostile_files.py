"""Faulty and hostile files: each fails with its own ValueError and leaves no
file descriptor open, whatever byte the fault sits at."""

import gzip
import json
import os
import random
import struct
import zlib

import pytest

import quorvane
from streams import change, message

pytestmark = pytest.mark.reader

LINES = b"".join(
    (f'{{"op":"mcm","pt":{1000 * i},"mc":[{{"id":"1.234","rc":[{{"id":{i},"atb":[[1.5,{i}]]}}]}}]}}\n').encode()
    for i in range(1, 6)
)
GZIP_MESSAGES = {
    "invalid gzip header",
    "gzip header field too long",
    "corrupt gzip stream does not have a matching checksum",
    "corrupt deflate stream",
    "unexpected end of file",
}
NOT_UTF8 = "stream did not contain valid UTF-8"


def open_descriptors():
    return sorted(os.listdir("/proc/self/fd"))


@pytest.fixture
def no_descriptor_left():
    """Fails the test when a descriptor opened during it is still open."""
    before = open_descriptors()
    yield
    assert open_descriptors() == before


def refused(path):
    with pytest.raises(ValueError) as raised:
        quorvane.iter_prices_file(path)
    return str(raised.value)


def gzip_member(content, flags=0, header_extra=b""):
    """One gzip member built by hand, so that each header field is known."""
    header = b"\x1f\x8b\x08" + bytes([flags]) + b"\x00\x00\x00\x00\x00\xff" + header_extra
    if flags & 0x02:
        header += struct.pack("<H", zlib.crc32(header) & 0xFFFF)
    body = zlib.compressobj(9, zlib.DEFLATED, -15)
    deflated = body.compress(content) + body.flush()
    return header + deflated + struct.pack("<II", zlib.crc32(content), len(content) & 0xFFFFFFFF)


def test_the_example_member_reads(write_file, no_descriptor_left):
    # The baseline every corruption below starts from.
    for member in (gzip.compress(LINES, mtime=0), gzip_member(LINES, flags=0x02)):
        assert len(quorvane.iter_prices_file(write_file("good.gz", member))) == 5


@pytest.mark.parametrize("name", ["missing.jsonl", "missing.gz"])
def test_missing_file(tmp_path, name, no_descriptor_left):
    assert refused(str(tmp_path / name)) == "No such file or directory (os error 2)"


@pytest.mark.parametrize("name", ["folder", "folder.gz"])
def test_directory(tmp_path, name, no_descriptor_left):
    (tmp_path / name).mkdir()
    assert refused(str(tmp_path / name)) == "Is a directory (os error 21)"


def test_gzip_truncated_at_every_byte(write_file, no_descriptor_left):
    member = gzip.compress(LINES, mtime=0)
    path = write_file("cut.gz", b"")
    for size in range(len(member)):
        with open(path, "wb") as file:
            file.write(member[:size])
        assert refused(path) == "unexpected end of file", f"cut after {size} bytes"


@pytest.mark.parametrize("offset", range(-8, 0), ids=lambda o: f"trailer{o}")
@pytest.mark.parametrize("flip", [0x01, 0x80, 0xFF])
def test_gzip_trailer_byte_flipped(write_file, offset, flip, no_descriptor_left):
    member = bytearray(gzip.compress(LINES, mtime=0))
    member[offset] ^= flip
    assert refused(write_file("flipped.gz", bytes(member))) == "corrupt gzip stream does not have a matching checksum"


@pytest.mark.parametrize("offset", [10, 11], ids=["low", "high"])
def test_gzip_header_check_byte_flipped(write_file, offset, no_descriptor_left):
    member = bytearray(gzip_member(LINES, flags=0x02))
    member[offset] ^= 0x01
    assert refused(write_file("flipped.gz", bytes(member))) == "corrupt gzip stream does not have a matching checksum"


@pytest.mark.parametrize("seed", range(16))
def test_random_bytes_named_gz(write_file, seed, no_descriptor_left):
    noise = random.Random(seed).randbytes(4096)
    assert refused(write_file("noise.gz", noise)) == "invalid gzip header"


@pytest.mark.parametrize("seed", range(16))
def test_random_deflate_body(write_file, seed, no_descriptor_left):
    # A valid header in front of noise gets as far as the decoder.
    noise = random.Random(seed).randbytes(4096)
    assert refused(write_file("noise.gz", gzip.compress(b"", mtime=0)[:10] + noise)) in GZIP_MESSAGES


@pytest.mark.parametrize("bad", [b"\xff", b"\xc3", b"\xc0\xaf", b"\xed\xa0\x80", b"\xf4\x90\x80\x80"],
                         ids=["ff", "cut-2-byte", "overlong", "surrogate", "above-10ffff"])
@pytest.mark.parametrize("where", ["start", "middle", "end"])
@pytest.mark.parametrize("compressed", [False, True], ids=["plain", "gzip"])
def test_invalid_utf8(write_file, bad, where, compressed, no_descriptor_left):
    lines = LINES.split(b"\n")[:-1]
    if where == "start":
        content = bad + b"\n".join(lines)
    elif where == "middle":
        lines[2] = lines[2].replace(b'"1.234"', b'"1.2' + bad + b'34"')
        content = b"\n".join(lines)
    else:
        content = b"\n".join(lines) + b"\n" + bad  # the last line has no line feed
    name = "text.gz" if compressed else "text.jsonl"
    assert refused(write_file(name, gzip.compress(content) if compressed else content)) == NOT_UTF8


def nested_message(depth):
    """A stored message whose deepest array sits `depth` levels down in total."""
    prefix = '{"pt":1,"mc":[{"id":"1.234","deep":'  # three levels: line, mc, the change
    return prefix + "[" * (depth - 3) + "]" * (depth - 3) + "}]}"


@pytest.mark.parametrize("opener", ["[", '{"k":'])
def test_nesting_at_the_limit_parses(write_file, opener, no_descriptor_left):
    closer = "]" if opener == "[" else "}"
    bare = opener * 127 + ("0" if opener != "[" else "") + closer * 127
    it = quorvane.iter_prices_file(write_file("deep.jsonl", (bare + "\n" + nested_message(127)).encode()))
    assert len(it) == 1
    assert next(it).market_id == "1.234"


@pytest.mark.parametrize(
    ("line", "column"),
    [
        ("[" * 128 + "]" * 128, 128),
        ('{"k":' * 128 + "0" + "}" * 128, 5 * 127 + 1),
        (nested_message(128), len('{"pt":1,"mc":[{"id":"1.234","deep":') + 125),
        ("[" * 100000, 128),
    ],
    ids=["arrays", "objects", "message", "unclosed"],
)
def test_nesting_past_the_limit(write_file, line, column, no_descriptor_left):
    assert refused(write_file("deep.jsonl", line.encode())) == f"recursion limit exceeded at line 1 column {column}"


def test_faults_after_good_lines_keep_nothing(write_file, no_descriptor_left):
    # A fault on the last line fails the whole call: no iterator, no partial list.
    text = LINES + b'{"pt":9,"mc":[' + b"\n"
    assert refused(write_file("late.jsonl", text)) == "EOF while parsing a list at line 1 column 14"


def test_a_fault_leaves_the_next_call_unaffected(write_file, no_descriptor_left):
    good = write_file("good.jsonl", json.dumps(message(1, change(status="OPEN"))).encode())
    bad = write_file("bad.gz", b"\x1f\x8b\x08\x00")
    for _ in range(3):
        assert refused(bad) == "unexpected end of file"
        assert next(quorvane.iter_prices_file(good)).status == "OPEN"
