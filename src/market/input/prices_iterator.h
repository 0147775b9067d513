// PricesIterator: the Python object iter_prices_file returns. It owns the
// stored messages of one file and its position in them.
#pragma once

#include <Python.h>

#include <cstdint>
#include <utility>

#include "binding/borrow_flag.h"
#include "binding/py_ref.h"
#include "market/cache/stored_messages.h"

namespace quorvane::input {

struct PricesIterator {
    explicit PricesIterator(cache::StoredMessages stored) : messages(std::move(stored)) {}

    // `market`, the market cache the steps build up, belongs here, first:
    // members are destroyed in reverse order, so the messages are released
    // before the market and the book objects it still holds.
    cache::StoredMessages messages;
    std::uint64_t next_index = 0;
    binding::BorrowFlag borrow_flag;
};

// Throws binding::PythonError when the type cannot be created.
PyTypeObject* prices_iterator_type();

// A new iterator over `messages`, at its start.
binding::PyRef new_prices_iterator(cache::StoredMessages messages);

}  // namespace quorvane::input
