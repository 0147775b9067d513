import pathlib

import quorvane

try:
    quorvane.iter_prices_file("no/such/file.jsonl")
except ValueError as error:
    print("ValueError:", error)  # No such file or directory (os error 2)

try:
    quorvane.iter_prices_file(pathlib.Path("data/sample.jsonl"))
except TypeError as error:
    print("TypeError:", error)  # only str paths: pass str(path)
