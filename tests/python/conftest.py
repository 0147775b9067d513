import os
import pathlib

import pytest

# QUORVANE_SHARED_DIR points the tests at another copy of the shared data, or at none.
SHARED_DATA = pathlib.Path(
    os.environ.get("QUORVANE_SHARED_DIR") or pathlib.Path(__file__).resolve().parents[2].parent / "shared") / "data"


def shared_data_missing(what):
    """Skips the test for lack of shared data; fails it in CI, where a skip would pass unchecked."""
    if os.environ.get("CI") == "true":
        pytest.fail(f"{what} not found (CI needs the shared data)", pytrace=False)
    pytest.skip(f"{what} not found")


@pytest.fixture
def write_file(tmp_path):
    """Writes bytes to a file of the given name and returns its path as str."""

    def write(name, content):
        path = tmp_path / name
        path.write_bytes(content)
        return str(path)

    return write


@pytest.fixture
def real_recording():
    """Path of one of the shared real recordings; skips when they are absent."""

    def find(name):
        path = SHARED_DATA / "real" / name
        if not path.is_file():
            shared_data_missing(f"shared recording {path}")
        return str(path)

    return find
