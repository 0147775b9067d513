import gzip
import os

import pytest

import quorvane

pytestmark = pytest.mark.reader


def raised_message(path):
    with pytest.raises(ValueError) as raised:
        quorvane.iter_prices_file(path)
    return str(raised.value)


def test_missing_file(tmp_path):
    assert raised_message(str(tmp_path / "missing.jsonl")) == "No such file or directory (os error 2)"


def test_directory(tmp_path):
    assert raised_message(str(tmp_path)) == "Is a directory (os error 21)"


@pytest.mark.parametrize("path", ["\0", "data\0.jsonl", "/tmp/\0/file"])
def test_nul_in_path(path):
    assert raised_message(path) == "strings passed to WinAPI cannot contain NULs"


@pytest.mark.skipif(os.geteuid() == 0, reason="root may open any file")
def test_unreadable_file(write_file):
    path = write_file("locked.jsonl", b"")
    os.chmod(path, 0)
    assert raised_message(path) == "Permission denied (os error 13)"


GOOD_LINE = b'{"pt": 1, "mc": []}\n'


@pytest.mark.parametrize(
    ("content", "message"),
    [
        (b"{", "EOF while parsing an object at line 1 column 1"),
        (b"[1,]", "trailing comma at line 1 column 4"),
        (b'{"a" 1}', "expected `:` at line 1 column 6"),
        (b"\xef\xbb\xbf{}", "expected value at line 1 column 1"),
        ("\u00a0{}".encode(), "expected value at line 1 column 1"),
        (b'"\xed\xa0\x80"', "stream did not contain valid UTF-8"),
        (b"\xff\n", "stream did not contain valid UTF-8"),
        # Each line is parsed on its own: the line number is always 1.
        (GOOD_LINE * 3 + b"trux\n" + GOOD_LINE, "expected ident at line 1 column 4"),
    ],
)
def test_line_faults(write_file, content, message):
    assert raised_message(write_file("faulty.jsonl", content)) == message


@pytest.mark.parametrize(
    ("name", "content", "message"),
    [
        ("empty.gz", b"", "unexpected end of file"),
        ("plain.gz", GOOD_LINE, "invalid gzip header"),
        ("compressed.json", gzip.compress(GOOD_LINE), "stream did not contain valid UTF-8"),
    ],
)
def test_gzip_faults(write_file, name, content, message):
    assert raised_message(write_file(name, content)) == message


def raised_notes(path):
    with pytest.raises(ValueError) as raised:
        quorvane.iter_prices_file(path)
    return raised.value.__notes__


@pytest.mark.parametrize(
    ("name", "content", "line"),
    [
        ("corrupt.gz", gzip.compress(GOOD_LINE * 4)[:-6], None),
        ("middle.jsonl", GOOD_LINE * 700 + b'{"pt": 1, "mc": [\n' + GOOD_LINE * 5, 701),
        ("utf8.jsonl", GOOD_LINE * 2 + b'{"pt": "\xff"}\n', 3),
        ("crlf.jsonl", GOOD_LINE.replace(b"\n", b"\r\n") * 3 + b"trux\r\n", 4),
        ("blank.jsonl", b"\n \n" + GOOD_LINE + b"\r\n\n[1,]\n", 6),
        ("lines.gz", gzip.compress(GOOD_LINE * 9 + b"{}}\n"), 10),
    ],
)
def test_notes_name_the_path_and_line(write_file, name, content, line):
    path = write_file(name, content)
    where = f"line {line} of {path}" if line else path
    assert raised_notes(path) == [f"while reading {where}"]


@pytest.mark.parametrize("path", ["missing.jsonl", "nul\0.jsonl", "surrogate\udc80.jsonl"])
def test_notes_name_a_path_that_cannot_be_read(tmp_path, path):
    path = str(tmp_path / path)
    assert raised_notes(path) == [f"while reading {path}"]
