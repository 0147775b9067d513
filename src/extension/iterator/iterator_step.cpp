#include "extension/iterator/iterator_step.h"

#include "extension/binding/borrow_guard.h"
#include "extension/binding/errors.h"
#include "extension/binding/instance.h"
#include "extension/book/build_market_book.h"
#include "extension/iterator/prices_iterator.h"

namespace quorvane::input {

PyObject* iterator_step(PyObject* self) noexcept {
    return binding::boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        PricesIterator& it = binding::value_of<PricesIterator>(self);
        binding::ExclusiveBorrow borrow(it.borrow_flag);
        while (it.next_index < it.messages.size()) {
            it.replay.apply_message(it.messages, it.next_index++);
            if (cache::MarketState* market = it.replay.market()) {
                return book::build_market_book(*market, it.runner_order).release();
            }
        }
        return nullptr;
    });
}

}  // namespace quorvane::input
