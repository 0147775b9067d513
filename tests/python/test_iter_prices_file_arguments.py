import pathlib

import pytest

import quorvane


class Outer:
    class Inner:
        pass


def unreadable_type_name():
    # A qualified name that cannot be encoded as UTF-8.
    cls = type("Unreadable", (), {})
    cls.__qualname__ = "Un\udc80readable"
    return cls()


@pytest.mark.parametrize(
    ("args", "kwargs", "message"),
    [
        ((), {}, "iter_prices_file() missing 1 required positional argument: 'path'"),
        (("a", "b"), {}, "iter_prices_file() takes 1 positional arguments but 2 were given"),
        (("a", "b", "c"), {}, "iter_prices_file() takes 1 positional arguments but 3 were given"),
        # The count of positionals is checked before any keyword.
        (("a", "b"), {"path": "c"}, "iter_prices_file() takes 1 positional arguments but 2 were given"),
        (("a",), {"path": "b"}, "iter_prices_file() got multiple values for argument 'path'"),
        ((), {"paths": "a"}, "iter_prices_file() got an unexpected keyword argument 'paths'"),
        ((), {"path": "a", "mode": "r"}, "iter_prices_file() got an unexpected keyword argument 'mode'"),
        # Keywords are checked in the order given.
        (("a",), {"mode": "r", "path": "b"}, "iter_prices_file() got an unexpected keyword argument 'mode'"),
        (("a",), {"path": "b", "mode": "r"}, "iter_prices_file() got multiple values for argument 'path'"),
        # An argument error comes before any look at the value's type.
        ((b"a", b"b"), {}, "iter_prices_file() takes 1 positional arguments but 2 were given"),
    ],
)
def test_argument_count_and_keyword_errors(args, kwargs, message):
    with pytest.raises(TypeError) as raised:
        quorvane.iter_prices_file(*args, **kwargs)
    assert str(raised.value) == message


@pytest.mark.parametrize(
    ("value", "type_name"),
    [
        (b"/tmp/file", "bytes"),
        (bytearray(b"/tmp/file"), "bytearray"),
        (pathlib.PurePosixPath("/tmp/file"), "PurePosixPath"),
        (pathlib.Path("/tmp/file"), "PosixPath"),
        (None, "NoneType"),
        (7, "int"),
        (["/tmp/file"], "list"),
        (Outer.Inner(), "Outer.Inner"),
        (unreadable_type_name(), "<failed to extract type name>"),
    ],
)
@pytest.mark.parametrize("as_keyword", [False, True])
def test_path_that_is_not_str(value, type_name, as_keyword):
    with pytest.raises(TypeError) as raised:
        if as_keyword:
            quorvane.iter_prices_file(path=value)
        else:
            quorvane.iter_prices_file(value)
    assert str(raised.value) == f"argument 'path': '{type_name}' object cannot be converted to 'PyString'"


@pytest.mark.parametrize("path", ["\ud800", "/tmp/x\udcff.json"])
def test_lone_surrogates_raise_the_encoders_error(path):
    with pytest.raises(UnicodeEncodeError) as expected:
        path.encode("utf-8")
    with pytest.raises(UnicodeEncodeError) as raised:
        quorvane.iter_prices_file(path)
    assert str(raised.value) == str(expected.value)


@pytest.mark.reader
@pytest.mark.parametrize("as_keyword", [False, True])
def test_path_positionally_or_by_keyword(write_file, as_keyword):
    path = write_file("empty.jsonl", b"")
    it = quorvane.iter_prices_file(path=path) if as_keyword else quorvane.iter_prices_file(path)
    assert type(it) is quorvane.PricesIterator
    assert len(it) == 0


@pytest.mark.reader
def test_str_subclass_is_accepted(write_file):
    class Path(str):
        pass

    it = quorvane.iter_prices_file(Path(write_file("empty.jsonl", b"")))
    assert type(it) is quorvane.PricesIterator
