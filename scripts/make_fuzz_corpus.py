#!/usr/bin/env python3
"""Write the seed corpora of the fuzz harnesses (tests/fuzz) into a directory.

    make_fuzz_corpus.py OUTPUT_DIR [LINE_VECTORS_TSV]

OUTPUT_DIR/read_stream/ gets seeds for read_stream_fuzzer (a first byte whose
lowest bit chooses gzip, then the content) and OUTPUT_DIR/apply_stream/ seeds
for apply_stream_fuzzer (plain stream content), OUTPUT_DIR/read_lines/ the same
for read_lines_fuzzer. Seeds are small markets from
scripts/generate_stream.py and the inputs of the shared line vectors; the
vectors are skipped with a notice when the file is absent. Standard library
only; the same inputs give the same files.
"""

from __future__ import annotations

import base64
import gzip
import hashlib
import subprocess
import sys
import tempfile
from pathlib import Path

SCRIPTS = Path(__file__).resolve().parent
DEFAULT_VECTORS = SCRIPTS.parents[1] / "shared" / "data" / "json" / "line-vectors.tsv"
PLAIN, GZIP = b"\x00", b"\x01"
# Small markets, so that a seed stays far below the harnesses' -max_len.
MARKETS = [(2, 8, 2, 1), (3, 12, 3, 2), (4, 16, 2, 3), (6, 10, 3, 4)]
VECTORS_PER_GZIP_SEED = 100


def compress(content: bytes) -> bytes:
    return gzip.compress(content, mtime=0)


def generated_markets() -> list[bytes]:
    markets = []
    with tempfile.TemporaryDirectory() as scratch:
        for runners, messages, depth, seed in MARKETS:
            path = Path(scratch) / f"market-{seed}.jsonl"
            subprocess.run([sys.executable, str(SCRIPTS / "generate_stream.py"), "--runners", str(runners),
                            "--messages", str(messages), "--depth", str(depth), "--seed", str(seed),
                            str(path)], check=True)
            markets.append(path.read_bytes())
    return markets


def vector_lines(path: Path) -> list[bytes]:
    if not path.is_file():
        print(f"make_fuzz_corpus: {path} not found; seeding without the line vectors", file=sys.stderr)
        return []
    lines = []
    for row in path.read_bytes().splitlines():
        lines.append(base64.b64decode(row.split(b"\t", 1)[0]))
    return lines


def write_seeds(directory: Path, seeds: list[bytes]) -> None:
    directory.mkdir(parents=True, exist_ok=True)
    for old in directory.iterdir():
        old.unlink()
    for seed in seeds:
        (directory / hashlib.sha1(seed).hexdigest()).write_bytes(seed)


def main() -> None:
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    output = Path(sys.argv[1])
    markets = generated_markets()
    lines = vector_lines(Path(sys.argv[2]) if len(sys.argv) == 3 else DEFAULT_VECTORS)
    groups = [b"\n".join(lines[i:i + VECTORS_PER_GZIP_SEED]) for i in range(0, len(lines), VECTORS_PER_GZIP_SEED)]
    # A line beyond the reader's 1 MiB buffer costs the fuzzer little once compressed.
    long_line = b'{"pt":1,"mc":[{"id":"1.1","marketDefinition":{"name":"' + b"x" * (3 << 19) + b'"}}]}\n'

    read_seeds = [PLAIN + m for m in markets] + [GZIP + compress(m) for m in markets]
    read_seeds += [PLAIN + line for line in lines] + [GZIP + compress(g) for g in groups]
    read_seeds.append(GZIP + compress(long_line))
    write_seeds(output / "read_stream", read_seeds)
    write_seeds(output / "apply_stream", markets + lines)
    write_seeds(output / "read_lines", markets + lines)


if __name__ == "__main__":
    main()
