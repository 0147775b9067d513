#!/usr/bin/env python3
"""Replay a recording with the installed quorvane and print a digest of its books.

    replay_digest.py RECORDING

`make wheel-check` runs it with the wheel in a fresh venv and with the source
build, and compares the two lines. It first makes sure that quorvane and
quorvane_tools come from the interpreter's own environment, not the checkout.
"""

import hashlib
import json
import pathlib
import sys

import quorvane
import quorvane_tools


def main() -> None:
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    environment = pathlib.Path(sys.prefix).resolve()
    for module in (quorvane, quorvane_tools):
        origin = pathlib.Path(module.__file__).resolve()
        if not origin.is_relative_to(environment):
            sys.exit(f"replay_digest.py: {module.__name__} comes from {origin}, outside {environment}")
    digest = hashlib.sha256()
    books = 0
    for book in quorvane.iter_prices_file(sys.argv[1]):
        digest.update(json.dumps(book.to_dict(), sort_keys=True, default=str).encode())
        books += 1
    print(f"{books} books, sha256 {digest.hexdigest()}")


if __name__ == "__main__":
    main()
