import pathlib

import pytest

SHARED_DATA = pathlib.Path(__file__).resolve().parents[2].parent / "shared" / "data"


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
            pytest.skip(f"shared recording {path} not found")
        return str(path)

    return find
