"""A cycle that Python code closes through the lists of a book is collected
like a cycle of plain Python objects."""

import gc
import weakref

import pytest

from streams import books, change, message


class Marker:
    """Lives only through the cycle; its weak reference tells when it died."""


OPENING = change(
    img=True,
    definition={"status": "OPEN", "runners": [{"id": 1, "sortPriority": 1}]},
    rc=[{"id": 1, "atb": [[2.0, 10]]}],
)


@pytest.mark.parametrize("container", [
    lambda book: book.runners,
    lambda book: book.runners[0].ex.available_to_back,
    lambda book: book.market_definition.runners,
], ids=["runners", "exchange ladder", "definition runners"])
def test_cycle_through_a_book_is_collected(tmp_path, container):
    # books() drops the iterator, whose cache would keep the book's parts alive.
    (book,) = books(tmp_path, message(1, OPENING))
    marker = Marker()
    container(book).extend([book, marker])
    alive = weakref.ref(marker)
    del book, marker
    gc.collect()
    assert alive() is None
