"""Very large and adversarial inputs finish with bounded memory. Each file is
read and replayed in a child interpreter of its own, which reports what it
saw with its time and peak resident memory; the figures are printed (run
with -s to see them), memory is bounded, time is not asserted."""

import json
import subprocess
import sys
import textwrap

import pytest

pytestmark = [pytest.mark.large, pytest.mark.reader, pytest.mark.slow]

MIB = 1 << 20
LONG_LINE_BYTES = 256 * MIB
LADDER_PRICES = 10**6
RUNNERS = 10**5
EMPTY_MESSAGES = 10**6

# The child replays the file and prints one JSON object: what the test checks
# (`facts`, from the case's own code) and the measurements.
CHILD = textwrap.dedent("""
    import json, resource, sys, time
    import quorvane
    path, case = sys.argv[1], sys.argv[2]
    started = time.perf_counter()
    it = quorvane.iter_prices_file(path)
    loaded = time.perf_counter()
    facts = {"messages": len(it)}
    exec(sys.stdin.read())
    done = time.perf_counter()
    facts.update(load_seconds=round(loaded - started, 3), replay_seconds=round(done - loaded, 3),
                 peak_rss_mib=resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024)
    print(json.dumps(facts))
""")


def run_child(path, case, code):
    result = subprocess.run([sys.executable, "-c", CHILD, str(path), case], input=textwrap.dedent(code),
                            capture_output=True, text=True, check=False, timeout=1800)
    assert result.returncode == 0, result.stderr[-4000:]
    facts = json.loads(result.stdout.splitlines()[-1])
    print(f"\n{case}: {facts}")
    return facts


def write_lines(path, lines):
    with open(path, "wb") as file:
        for line in lines:
            file.write(line)
            file.write(b"\n")
    return path


def definition(runners):
    return {"status": "OPEN", "marketTime": "2024-05-01T12:00:00.000Z",
            "runners": [{"id": i, "sortPriority": i, "status": "ACTIVE"} for i in range(1, runners + 1)]}


def line(pt, **change):
    return json.dumps({"op": "mcm", "pt": pt, "mc": [{"id": "1.234", **change}]}, separators=(",", ":")).encode()


def test_a_line_of_256_mib(tmp_path):
    head = b'{"op":"mcm","pt":1,"mc":[{"id":"1.234","marketDefinition":{"status":"OPEN","name":"'
    tail = b'"}}]}'
    name_bytes = LONG_LINE_BYTES - len(head) - len(tail)
    path = tmp_path / "long.jsonl"
    with open(path, "wb") as file:
        file.write(head)
        for _ in range(name_bytes // MIB):
            file.write(b"x" * MIB)
        file.write(b"x" * (name_bytes % MIB) + tail + b"\n")
        file.write(b" " * LONG_LINE_BYTES + b"\n")  # a blank line just as long, skipped
        file.write(line(2, rc=[{"id": 1, "ltp": 2.0}]) + b"\n")
    facts = run_child(path, "line of 256 MiB", """
        books = list(it)
        facts["name_length"] = len(books[0].market_definition.name)
        facts["same_definition"] = books[1].market_definition is books[0].market_definition
    """)
    assert facts["messages"] == 2
    assert facts["name_length"] == name_bytes
    assert facts["same_definition"]
    # The line, the parser's buffers, the stored text, the cache's and Python's copies.
    assert facts["peak_rss_mib"] < 12 * LONG_LINE_BYTES // MIB


def test_a_ladder_of_a_million_prices(tmp_path):
    prices = [[round(1.0 + i / 1000, 3), 2] for i in range(1, LADDER_PRICES + 1)]
    path = write_lines(tmp_path / "ladder.jsonl", [
        line(1, marketDefinition=definition(2), rc=[{"id": 1, "atb": prices}], img=True),
        line(2, rc=[{"id": 1, "atl": [[1.5, 3]]}]),      # the back ladder is not rebuilt
        line(3, rc=[{"id": 1, "atb": [[1.001, 0]]}]),    # one level less
    ])
    facts = run_child(path, "ladder of 10^6 prices", """
        first, second, third = it
        back = first.runners[0].ex.available_to_back
        facts["levels"] = [len(b.runners[0].ex.available_to_back) for b in (first, second, third)]
        facts["descending"] = all(a.price > b.price for a, b in zip(back, back[1:]))
        facts["reused"] = second.runners[0].ex.available_to_back is back
    """)
    assert facts["levels"] == [LADDER_PRICES, LADDER_PRICES, LADDER_PRICES - 1]
    assert facts["descending"] and facts["reused"]
    assert facts["peak_rss_mib"] < 2048


def test_a_hundred_thousand_runners(tmp_path):
    changes = [{"id": i, "ltp": 2.0, "atb": [[2.0, i]]} for i in range(1, RUNNERS + 1)]
    steps = 200
    path = write_lines(tmp_path / "runners.jsonl", [
        line(1, marketDefinition=definition(RUNNERS), rc=changes, img=True),
        *(line(2 + i, rc=[{"id": 1 + i * 397 % RUNNERS, "ltp": 3.0}]) for i in range(steps)),
    ])
    facts = run_child(path, "10^5 runners", """
        first = next(it)
        facts["runners"] = [first.number_of_runners, len(first.runners), len(first.market_definition.runners)]
        kept = steps = 0
        for book in it:
            kept += sum(a is b for a, b in zip(book.runners, first.runners))
            steps += 1
        facts["kept_per_step"] = kept / steps
    """)
    assert facts["messages"] == steps + 1
    assert facts["runners"] == [RUNNERS] * 3
    # Each step rebuilds only the runner it changed (and the ones changed before).
    assert facts["kept_per_step"] > RUNNERS - steps - 1
    assert facts["peak_rss_mib"] < 2048


def test_a_million_empty_messages(tmp_path):
    path = tmp_path / "empty.jsonl"
    with open(path, "wb") as file:
        file.write(line(1, marketDefinition=definition(3), rc=[{"id": 1, "ltp": 2.0}]) + b"\n")
        file.write(b"".join(b'{"op":"mcm","pt":%d,"mc":[]}\n' % pt for pt in range(2, EMPTY_MESSAGES + 2)))
    facts = run_child(path, "10^6 empty messages", """
        first = next(it)
        books = 1
        same = True
        for book in it:
            books += 1
            same = same and book.runners[0] is first.runners[0] and book.publish_time_epoch == 1
        facts.update(books=books, same=same)
    """)
    assert facts["messages"] == facts["books"] == EMPTY_MESSAGES + 1
    assert facts["same"]
    assert facts["peak_rss_mib"] < 1024
