import pathlib

import quorvane

try:
    quorvane.iter_prices_file("no/such/file.jsonl")
except ValueError as error:
    print(error)  # No such file or directory (os error 2)
    print(error.__notes__)  # ['while reading no/such/file.jsonl']

try:
    quorvane.iter_prices_file(pathlib.Path("data/sample.jsonl"))
except TypeError as error:
    print(error)  # argument 'path': 'PosixPath' object cannot be converted to 'PyString'
