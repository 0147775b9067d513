"""The example programs, run as a user runs them, on the sample and the real recordings."""

import bz2
import importlib.util
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

import quorvane
from conftest import SHARED_DATA, shared_data_missing

ROOT = pathlib.Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "data" / "sample.jsonl"
REAL = SHARED_DATA / "real"
RECORDINGS = [SAMPLE, REAL / "1.197931750", REAL / "BASIC-1.132153978", REAL / "BASIC-1.132153978.gz"]


def recording(path):
    if not path.is_file():
        shared_data_missing(f"shared recording {path}")
    return str(path)


def run(script, *args, timeout=120):
    return subprocess.run([sys.executable, str(ROOT / "examples" / script), *map(str, args)],
                          cwd=ROOT, capture_output=True, text=True, timeout=timeout)


def names_of(book):
    definition = book.market_definition
    return {r.selection_id: r.name for r in definition.runners} if definition else {}


@pytest.mark.parametrize("path", RECORDINGS, ids=lambda p: p.name)
def test_replay_summarises_the_market(path):
    books = list(quorvane.iter_prices_file(recording(path)))
    result = run("replay.py", path)
    assert result.returncode == 0, result.stderr
    out = result.stdout
    last = books[-1]
    assert f"market {last.market_id}" in out
    # Every change of status or in-play, in order, with its time.
    changes, previous = [], None
    for book in books:
        if (book.status, book.inplay) != previous:
            changes.append(f"{book.publish_time:%H:%M:%S.%f}"[:-3] + "  " + book.status
                           + (" in-play" if book.inplay else ""))
            previous = (book.status, book.inplay)
    positions = [out.find(change) for change in changes]
    assert -1 not in positions and positions == sorted(positions), changes
    assert ("never in play" in out) != any(book.inplay for book in books)
    names = names_of(last)
    for runner in last.runners:
        row = re.search(rf"^{re.escape(names[runner.selection_id][:22])} .* {runner.status}$", out, re.M)
        assert row, runner.selection_id
        if isinstance(runner.sp.actual_sp, float):
            assert f" {runner.sp.actual_sp:g} " in row.group(0)
    winners = [names[r.selection_id] for r in last.runners if r.status == "WINNER"]
    assert re.search(r"^winner: " + re.escape(winners[0]), out, re.M)


def test_replay_reads_a_bz2_copy_alike(tmp_path):
    copy = tmp_path / "sample.jsonl.bz2"
    copy.write_bytes(bz2.compress(SAMPLE.read_bytes()))
    summary = lambda result: result.stdout.split("\n", 1)[1]  # noqa: E731 (the first line has timings)
    assert summary(run("replay.py", copy)) == summary(run("replay.py", SAMPLE))


def test_compare_with_betfairlightweight_reads_a_bz2_copy(tmp_path):
    copy = tmp_path / "sample.jsonl.bz2"
    copy.write_bytes(bz2.compress(SAMPLE.read_bytes()))
    result = run("compare_with_betfairlightweight.py", copy)
    assert result.returncode == 0, result.stderr
    assert f"{copy}: {len(quorvane.iter_prices_file(str(SAMPLE)))} books compared" in result.stdout


def test_replay_reports_a_file_it_cannot_load(tmp_path):
    result = run("replay.py", tmp_path / "missing.jsonl")
    assert result.returncode == 1
    assert "cannot load" in result.stderr and "os error 2" in result.stderr


# The sample, a recording with full ladders, and one that spans two days.
@pytest.mark.slow
@pytest.mark.parametrize("path", RECORDINGS[:3], ids=lambda p: p.name)
def test_plot_market_draws_one_panel_per_priced_runner(tmp_path, path):
    import matplotlib.image

    out = tmp_path / "market.png"
    result = run("plot_market.py", recording(path), out)
    assert result.returncode == 0, result.stderr
    priced = {runner.selection_id for book in quorvane.iter_prices_file(str(path)) for runner in book.runners
              if runner.ex.available_to_back or runner.ex.available_to_lay or runner.last_price_traded}
    assert result.stdout.strip() == f"{out}: {len(priced)} runners"
    image = matplotlib.image.imread(out)
    height, width = image.shape[:2]
    assert width >= 700 and height >= 300
    assert image.std() > 0.05  # not a blank canvas


