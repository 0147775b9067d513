"""The demo and the benchmark say plainly when the module is not built."""

import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]

# A None entry in sys.modules makes `import quorvane` fail, installed or not.
RUN_WITHOUT_MODULE = (
    "import runpy, sys; sys.modules['quorvane'] = None; sys.argv = sys.argv[1:];"
    " runpy.run_path(sys.argv[0], run_name='__main__')")


@pytest.mark.parametrize("script, args", [
    ("examples/replay.py", ["data/sample.jsonl"]),
    ("bench/bench.py", ["--sizes", ""]),
])
def test_missing_module_is_reported(script, args):
    run = subprocess.run([sys.executable, "-c", RUN_WITHOUT_MODULE, str(ROOT / script), *args],
                         cwd=ROOT, capture_output=True, text=True, timeout=60)
    assert run.returncode == 1
    assert "cannot import quorvane" in run.stderr and "make build" in run.stderr
    assert "Traceback" not in run.stderr
