"""Small stream files for the tests, written into a test's tmp_path."""

import itertools
import json

import quorvane

MARKET_ID = "1.234"
_names = itertools.count()


def message(pt, *changes):
    """One stream line: its publish time and market changes (each a dict)."""
    return {"op": "mcm", "pt": pt, "mc": list(changes)}


def change(**keys):
    """A market change of the test market; keys as the stream spells them."""
    keys = {"marketDefinition" if k == "definition" else k: v for k, v in keys.items()}
    return {"id": MARKET_ID, **keys}


def write_stream(directory, *lines):
    """Writes the lines (dicts are dumped as JSON, str written as they are)."""
    path = directory / f"stream-{next(_names)}.jsonl"
    text = "\n".join(line if isinstance(line, str) else json.dumps(line) for line in lines)
    path.write_text(text + "\n", encoding="utf-8")
    return str(path)


def books(directory, *lines):
    """Every book the iterator yields over these lines."""
    return list(quorvane.iter_prices_file(write_stream(directory, *lines)))


def one_per_change(directory, *changes):
    """A book per market change, each on its own line with pt 1000, 2000, ..."""
    return books(directory, *(message(1000 * (i + 1), c) for i, c in enumerate(changes)))


def generate(directory, runners, messages, depth=6, seed=3):
    """A market written by the project's stream generator; returns its path."""
    import pathlib
    import subprocess
    import sys

    script = pathlib.Path(__file__).resolve().parents[2] / "scripts" / "generate_stream.py"
    path = directory / f"generated-{runners}-{messages}-{seed}.jsonl"
    subprocess.run([sys.executable, str(script), "--runners", str(runners), "--messages", str(messages),
                    "--depth", str(depth), "--seed", str(seed), str(path)], check=True)
    return str(path)
