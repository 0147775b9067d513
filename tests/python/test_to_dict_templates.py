"""to_dict() trees built from fixed key sets: every call gets keys of its own, and the
interpreter shuts down cleanly after the module has built some."""

import subprocess
import sys
import textwrap

import pytest

from streams import change, message, one_per_change, write_stream

DEFINITION = {"status": "OPEN", "marketTime": "2021-03-18T13:20:00.000Z", "regulators": ["MR_INT"],
              "runners": [{"id": 5, "sortPriority": 1, "status": "ACTIVE", "name": "Five"}]}
RUNNERS = dict(rc=[{"id": 5, "atb": [[2.0, 10]], "ltp": 2.0}, {"id": 6, "tv": 3}])


def shape(tree):
    """The keys of every dict of a tree, in order and nested as in the tree."""
    if isinstance(tree, dict):
        return [(key, shape(value)) for key, value in tree.items()]
    if isinstance(tree, list):
        return [shape(element) for element in tree]
    return None


def spoil(tree):
    """Adds a key to, deletes one from and reorders every dict of a tree."""
    if isinstance(tree, dict):
        for value in list(tree.values()):
            spoil(value)
        first = next(iter(tree))
        tree[first] = tree.pop(first)
        tree["spoiled"] = True
    elif isinstance(tree, list):
        for element in tree:
            spoil(element)


@pytest.mark.parametrize("changes", [
    [change(**RUNNERS)],
    [change(definition=DEFINITION, **RUNNERS)],
], ids=["before the first definition", "with a definition"])
def test_changing_a_result_leaves_the_next_ones_keys_alone(tmp_path, changes):
    (book,) = one_per_change(tmp_path, *changes)
    expected = shape(book.to_dict())
    for _ in range(3):
        result = book.to_dict()
        assert shape(result) == expected
        spoil(result)
        assert shape(result) != expected
    assert shape(book.to_dict()) == expected


@pytest.mark.parametrize("with_definition", [False, True], ids=["no definition", "definition"])
def test_the_interpreter_exits_cleanly_after_to_dict(tmp_path, with_definition):
    first = change(definition=DEFINITION, **RUNNERS) if with_definition else change(**RUNNERS)
    path = write_stream(tmp_path, message(1000, first), message(2000, change(tv=5.0)))
    script = textwrap.dedent(f"""
        import quorvane
        results = [book.to_dict() for book in quorvane.iter_prices_file({path!r})]
        print(len(results), "marketDefinition" in results[-1])
    """)
    finished = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert (finished.returncode, finished.stderr) == (0, "")
    assert finished.stdout.split() == ["2", str(with_definition)]
