// PricesIterator: the Python object iter_prices_file returns. It owns the
// stored messages of one file, its position in them and the market cache
// its steps build up.
#pragma once

#include <Python.h>

#include <cstdint>
#include <utility>

#include "core/cache/replay.h"
#include "core/cache/stored_messages.h"
#include "extension/binding/borrow_flag.h"
#include "extension/binding/py_ref.h"
#include "extension/book/build_market_book.h"

namespace quorvane::input {

struct PricesIterator {
    explicit PricesIterator(cache::StoredMessages stored) : messages(std::move(stored)) {}

    // Members are destroyed in reverse order: the messages are released
    // before the market and the book objects it still holds.
    cache::Replay replay;  // the market, from the first change with a usable "id"
    book::RunnerOrder runner_order;
    cache::StoredMessages messages;
    std::uint64_t next_index = 0;
    binding::BorrowFlag borrow_flag;
};

// Throws binding::PythonError when the type cannot be created.
PyTypeObject* prices_iterator_type();

// A new iterator over `messages`, at its start.
binding::PyRef new_prices_iterator(cache::StoredMessages messages);

}  // namespace quorvane::input
