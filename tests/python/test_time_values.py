"""Publish times and definition times as naive UTC datetimes."""

import datetime
import random
import warnings

import pytest

import quorvane
from streams import books, change, message, write_stream

YEAR_9999_END = 253402300799999  # 9999-12-31T23:59:59.999 in epoch milliseconds


def utcfromtimestamp(milliseconds):
    """What the deprecated call gives, or the exception it raises."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        try:
            return datetime.datetime.utcfromtimestamp(milliseconds / 1000.0)
        except (OverflowError, OSError, ValueError) as error:
            return error


def publish_times(tmp_path, milliseconds):
    """The publish time of each step, or the exception the step raised."""
    it = quorvane.iter_prices_file(write_stream(tmp_path, *(message(ms, change(tv=1.0)) for ms in milliseconds)))
    results = []
    for _ in milliseconds:
        try:
            book = next(it)
        except (OverflowError, OSError, ValueError) as error:
            results.append(error)
        else:
            assert book.publish_time_epoch in milliseconds
            results.append(book.publish_time)
    with pytest.raises(StopIteration):
        next(it)
    return results


def same(got, expected):
    if isinstance(expected, Exception):
        return type(got) is type(expected) and str(got) == str(expected)
    return type(got) is datetime.datetime and got.tzinfo is None and got == expected


def test_known_publish_times(tmp_path):
    got = publish_times(tmp_path, [1, 123, 999, 1000, 86_400_000, 1616073600123, YEAR_9999_END])
    assert got == [
        datetime.datetime(1970, 1, 1, 0, 0, 0, 1000),
        datetime.datetime(1970, 1, 1, 0, 0, 0, 123000),
        datetime.datetime(1970, 1, 1, 0, 0, 0, 999000),
        datetime.datetime(1970, 1, 1, 0, 0, 1),
        datetime.datetime(1970, 1, 2),
        datetime.datetime(2021, 3, 18, 13, 20, 0, 123000),
        # The float quotient is just below .999 this far out: utcfromtimestamp rounds it so too.
        utcfromtimestamp(YEAR_9999_END),
    ]


def test_publish_times_equal_utcfromtimestamp(tmp_path):
    rng = random.Random(11)
    values = [1, 2, 5, 123, 499, 500, 501, 999, 1001, 1999, 59_999, 3_599_999]
    values += [rng.randint(1, YEAR_9999_END) for _ in range(3000)]
    values += [rng.randint(1, 2**41) for _ in range(1000)]
    # Either side of 2^32 seconds, where integer arithmetic gives way to the float steps.
    values += [(2**32 * 1000) + k for k in range(-1500, 1500, 7)]
    # Far out the quotient's fraction lands near microsecond halves; rounding must match.
    values += [YEAR_9999_END - k for k in range(0, 2000, 7)]
    # Leap days, and the first and last days of years and centuries.
    values += [day * 86_400_000 + k for day in (59, 789, 10_956, 11_016, 11_017, 47_540, 47_541, 2_932_896)
               for k in (-1, 0, 1)]
    values += [YEAR_9999_END + 1, YEAR_9999_END + 10**9, 2**53, 2**62, 2**63 - 1]
    got = publish_times(tmp_path, values)
    mismatches = [(ms, g, utcfromtimestamp(ms)) for ms, g in zip(values, got) if not same(g, utcfromtimestamp(ms))]
    assert mismatches == []
    errors = [g for g in got if isinstance(g, Exception)]
    assert len(errors) == 5
    assert str(errors[0]) == "year 10000 is out of range"


def test_no_deprecation_warning(tmp_path):
    path = write_stream(tmp_path, message(1000, change(tv=1.0)), message(2000, change(tv=2.0)))
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert [b.publish_time_epoch for b in quorvane.iter_prices_file(path)] == [1000, 2000]


TIME_KEYS = [("marketTime", "market_time"), ("openDate", "open_date"), ("suspendTime", "suspend_time"),
             ("settledTime", "settled_time")]


@pytest.mark.parametrize(("text", "expected"), [
    ("2021-03-18T13:20:00.000Z", datetime.datetime(2021, 3, 18, 13, 20)),
    ("2021-03-18T13:20:00Z", datetime.datetime(2021, 3, 18, 13, 20)),
    ("2021-03-18T13:20:00.5Z", datetime.datetime(2021, 3, 18, 13, 20, 0, 500000)),
    ("2021-03-18T13:20:00.123456Z", datetime.datetime(2021, 3, 18, 13, 20, 0, 123456)),
    ("0001-01-01T00:00:00Z", datetime.datetime(1, 1, 1)),
    ("9999-12-31T23:59:59.999999Z", datetime.datetime(9999, 12, 31, 23, 59, 59, 999999)),
])
@pytest.mark.parametrize(("key", "attribute"), TIME_KEYS)
def test_definition_times(tmp_path, key, attribute, text, expected):
    (book,) = books(tmp_path, message(1, change(definition={key: text})))
    definition = book.market_definition
    value = getattr(definition, attribute)
    assert type(value) is datetime.datetime and value.tzinfo is None
    assert value == expected
    assert getattr(definition, attribute) is value
    for _, other in TIME_KEYS:
        if other != attribute:
            assert getattr(definition, other) is None


@pytest.mark.parametrize("text", [
    "2021-03-18T13:20:00.1234567Z", "2021-03-18T13:20:00+00:00", "2021-03-18 13:20:00Z", "", "2021-02-30T00:00:00Z",
    "2021-03-18T13:20:00.000", "yesterday",
])
def test_bad_definition_time_fails_with_strptimes_error(tmp_path, text):
    with pytest.raises(ValueError) as expected:
        datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%SZ")
    it = quorvane.iter_prices_file(write_stream(
        tmp_path,
        message(1, change(definition={"openDate": "2021-03-18T13:00:00Z"})),
        message(2, change(definition={"marketTime": text})),
        message(3, change(tv=5.0)),
        message(4, change(definition={"marketTime": "2021-03-18T13:20:00Z"})),
        message(5, change(tv=6.0)),
    ))
    first = next(it)
    for _ in range(2):
        # The text stays in the cache until a definition replaces it: every step retries.
        with pytest.raises(ValueError) as raised:
            next(it)
        assert str(raised.value) == str(expected.value)
    fourth, fifth = next(it), next(it)
    assert fourth.total_matched == 5.0 and fourth.publish_time_epoch == 4
    assert fourth.market_definition is not first.market_definition
    assert fourth.market_definition.market_time == datetime.datetime(2021, 3, 18, 13, 20)
    assert fifth.market_definition is fourth.market_definition
    assert first.market_definition.market_time is None


def strptime_either(text):
    """What the two strptime formats give for a definition time, or the second one's error."""
    try:
        return datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ")
    except ValueError:
        pass
    try:
        return datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%SZ")
    except ValueError as error:
        return error


