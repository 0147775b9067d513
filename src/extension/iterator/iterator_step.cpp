#include "extension/iterator/iterator_step.h"

#include "core/cache/apply_market_change.h"
#include "extension/binding/borrow_guard.h"
#include "extension/binding/errors.h"
#include "extension/binding/instance.h"
#include "extension/book/build_market_book.h"
#include "extension/iterator/prices_iterator.h"

namespace quorvane::input {
namespace {

// Changes that come before the first usable "id" have no market to go to.
void apply_message(PricesIterator& it, std::size_t index) {
    const std::int64_t publish_time = it.messages.publish_time(index);
    it.messages.for_each_market_change(index, it.scratch, [&](const cache::MarketChangeRecord& change) {
        if (!it.market) {
            if (!change.id) return;
            it.market.emplace(*change.id);
        }
        cache::apply_market_change(*it.market, change, publish_time);
    });
}

}  // namespace

PyObject* iterator_step(PyObject* self) noexcept {
    return binding::boundary<PyObject*>(nullptr, [&]() -> PyObject* {
        PricesIterator& it = binding::value_of<PricesIterator>(self);
        binding::ExclusiveBorrow borrow(it.borrow_flag);
        while (it.next_index < it.messages.size()) {
            apply_message(it, it.next_index++);
            if (it.market) return book::build_market_book(*it.market, it.runner_order).release();
        }
        return nullptr;
    });
}

}  // namespace quorvane::input
