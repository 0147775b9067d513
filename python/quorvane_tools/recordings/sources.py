"""Finding recordings in files, folders and tar archives, and reading each one."""

from __future__ import annotations

import abc
import contextlib
import dataclasses
import gzip
import io
import os
import pathlib
import shutil
import tarfile
import tempfile
from collections.abc import Callable, Iterable, Iterator
from typing import TYPE_CHECKING, Literal

import quorvane

if TYPE_CHECKING:
    from _typeshed import WriteableBuffer

ARCHIVE_SUFFIXES = (".tar", ".tar.gz", ".tgz")
# The module picks its decompression by these extensions, case and all.
COMPRESSION_BY_SUFFIX: dict[str, Literal["gzip", "bz2"]] = {".gz": "gzip", ".gzip": "gzip", ".bz2": "bz2"}
# A plain file counts as a recording when its first non-blank byte opens a JSON object.
SNIFFED_BYTES = 4096


class RecordingSource(abc.ABC):
    """A recording that can be replayed: a file, or a member of a tar archive.

    Sources are small picklable values, so they can be sent to other processes.
    """

    @property
    @abc.abstractmethod
    def name(self) -> str:
        """The display name: the file's path, or "ARCHIVE:member/path" for an archive member."""

    @property
    @abc.abstractmethod
    def relative_name(self) -> str:
        """The path below the folder or archive it was found in (the file name when given as a file)."""

    @property
    def compression(self) -> Literal["gzip", "bz2"] | None:
        """"gzip" or "bz2" when the name's extension says so (as `iter_prices_file` decides), else None."""
        return COMPRESSION_BY_SUFFIX.get(pathlib.PurePosixPath(self.relative_name).suffix)

    @abc.abstractmethod
    def open(self) -> io.BufferedIOBase:
        """The recording's bytes as stored, compressed or not."""

    @abc.abstractmethod
    def local_path(self) -> contextlib.AbstractContextManager[str]:
        """A context giving a path to the recording on disk (a temporary copy for an archive member)."""

    def iter_prices(self) -> quorvane.PricesIterator:
        """`quorvane.iter_prices_file` on this recording."""
        with self.local_path() as path:
            return quorvane.iter_prices_file(path)

    def __str__(self) -> str:
        return self.name


@dataclasses.dataclass(frozen=True)
class RecordingFile(RecordingSource):
    """A recording in a file of its own."""

    path: str
    relative: str

    @property
    def name(self) -> str:
        return self.path

    @property
    def relative_name(self) -> str:
        return self.relative

    def open(self) -> io.BufferedIOBase:
        return open(self.path, "rb")

    @contextlib.contextmanager
    def local_path(self) -> Iterator[str]:
        yield self.path


@dataclasses.dataclass(frozen=True)
class ArchiveMember(RecordingSource):
    """A recording stored in a tar archive, found at a byte offset of the (decompressed) archive."""

    archive: str
    member: str
    offset: int
    size: int

    @property
    def name(self) -> str:
        return f"{self.archive}:{self.member}"

    @property
    def relative_name(self) -> str:
        return self.member

    def open(self) -> io.BufferedIOBase:
        archive: io.BufferedIOBase = (gzip.GzipFile(self.archive) if _is_gzip_archive(self.archive)
                                      else open(self.archive, "rb"))
        try:
            # A .tar.gz seeks by decompressing from its start, once per member opened.
            archive.seek(self.offset)
        except BaseException:
            archive.close()
            raise
        return io.BufferedReader(_Slice(archive, self.size))

    @contextlib.contextmanager
    def local_path(self) -> Iterator[str]:
        # The copy keeps the member's file name: its extension chooses the decompression.
        with tempfile.TemporaryDirectory(prefix="quorvane-") as folder:
            path = os.path.join(folder, pathlib.PurePosixPath(self.member).name)
            with self.open() as member, open(path, "wb") as copy:
                shutil.copyfileobj(member, copy, 1 << 20)
            yield path