def near_exchange_times(rng):
    """Valid times in the exchange's spelling, and texts one slip away from it."""
    texts = []
    for _ in range(400):
        year = rng.choice([1, 4, 99, 100, 999, 1900, 1970, 2000, 2020, 2021, 2023, 2024, 2100, 2400, 9999,
                           rng.randint(1, 9999)])
        fields = [f"{year:04d}", f"{rng.randint(1, 12):02d}", f"{rng.randint(1, 31):02d}",
                  f"{rng.randint(0, 23):02d}", f"{rng.randint(0, 59):02d}", f"{rng.randint(0, 59):02d}"]
        fraction = rng.choice(["", "." + "".join(rng.choice("0123456789") for _ in range(rng.randint(0, 7)))])
        text = "{}-{}-{}T{}:{}:{}".format(*fields) + fraction + "Z"
        texts.append(text)
        # One field at a limit or past it.
        at = rng.randrange(6)
        fields[at] = rng.choice({0: ["0000", "10000", "999"], 1: ["00", "13", "1", "001"],
                                 2: ["00", "28", "29", "30", "31", "32", "1"], 3: ["24", "00", "7"],
                                 4: ["60", "5"], 5: ["60", "61", "9"]}[at])
        texts.append("{}-{}-{}T{}:{}:{}".format(*fields) + fraction + "Z")
        # One character changed, dropped or added.
        i = rng.randrange(len(text))
        slip = rng.choice(["t", "z", " ", "-", ":", ".", "x", "\u0663", "\uff11", "\x00"])
        texts += [text[:i] + slip + text[i + 1:], text[:i] + text[i + 1:], text[:i] + slip + text[i:]]
    # Every day of a leap and a common February, and the months' last days.
    texts += [f"{y}-02-{d:02d}T00:00:00Z" for y in (1900, 2000, 2023, 2024) for d in range(27, 31)]
    texts += [f"2021-{m:02d}-{d}T12:00:00.1Z" for m in range(1, 13) for d in (30, 31)]
    return texts


def test_definition_times_equal_strptime(tmp_path):
    texts = near_exchange_times(random.Random(5))
    it = quorvane.iter_prices_file(write_stream(
        tmp_path, *(message(i, change(definition={"marketTime": text})) for i, text in enumerate(texts, 1))))
    mismatches = []
    for text in texts:
        try:
            got = next(it).market_definition.market_time
        except ValueError as error:
            got = error
        if not same(got, strptime_either(text)):
            mismatches.append((text, got, strptime_either(text)))
    assert mismatches == []
    # Both kinds are well represented, so the comparison covers each.
    failed = sum(isinstance(strptime_either(text), Exception) for text in texts)
    assert len(texts) // 5 < failed < len(texts) * 4 // 5


def test_definition_times_are_looked_up_for_each_conversion(tmp_path, monkeypatch):
    calls = []
    real = datetime.datetime

    class Recording(datetime.datetime):
        @classmethod
        def strptime(cls, text, format):
            calls.append((text, format))
            return real.strptime(text, format)

    path = write_stream(
        tmp_path,
        message(1, change(definition={"settledTime": "2021-03-18T14:00:00Z", "marketTime": "2021-03-18T13:20:00.0Z",
                                      "suspendTime": "2021-03-18T13:21:00Z"})),
        message(2, change(tv=1.0)),
    )
    it = quorvane.iter_prices_file(path)
    monkeypatch.setattr(datetime, "datetime", Recording)
    book = next(it)
    long_form, short_form = "%Y-%m-%dT%H:%M:%S.%fZ", "%Y-%m-%dT%H:%M:%SZ"
    assert calls == [
        ("2021-03-18T13:20:00.0Z", long_form),
        ("2021-03-18T13:21:00Z", long_form), ("2021-03-18T13:21:00Z", short_form),
        ("2021-03-18T14:00:00Z", long_form), ("2021-03-18T14:00:00Z", short_form),
    ]
    assert book.market_definition.open_date is None
    next(it)
    assert len(calls) == 5  # nothing converted again while the definition stands
