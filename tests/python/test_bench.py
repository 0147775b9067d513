"""The benchmark suite's building blocks on small files; never a speed assertion."""

import bz2
import gzip
import importlib.util
import json
import subprocess
import sys
import time
from pathlib import Path

import pytest
import quorvane

ROOT = Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "data" / "sample.jsonl"


def load_module(name):
    spec = importlib.util.spec_from_file_location(f"bench_{name}", ROOT / "bench" / f"{name}.py")
    module = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = module  # dataclasses look their module up there
    spec.loader.exec_module(module)
    return module


bench = load_module("bench")

ROW_KEYS = {
    "load": {"file", "kind", "content", "uncompressed_bytes", "messages", "runs", "rounds", "median_seconds",
             "mb_per_s", "dom_runs", "dom_seconds", "dom_mb_per_s", "held_bytes", "peak_bytes", "code_bytes",
             "held_ratio", "peak_ratio"},
    "replay": {"file", "kind", "uncompressed_bytes", "books", "runs", "load_seconds", "replay_seconds",
               "iterate_seconds", "strategy_seconds", "peer_books", "peer_runs", "peer_dicts_seconds",
               "peer_objects_seconds", "peer_objects_reading_seconds", "samples", "estimated", "speedups"},
    "to_dict": {"file", "books", "books_reached", "runs", "to_dict_us_per_book", "orjson_us_per_book",
                "to_dict_vs_orjson"},
    "step": {"step", "runners", "steps", "runs", "median_seconds", "us_per_step"},
}
HAS_ORJSON = importlib.util.find_spec("orjson") is not None


