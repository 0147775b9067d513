"""The `quorvane` command on a service-style archive with one broken member."""

import bz2
import csv
import io
import json
import pathlib
import subprocess
import sys

import pytest

import quorvane
from quorvane_tools.recompress import gzip_copy
from quorvane_tools.recordings import COLUMNS, RecordingFile

import recording_tree

ROOT = recording_tree.ROOT


@pytest.fixture(scope="module")
def tree(tmp_path_factory):
    return recording_tree.build(tmp_path_factory.mktemp("service"))


def quorvane_command(*args, timeout=180):
    return subprocess.run([sys.executable, "-m", "quorvane_tools", *map(str, args)], capture_output=True,
                          text=True, timeout=timeout)


def last_book(prices):
    last = None
    for last in prices:
        pass
    return last.to_dict()


@pytest.mark.parametrize("filters, markets", [
    ([], ["1.197931750", "1.132153978", "1.209017031", "", "1.209017031", "1.197931750"]),
    (["--event-type", "7", "--from", "2020-01-01"], ["1.209017031", "", "1.209017031"]),
])
def test_catalogue_csv_has_a_row_per_recording_and_fails_with_the_broken_one(tree, filters, markets):
    result = quorvane_command("catalogue", tree.folder, "--format", "csv", "--processes", 2, *filters)
    assert result.returncode == 1, result.stderr
    rows = list(csv.DictReader(io.StringIO(result.stdout)))
    assert result.stdout.splitlines()[0] == ",".join(COLUMNS)
    assert [row["market_id"] for row in rows] == markets
    broken = [row for row in rows if row["error"]]
    assert [row["source"] for row in broken] == [tree.broken] and broken[0]["runners"] == ""


@pytest.mark.parametrize("form", ["json", "table"])
def test_catalogue_of_good_recordings_succeeds(tree, form):
    good = [path for name, path in tree.originals.items() if ":" not in name]
    result = quorvane_command("catalogue", *good, "--format", form)
    assert result.returncode == 0, result.stderr
    if form == "json":
        assert [row["venue"] for row in json.loads(result.stdout)] == ["Sheffield"]
    else:
        header, row = result.stdout.splitlines()
        assert header.split()[:3] == ["source", "market_id", "event_type_id"]
        assert row.split()[:3] == [str(good[0]), "1.197931750", "4339"]


def test_summary_is_the_replay_example(tree):
    recording = next(name for name in tree.originals if ":" not in name)
    command, example = quorvane_command("summary", recording), subprocess.run(
        [sys.executable, str(ROOT / "examples" / "replay.py"), recording], capture_output=True, text=True,
        timeout=120)
    assert command.returncode == example.returncode == 0, command.stderr
    # The first line holds timings.
    assert command.stdout.split("\n", 1)[1] == example.stdout.split("\n", 1)[1]
    assert "market 1.197931750" in command.stdout


def test_recompress_keeps_gzip_copies_that_replay_alike(tree, tmp_path):
    out = tmp_path / "gzip"
    script = pathlib.Path(sys.executable).with_name("quorvane")  # the console script
    result = subprocess.run([script, "recompress", tree.folder, "--to", "gzip", "--out", out],
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 1
    assert f"{tree.broken}: error:" in result.stderr
    bz2_members = {name.split(":", 1)[1]: original for name, original in tree.originals.items()
                   if name.endswith(".bz2")}
    written = sorted(str(path.relative_to(out)) for path in out.rglob("*") if path.is_file())
    assert written == sorted(name.removesuffix(".bz2") + ".gz" for name in bz2_members)
    for name, original in bz2_members.items():
        copy = str(out / (name.removesuffix(".bz2") + ".gz"))
        assert last_book(quorvane.iter_prices_file(copy)) == last_book(quorvane.iter_prices_file(str(original)))


def test_recompress_refuses_to_write_outside_its_folder(tmp_path):
    recording = tmp_path / "1.5.bz2"
    recording.write_bytes(bz2.compress(recording_tree.SAMPLE.read_bytes()))
    with pytest.raises(ValueError, match="outside the output folder"):
        gzip_copy(RecordingFile(str(recording), "../1.5.bz2"), tmp_path / "out")
    assert sorted(path.name for path in tmp_path.rglob("*")) == ["1.5.bz2"]