@dataclasses.dataclass(frozen=True)
class UnreadableArchive(RecordingSource):
    """An archive that could not be listed: it stands for its recordings, and fails as they would."""

    archive: str
    error: str

    @property
    def name(self) -> str:
        return self.archive

    @property
    def relative_name(self) -> str:
        return os.path.basename(self.archive)

    def open(self) -> io.BufferedIOBase:
        raise OSError(f"cannot read the archive: {self.error}")

    def local_path(self) -> contextlib.AbstractContextManager[str]:
        raise OSError(f"cannot read the archive: {self.error}")


class _Slice(io.RawIOBase):
    """The next `size` bytes of a file, which it closes."""

    def __init__(self, file: io.BufferedIOBase, size: int) -> None:
        self._file = file
        self._left = size

    def readable(self) -> bool:
        return True

    def readinto(self, buffer: WriteableBuffer) -> int:
        view = memoryview(buffer).cast("B")
        wanted = min(len(view), self._left)
        data = self._file.read(wanted)
        if len(data) < wanted:
            raise EOFError("the archive ends inside this member")
        view[:wanted] = data
        self._left -= len(data)
        return len(data)

    def close(self) -> None:
        if not self.closed:
            self._file.close()
        super().close()


def find_recordings(paths: Iterable[str | os.PathLike[str]]) -> list[RecordingSource]:
    """Every recording in the given files, folders (searched recursively) and tar archives.

    A file named here is taken as a recording (or, named .tar, .tar.gz or .tgz, as an
    archive of them), even when it does not exist, so that its fault shows where it is
    used. Inside folders and archives, a file is a recording when its extension is
    .gz, .gzip or .bz2, or when it is a plain file whose first non-blank character is
    "{"; hidden files and everything else (a README) are skipped. Folders are searched
    in name order, archives in their own order.
    """
    found: list[RecordingSource] = []
    for given in paths:
        path = os.fspath(given)
        if os.path.isdir(path):
            for folder, subfolders, files in os.walk(path):
                subfolders[:] = sorted(name for name in subfolders if not name.startswith("."))
                for name in sorted(files):
                    file = os.path.join(folder, name)
                    if _is_archive(name):
                        found.extend(_archive_members(file))
                    elif not name.startswith(".") and _looks_like_recording(name, lambda: _file_start(file)):
                        found.append(RecordingFile(file, os.path.relpath(file, path)))
        elif _is_archive(path):
            found.extend(_archive_members(path))
        else:
            found.append(RecordingFile(path, os.path.basename(path)))
    return found


def _is_archive(name: str) -> bool:
    return name.endswith(ARCHIVE_SUFFIXES)


def _is_gzip_archive(name: str) -> bool:
    return name.endswith((".tar.gz", ".tgz"))


def _looks_like_recording(name: str, read_start: Callable[[], bytes]) -> bool:
    if pathlib.PurePosixPath(name).suffix in COMPRESSION_BY_SUFFIX:
        return True
    return read_start().lstrip(b" \t\r\n").startswith(b"{")


def _file_start(path: str) -> bytes:
    try:
        with open(path, "rb") as file:
            return file.read(SNIFFED_BYTES)
    except OSError:
        return b"{"  # kept, so that it fails where it is replayed, with its own error


def _archive_members(archive: str) -> list[RecordingSource]:
    members: list[RecordingSource] = []
    try:
        with tarfile.open(archive, "r:gz" if _is_gzip_archive(archive) else "r:") as tar:
            for info in tar:
                name = pathlib.PurePosixPath(info.name).name
                if not info.isreg() or info.sparse is not None or name.startswith(".") or _is_archive(name):
                    continue
                if _looks_like_recording(name, lambda: _member_start(tar, info)):
                    members.append(ArchiveMember(archive, info.name, info.offset_data, info.size))
    except (OSError, EOFError, tarfile.TarError) as error:
        return [UnreadableArchive(archive, str(error))]
    return members


def _member_start(tar: tarfile.TarFile, info: tarfile.TarInfo) -> bytes:
    member = tar.extractfile(info)
    return member.read(SNIFFED_BYTES) if member is not None else b""
