// One step of a PricesIterator: the tp_iternext slot.
#pragma once

#include <Python.h>

namespace quorvane::input {

// Applies the next stored message to the market cache and returns the new
// MarketBook; a message that leaves the iterator without a market yields no
// book, and the step goes on with the following one. NULL without an
// exception ends the iteration, after the last message and on every call
// after it. A consumed message stays consumed, also when the step fails.
PyObject* iterator_step(PyObject* self) noexcept;

}  // namespace quorvane::input