def test_plot_market_draws_no_price_while_the_market_is_not_open():
    found = importlib.util.spec_from_file_location("plot_market", ROOT / "examples" / "plot_market.py")
    plot_market = importlib.util.module_from_spec(found)
    found.loader.exec_module(plot_market)
    books, series = plot_market.collect(str(SAMPLE))
    status_at = {book.publish_time: book.status for book in books}
    points = [(status_at[time], back) for s in series.values() for time, back in zip(s.times, s.back)]
    assert {"SUSPENDED", "CLOSED"} <= {status for status, _ in points}
    assert all(back != back for status, back in points if status != "OPEN")
    assert any(back == back for status, back in points if status == "OPEN")


def test_with_betfairutil_book_percentages(tmp_path):
    if not hasattr(quorvane.MarketBook, "to_dict"):
        pytest.skip("MarketBook.to_dict is not built into this module")
    result = run("with_betfairutil.py", SAMPLE)
    assert result.returncode == 0, result.stderr
    books = {f"{b.publish_time:%Y-%m-%d %H:%M:%S.%f}"[:-3]: b for b in quorvane.iter_prices_file(str(SAMPLE))}
    rows = re.findall(r"^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) +([\d.]+) +([\d.]+)$", result.stdout, re.M)
    assert len(rows) >= 5
    for stamp, back, lay in rows:
        active = [r for r in books[stamp].runners if r.status == "ACTIVE"]
        # Recomputed from the objects: 1 / best price summed over the active runners.
        expected_back = 100 * sum(1 / r.ex.available_to_back[0].price if r.ex.available_to_back
                                  else 1.0 if r.ex.available_to_lay else 0.0 for r in active)
        expected_lay = 100 * sum(1 / r.ex.available_to_lay[0].price for r in active if r.ex.available_to_lay)
        assert float(back) == pytest.approx(expected_back, abs=0.006)
        assert float(lay) == pytest.approx(expected_lay, abs=0.006)


@pytest.fixture
def folder(tmp_path):
    shutil.copy(SAMPLE, tmp_path / "sample.jsonl")
    (tmp_path / "sample.jsonl.bz2").write_bytes(bz2.compress(SAMPLE.read_bytes()))
    (tmp_path / "broken.jsonl").write_text("{\n")
    (tmp_path / "README.md").write_text("not a recording\n")
    return tmp_path


def table_rows(stdout):
    return {line.split()[0]: line for line in stdout.splitlines()[1:]}


def check_summary(result):
    assert result.returncode == 1  # broken.jsonl
    rows = table_rows(result.stdout)
    assert set(rows) == {"sample.jsonl", "sample.jsonl.bz2", "broken.jsonl"}
    assert "error: EOF while parsing an object at line 1 column 1" in rows["broken.jsonl"]
    for name in ("sample.jsonl", "sample.jsonl.bz2"):
        assert re.search(r"1\.209017031 +Newmarket 7f Nursery +1500 +2025-03-30 19:07:58 +Emerald Warrior +4\.41 +28263\.42",
                         rows[name]), rows[name]


def test_many_files_on_processes(folder, tmp_path):
    table = tmp_path / "summary.csv"
    result = run("many_files.py", folder, "--workers", 2, "--csv", table)
    check_summary(result)
    assert len(table.read_text().splitlines()) == 4


# Starting a LocalCluster of one worker process and replaying the three files takes
# about 5 to 10 seconds on a small shared machine.
@pytest.mark.slow
def test_many_files_on_a_dask_cluster(folder):
    result = run("many_files.py", folder, "--dask", "--workers", 1, timeout=300)
    check_summary(result)