@pytest.fixture(scope="module")
def sample_run(tmp_path_factory):
    """One short run of the whole suite on the sample and its gzip copy."""
    folder = tmp_path_factory.mktemp("bench")
    compressed = folder / "sample.jsonl.gz"
    compressed.write_bytes(gzip.compress(SAMPLE.read_bytes()))
    results = folder / "results"
    run = subprocess.run(
        [sys.executable, str(ROOT / "bench" / "bench.py"), "--quick", "--files", str(SAMPLE),
         str(compressed), "--sizes", "", "--runs", "1", "--peer-runs", "1", "--seconds", "1",
         "--step-messages", "300", "--no-dom", "--results-dir", str(results)],
        cwd=ROOT, capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    written = sorted(results.iterdir())
    assert [path.suffix for path in written] == [".json", ".md"]
    return run.stdout, json.loads(written[0].read_text()), written


@pytest.mark.slow
def test_result_has_every_section_and_key(sample_run):
    _, result, _ = sample_run
    assert {"time", "machine", "versions", "options", "goals", "load", "replay", "to_dict", "step",
            "seconds"} <= result.keys()
    assert {"cpu", "cpu_flags", "cores", "python", "platform", "load_average", "load_average_end"} <= \
        result["machine"].keys()
    assert result["versions"]["clean_tree"] in (True, False)
    for section, keys in ROW_KEYS.items():
        if section == "to_dict" and not HAS_ORJSON:
            continue  # orjson is installed by `make bench` only
        assert result[section], section
        for row in result[section]:
            assert keys <= row.keys(), (section, keys - row.keys())
    for row in result["replay"]:
        assert row["speedups"].keys() == bench.SPEEDUP_PARTS.keys()
        assert all(value is not None and value > 0 for value in row["speedups"].values())


@pytest.mark.slow
def test_figures_describe_the_files(sample_run):
    _, result, _ = sample_run
    messages = len(quorvane.iter_prices_file(str(SAMPLE)))
    assert [(row["file"], row["kind"]) for row in result["load"]] == [
        ("sample.jsonl", "plain"), ("sample.jsonl.gz", "gzip")]
    for row in result["load"]:
        assert row["messages"] == messages
        assert row["uncompressed_bytes"] == SAMPLE.stat().st_size
        # Held and peak come from different counters (anonymous growth, the
        # kernel's high-water mark), so they are not compared with each other.
        assert row["held_bytes"] > 0 and row["peak_bytes"] > 0
    replays = result["replay"]
    assert [row["books"] for row in replays] == [messages, messages]
    # The two files hold the same stream, so betfairlightweight replays it once for both.
    assert replays[0]["peer_dicts_seconds"] == replays[1]["peer_dicts_seconds"]
    assert all(row["peer_books"] > 0 and row["peer_runs"] == 1 for row in replays)
    for row in replays:
        assert len(row["samples"]["replay"]) == row["runs"] and len(row["samples"]["dicts"]) == 1
    assert {(row["step"], row["runners"]) for row in result["step"]} == {
        (step, runners) for step in bench.STEPS for runners in bench.STEP_RUNNERS}
    assert all(row["steps"] == 301 for row in result["step"])


@pytest.mark.slow
def test_tables_are_printed_saved_and_rendered_again(sample_run):
    printed, _, (json_path, markdown_path) = sample_run
    assert printed == markdown_path.read_text()
    for heading in ("### Load", "### Replay", "### Against betfairlightweight", "### Step",
                    *(("### to_dict",) if HAS_ORJSON else ())):
        assert heading in printed
    rendered = subprocess.run([sys.executable, str(ROOT / "bench" / "bench.py"), "--render", str(json_path)],
                              capture_output=True, text=True, timeout=60)
    assert rendered.returncode == 0 and rendered.stdout == printed


@pytest.mark.parametrize("suffix, compress", [
    ("", lambda data: data),
    (".gz", gzip.compress),
    (".gz", lambda data: gzip.compress(data[:1000]) + gzip.compress(data[1000:])),  # two members
    (".bz2", bz2.compress),
])
def test_compressed_copies_share_the_content(tmp_path, suffix, compress):
    path = tmp_path / f"sample.jsonl{suffix}"
    path.write_bytes(compress(SAMPLE.read_bytes()))
    file, plain = bench.bench_file("copy", path), bench.bench_file("plain", SAMPLE)
    assert (file.size, file.content) == (plain.size, plain.content)
    peers = load_module("peers")
    with peers.plain_text(str(path)) as text:
        assert Path(text).read_bytes() == SAMPLE.read_bytes()


@pytest.mark.parametrize("items", [0, 1, 1023, 1024, 1025, 5000])
def test_capped_gives_every_item_within_the_cap(items):
    assert list(bench.capped(range(items), 60)) == list(range(items))


def slow_start(items, seconds):
    for item in range(items):
        if item == 0:
            time.sleep(seconds)
        yield item


@pytest.mark.parametrize("cap, given", [(0, 0), (0.01, bench.CAP_CHECK_BOOKS)])
def test_capped_stops_at_a_check_past_the_cap(cap, given):
    assert list(bench.capped(slow_start(5000, 0.05), cap)) == list(range(given))


def test_stopped_runs_are_extrapolated():
    timings = bench.Timings()
    assert timings.median() is None
    timings.add(3.0, 100, 100)
    assert not timings.estimated
    timings.add(1.0, 25, 100)
    assert timings.estimated and timings.seconds == [3.0, 4.0] and timings.median() == 3.5


# The goals judged on made-up figures: which rows get a mark, and on which side of the goal.

def load_row(file, kind, content, mb_per_s, dom_mb_per_s=None, held_ratio=0.4):
    return {"file": file, "kind": kind, "content": content, "uncompressed_bytes": 4_000_000,
            "messages": 100, "runs": 5, "median_seconds": 4 / mb_per_s, "mb_per_s": mb_per_s,
            "dom_mb_per_s": dom_mb_per_s, "held_bytes": held_ratio * 4e6, "held_ratio": held_ratio,
            "peak_bytes": 2e6, "peak_ratio": 0.5}


def replay_row(file, kind, megabytes, dicts, objects):
    """quorvane's replay takes 10 ms; betfairlightweight `dicts` and `objects` times as long."""
    return {"file": file, "kind": kind, "uncompressed_bytes": int(megabytes * 1e6), "books": 100, "runs": 5,
            "load_seconds": 0.005, "iterate_seconds": 0.005, "replay_seconds": 0.01, "strategy_seconds": 0.02,
            "estimated": [], "peer_runs": 3, "peer_books": 100, "peer_dicts_seconds": 0.01 * dicts,
            "peer_objects_seconds": 0.01 * objects, "peer_objects_reading_seconds": 0.01 * objects + 0.1,
            "speedups": {"replay_vs_dicts": dicts, "replay_vs_objects": objects, "strategy_vs_objects": 6.0}}


def to_dict_row(file, ratio):
    return {"file": file, "books": 100, "books_reached": 100, "runs": 3, "to_dict_us_per_book": 100 * ratio,
            "orjson_us_per_book": 100.0, "to_dict_vs_orjson": ratio}


MADE_UP = {
    "time": "2026-12-09T14:00:00+00:00", "seconds": 600.0, "goals": bench.GOALS,
    "machine": {"cpu": "Test CPU", "cpu_flags": ["avx2", "avx512f"], "cores": 2, "python": "3.13.0",
                "platform": "Linux", "load_average": [0.5, 0.5, 0.5], "load_average_end": [1.5, 1.0, 0.5]},
    "versions": {"quorvane_commit": "abc1234", "clean_tree": False, "betfairlightweight": "2.24.0",
                 "orjson": "3.13.0", "simdjson": "3.0.1", "simdjson_implementation": "haswell"},
    "load": [load_row("fast.jsonl", "plain", "a", 500, dom_mb_per_s=500),  # exactly at the goal
             load_row("fast.jsonl.gz", "gzip", "a", 425),  # exactly 0.85 of its twin
             load_row("fast.jsonl.bz2", "bz2", "a", 50),
             load_row("slow.jsonl", "plain", "b", 400, dom_mb_per_s=500, held_ratio=1.6),
             load_row("slow.jsonl.gz", "gzip", "b", 330),  # 0.825 of slow.jsonl, 0.66 of fast.jsonl
             load_row("alone.jsonl.gz", "gzip", "c", 100),  # no plain twin
             load_row("no-dom.jsonl", "plain", "d", 100),
             load_row("crlf.jsonl", "plain", "e", 200, dom_mb_per_s=100),
             load_row("crlf.jsonl.gz", "gzip", "f", 100)],  # a twin by name: 0.5 of crlf.jsonl
    "replay": [replay_row("fast.jsonl", "plain", 4, 15.0, 60.0),
               replay_row("slow.jsonl.gz", "gzip", 1.0, 14.9, 59.0),
               replay_row("fast.jsonl.bz2", "bz2", 4, 3.0, 10.0),
               replay_row("tiny.jsonl", "plain", 0.999, 3.0, 10.0)],
    "to_dict": [to_dict_row("fast.jsonl", 0.8), to_dict_row("slow.jsonl", 0.81)],
    "step": [{"step": "unchanged", "runners": runners, "runs": 5, "steps": 1001, "us_per_step": 0.1 * runners}
             for runners in bench.STEP_RUNNERS],
}


def marks(rendered, heading, file):
    """The ok/MISS cells of a file's row in the table under a heading."""
    section = rendered.split(f"### {heading}\n", 1)[1].split("\n### ", 1)[0]
    (row,) = [line for line in section.splitlines() if line.startswith(f"| {file} ")]
    return [cell.strip() for cell in row.split("|") if cell.strip() in ("ok", "MISS")]


@pytest.mark.parametrize("heading, file, expected", [
    ("Load", "fast.jsonl", ["ok", "ok"]),
    ("Load", "fast.jsonl.gz", ["ok", "ok"]),
    ("Load", "fast.jsonl.bz2", ["ok"]),  # held only: libbz2's speed has no goal
    ("Load", "slow.jsonl", ["MISS", "MISS"]),
    ("Load", "slow.jsonl.gz", ["MISS", "ok"]),  # against its own twin
    ("Load", "alone.jsonl.gz", ["ok"]),
    ("Load", "no-dom.jsonl", ["ok"]),
    ("Load", "crlf.jsonl.gz", ["MISS", "ok"]),
    ("Against betfairlightweight", "fast.jsonl", ["ok", "ok"]),
    ("Against betfairlightweight", "slow.jsonl.gz", ["MISS", "MISS"]),
    ("Against betfairlightweight", "fast.jsonl.bz2", []),
    ("Against betfairlightweight", "tiny.jsonl", []),
    ("to_dict", "fast.jsonl", ["ok"]),
    ("to_dict", "slow.jsonl", ["MISS"]),
])
def test_goals_are_judged_on_the_right_rows(heading, file, expected):
    assert marks(bench.render(MADE_UP), heading, file) == expected


def test_the_header_names_machine_commit_and_tree_and_steps_carry_no_goal():
    rendered = bench.render(MADE_UP)
    first = rendered.splitlines()[0]
    for shown in ("Test CPU", "AVX2, AVX512F", "abc1234", "uncommitted", "0.5 at the start", "1.5 at the end",
                  "haswell"):
        assert shown in first
    steps = [line for line in rendered.split("### Step\n", 1)[1].splitlines() if line.startswith("| unchanged")]
    assert len(steps) == 3
    assert not {cell.strip() for line in steps for cell in line.split("|")} & {"ok", "MISS"}


def test_render_writes_the_readme_section_between_its_markers(tmp_path):
    results = tmp_path / "bench.json"
    results.write_text(json.dumps(MADE_UP))
    readme = tmp_path / "README.md"
    readme.write_text(f"# Title\n\nprose\n{bench.README_BEGIN}old tables\n{bench.README_END}after\n")
    command = [sys.executable, str(ROOT / "bench" / "bench.py"), "--render", str(results)]
    printed = subprocess.run(command, capture_output=True, text=True, timeout=60, check=True).stdout
    for _ in range(2):  # a second run replaces its own output
        subprocess.run([*command, "--readme", str(readme)], capture_output=True, text=True, timeout=60, check=True)
        assert readme.read_text() == (f"# Title\n\nprose\n{bench.README_BEGIN}\n{printed}\n"
                                      f"{bench.README_END}after\n")
