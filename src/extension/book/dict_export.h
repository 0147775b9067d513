// MarketBook.to_dict(): the book as a tree of plain Python objects with the
// stream's camelCase keys. The tree is built anew at every call and shares
// no mutable object with any book.
#pragma once

#include <Python.h>

namespace quorvane::book {

inline constexpr char to_dict_doc[] =
    "to_dict($self)\n--\n\nConvert to a dict matching betfairutil lightweight format (for testing)";

// METH_NOARGS method of MarketBook.
PyObject* market_book_to_dict(PyObject* self, PyObject* unused) noexcept;

}  // namespace quorvane::book
