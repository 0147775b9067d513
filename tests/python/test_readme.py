"""Every code block of the README is a file of examples/readme/, and runs."""

import pathlib
import re
import subprocess
import sys

import pytest

import quorvane

ROOT = pathlib.Path(__file__).resolve().parents[2]
README = (ROOT / "README.md").read_text()
EXAMPLES = ROOT / "examples" / "readme"

BLOCK = re.compile(r"<!-- example: (\S+) -->\n```python\n(.*?)```", re.S)
INCLUDED = dict(BLOCK.findall(README))


def test_every_python_block_names_its_file():
    assert README.count("```python") == len(BLOCK.findall(README))
    # Every file of examples/readme is in the README; a block may also be a program of examples/.
    assert {f"examples/readme/{p.name}" for p in EXAMPLES.glob("*.py")} <= set(INCLUDED)


@pytest.mark.parametrize("name", sorted(INCLUDED))
def test_block_is_the_file_and_runs(tmp_path, name):
    source = (ROOT / name).read_text()
    assert INCLUDED[name] == source
    if "to_dict" in source and not hasattr(quorvane.MarketBook, "to_dict"):
        pytest.skip("MarketBook.to_dict is not built into this module")
    # The blocks use paths as a user in the repository's root would.
    (tmp_path / "data").mkdir()
    (tmp_path / "data" / "sample.jsonl").symlink_to(ROOT / "data" / "sample.jsonl")
    run = subprocess.run([sys.executable, str(ROOT / name)], cwd=tmp_path, capture_output=True,
                         text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip()
    assert "Traceback" not in run.stderr
    # A comment after a print shows the very line it prints.
    for shown in re.findall(r"^\s*print\(.*\)  # (.*)$", source, re.M):
        assert shown in run.stdout.splitlines()
