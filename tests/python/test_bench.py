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
    "load": {"file", "kind", "uncompressed_bytes", "messages", "runs", "median_seconds", "mb_per_s",
             "goal_mb_per_s", "held_bytes", "peak_bytes", "code_bytes", "held_ratio", "peak_ratio",
             "goal_held_ratio"},
    "replay": {"file", "kind", "uncompressed_bytes", "books", "runs", "load_seconds", "replay_seconds",
               "iterate_seconds", "to_dict_seconds", "strategy_seconds", "peer_books", "peer_runs",
               "peer_dicts_seconds", "peer_objects_seconds", "peer_objects_reading_seconds",
               "samples", "estimated", "ratios", "goal_ratios"},
    "step": {"step", "runners", "steps", "runs", "median_seconds", "us_per_step", "goal_us_per_step"},
}


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
         "--step-messages", "300", "--results-dir", str(results)],
        cwd=ROOT, capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    written = sorted(results.iterdir())
    assert [path.suffix for path in written] == [".json", ".md"]
    return run.stdout, json.loads(written[0].read_text()), written


@pytest.mark.slow
def test_result_has_every_section_and_key(sample_run):
    _, result, _ = sample_run
    assert {"time", "machine", "versions", "options", "goal_ratios", "load", "replay", "step",
            "seconds"} <= result.keys()
    assert {"cpu", "cores", "python", "platform", "load_average"} <= result["machine"].keys()
    for section, keys in ROW_KEYS.items():
        assert result[section], section
        for row in result[section]:
            assert keys <= row.keys(), (section, keys - row.keys())
    for row in result["replay"]:
        assert row["ratios"].keys() == bench.GOAL_RATIO.keys()
        assert all(value is not None and value > 0 for value in row["ratios"].values())


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
        (step, runners) for step in bench.STEP_GOAL_US for runners in bench.STEP_RUNNERS}
    assert all(row["steps"] == 301 for row in result["step"])


@pytest.mark.slow
def test_tables_are_printed_saved_and_rendered_again(sample_run):
    printed, _, (json_path, markdown_path) = sample_run
    assert printed == markdown_path.read_text()
    for heading in ("### Load", "### Replay", "### Against betfairlightweight", "### Step"):
        assert heading in printed
    rendered = subprocess.run([sys.executable, str(ROOT / "bench" / "bench.py"), "--render", str(json_path)],
                              capture_output=True, text=True, timeout=60)
    assert rendered.returncode == 0 and rendered.stdout == printed


@pytest.mark.parametrize("suffix, compress", [
    ("", lambda data: data),
    (".gz", gzip.compress),
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
