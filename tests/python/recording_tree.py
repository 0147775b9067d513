"""A folder as the historical data service ships it: a .tar of one .bz2 per market in dated folders.

One member is cut short (a broken download); a README sits beside the markets, and a
loose plain recording and a .tar.gz sit beside the archive.
"""

import bz2
import dataclasses
import io
import pathlib
import tarfile

from conftest import SHARED_DATA, shared_data_missing

ROOT = pathlib.Path(__file__).resolve().parents[2]
REAL = SHARED_DATA / "real"
SAMPLE = ROOT / "data" / "sample.jsonl"


@dataclasses.dataclass
class Tree:
    folder: pathlib.Path
    archive: pathlib.Path
    originals: dict[str, pathlib.Path]  # display name of every good recording -> its original file
    broken: str  # display name of the broken member


def real(name):
    path = REAL / name
    if not path.is_file():
        shared_data_missing(f"shared recording {path}")
    return path


def add(tar, name, data):
    info = tarfile.TarInfo(name)
    info.size = len(data)
    tar.addfile(info, io.BytesIO(data))


def build(folder):
    members = {
        "PRO/2022/Apr/19/31389771/1.197931750.bz2": real("1.197931750"),
        "PRO/2017/Jun/14/28270094/1.132153978.bz2": real("BASIC-1.132153978"),
        "PRO/2025/Mar/30/33193707/1.209017031.bz2": SAMPLE,
    }
    archive = folder / "PRO_2022.tar"
    broken = "PRO/2025/Mar/30/33193707/1.209017032.bz2"
    with tarfile.open(archive, "w") as tar:
        for name, original in members.items():
            add(tar, name, bz2.compress(original.read_bytes()))
        add(tar, broken, bz2.compress(SAMPLE.read_bytes())[:3000])
        add(tar, "PRO/README.txt", b"Historical data, one file per market.\n")
        add(tar, "PRO/._1.197931750.bz2", b"\0\5\26\7")  # an archiver's resource fork
    with tarfile.open(folder / "more.tar.gz", "w:gz") as tar:
        add(tar, "recorder/1.209017031", SAMPLE.read_bytes())
    (folder / "README.md").write_text("# Markets\n")
    (folder / "recorded").mkdir()
    loose = folder / "recorded" / "1.197931750"
    loose.write_bytes(real("1.197931750").read_bytes())
    originals = {f"{archive}:{name}": original for name, original in members.items()}
    originals[f"{folder / 'more.tar.gz'}:recorder/1.209017031"] = SAMPLE
    originals[str(loose)] = loose
    return Tree(folder, archive, originals, f"{archive}:{broken}")
