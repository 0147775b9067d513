"""The type stubs: installed beside the module, and checked against it by stubtest."""

import pathlib
import subprocess
import sys
import sysconfig

import pytest

import quorvane

ROOT = pathlib.Path(__file__).resolve().parents[2]
STUB = ROOT / "quorvane.pyi"


@pytest.mark.parametrize("installed", ["quorvane.pyi", "quorvane-stubs/__init__.pyi"])
def test_installed_stubs_are_the_source(installed):
    site = pathlib.Path(sysconfig.get_paths()["platlib"])
    if pathlib.Path(quorvane.__file__).parent != site:
        pytest.skip("quorvane is imported from a build directory, not from the installation")
    assert (site / installed).read_text() == STUB.read_text()


def stubtest(directory):
    # stubtest finds the stub in the current directory ahead of the installed ones.
    return subprocess.run([sys.executable, "-m", "mypy.stubtest", "quorvane"], cwd=directory,
                          capture_output=True, text=True, timeout=300)


# Each change makes the stub wrong in one way. The classes' __module__ is "builtins",
# which would hide them from stubtest's name heuristics; the module's __all__ is what
# makes it compare them, and these cases show that it does.
BROKEN_STUBS = [
    ("missing attribute", "    @property\n    def selection_id(self) -> int: ...\n    @property\n    def handicap",
     "    @property\n    def handicap", "quorvane.Runner.selection_id is not present in stub"),
    ("renamed parameter", "def iter_prices_file(path: str)", "def iter_prices_file(file: str)",
     "quorvane.iter_prices_file is inconsistent"),
    ("subclassable class", "@final\nclass PriceSize:", "class PriceSize:",
     "quorvane.PriceSize cannot be subclassed at runtime"),
    ("method for an attribute", "    @property\n    def traded_volume(self)", "    def traded_volume(self)",
     "quorvane.ExchangePrices.traded_volume is not a function"),
]


@pytest.mark.slow
@pytest.mark.parametrize(("old", "new", "error"), [case[1:] for case in BROKEN_STUBS],
                         ids=[case[0] for case in BROKEN_STUBS])
def test_stubtest_catches_a_wrong_stub(tmp_path, old, new, error):
    text = STUB.read_text()
    assert text.count(old) == 1
    (tmp_path / "quorvane.pyi").write_text(text.replace(old, new))
    run = stubtest(tmp_path)
    assert run.returncode == 1
    assert error in run.stdout, run.stdout
