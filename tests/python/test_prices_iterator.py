import gc
import json
import sys

import pytest

import quorvane

PricesIterator = quorvane.PricesIterator

TPFLAGS_BASETYPE = 1 << 10
TPFLAGS_HAVE_GC = 1 << 14


@pytest.fixture
def empty_iterator(write_file):
    return quorvane.iter_prices_file(write_file("empty.jsonl", b""))


def test_type():
    assert PricesIterator.__doc__ == "Iterator that yields MarketBook objects with object reuse"
    assert (PricesIterator.__module__, PricesIterator.__name__) == ("builtins", "PricesIterator")
    assert PricesIterator.__flags__ & (TPFLAGS_BASETYPE | TPFLAGS_HAVE_GC) == 0
    assert PricesIterator.__text_signature__ is None


@pytest.mark.parametrize(("args", "kwargs"), [((), {}), (("x",), {}), ((), {"path": "x"})])
def test_no_constructor(args, kwargs):
    with pytest.raises(TypeError) as raised:
        PricesIterator(*args, **kwargs)
    assert str(raised.value) == "No constructor defined for PricesIterator"


def test_cannot_be_subclassed():
    with pytest.raises(TypeError, match="is not an acceptable base type"):
        type("Derived", (PricesIterator,), {})


@pytest.mark.reader
def test_iterator_over_no_messages(empty_iterator):
    it = empty_iterator
    assert type(it) is PricesIterator
    assert len(it) == 0
    assert not it
    assert not gc.is_tracked(it)
    assert PricesIterator.__iter__(it) is it


@pytest.mark.reader
def test_iter_returns_itself(empty_iterator):
    if not hasattr(PricesIterator, "__next__"):
        pytest.skip("PricesIterator has no next step yet")
    it = empty_iterator
    assert iter(it) is it
    with pytest.raises(StopIteration):
        next(it)
    assert len(it) == 0


@pytest.mark.reader
def test_each_call_returns_a_new_iterator(write_file):
    path = write_file("empty.jsonl", b"")
    first, second = quorvane.iter_prices_file(path), quorvane.iter_prices_file(path)
    assert first is not second


@pytest.mark.reader
def test_iterators_release_their_type_reference(write_file):
    path = write_file("empty.jsonl", b"")
    quorvane.iter_prices_file(path)
    before = sys.getrefcount(PricesIterator)
    for _ in range(100):
        quorvane.iter_prices_file(path)
    assert sys.getrefcount(PricesIterator) == before


@pytest.mark.reader
@pytest.mark.parametrize(
    "content",
    [b"\n\n", b"   \r\n\t\n", "\u00a0\u2003\n".encode(), b'{"pt": 5}\n[1, 2]\n{}\n7\n'],
)
def test_files_without_stored_messages(write_file, content):
    assert len(quorvane.iter_prices_file(write_file("blank.jsonl", content))) == 0


def stored_message_count(path):
    count = 0
    with open(path, "rb") as lines:
        for line in lines:
            if not line.strip():
                continue
            message = json.loads(line)
            pt = message.get("pt") if isinstance(message, dict) else None
            if type(pt) is not int or not 1 <= pt < 2**63:
                continue
            if isinstance(message.get("mc"), list) or "marketDefinition" in message or "rc" in message:
                count += 1
    return count


@pytest.mark.reader
@pytest.mark.parametrize("name", ["1.197931750", "BASIC-1.132153978"])
def test_length_counts_the_stored_messages(real_recording, name):
    path = real_recording(name)
    it = quorvane.iter_prices_file(path)
    expected = stored_message_count(path)
    assert expected > 0
    assert len(it) == expected
    assert it
    if hasattr(PricesIterator, "__next__"):
        for _ in it:
            assert len(it) == expected
        assert len(it) == expected
        assert it
