#include "extension/book/build_market_book.h"

#include <Python.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "core/cache/price_ladder.h"
#include "extension/binding/py_values.h"
#include "extension/book/exchange_prices.h"
#include "extension/book/ladder_snapshot.h"
#include "extension/book/market_book.h"
#include "extension/book/runner.h"
#include "extension/book/starting_prices.h"
#include "extension/definition/market_definition.h"
#include "extension/definition/time_values.h"

namespace quorvane::book {
namespace {

using binding::PyRef;
using binding::to_python;

PyRef slot_object(const cache::ObjectSlot& slot) { return PyRef::borrow(static_cast<PyObject*>(slot.get())); }

// The cache keeps one reference; the caller gets another.
void store(cache::ObjectSlot& slot, const PyRef& object, std::uint64_t version) {
    slot.store(object.copy().release(), version);
}

template <class Ladder>
PyRef ladder_snapshot(cache::ObjectSlot& slot, const Ladder& ladder) {
    if (slot.get() && slot.version() == ladder.version) return slot_object(slot);
    PyRef snapshot = new_ladder_snapshot(ladder.levels, cache::is_descending(ladder));
    store(slot, snapshot, ladder.version);
    return snapshot;
}

// The status str of the runner's previous Runner while its text is the same:
// statuses rarely change, and a new str for every Runner built is a large
// share of building one.
PyRef status_text(const cache::ObjectSlot& previous_runner, const std::string& status) {
    if (auto* previous = static_cast<PyObject*>(previous_runner.get())) {
        PyObject* text = binding::value_of<Runner>(previous).status.get();
        if (PyUnicode_IS_COMPACT_ASCII(text) &&
            std::string_view(static_cast<const char*>(PyUnicode_DATA(text)),
                             static_cast<std::size_t>(PyUnicode_GET_LENGTH(text))) == status) {
            return PyRef::borrow(text);
        }
    }
    return to_python(status);
}

PyRef runner_object(cache::RunnerState& record) {
    if (record.runner_object.get() && record.runner_object.version() == record.version) {
        return slot_object(record.runner_object);
    }
    // "spl" is shown as the stake taken on the back side, "spb" as the lay liability.
    StartingPrices sp{
        .back_stake_taken = ladder_snapshot(record.starting_lay_levels, record.starting_price_lay),
        .lay_liability_taken = ladder_snapshot(record.starting_back_levels, record.starting_price_back),
        .near_price = record.near_price,
        .far_price = record.far_price,
        .actual_sp = record.bsp,
    };
    PyRef ex = new_exchange_prices({
        .available_to_back = ladder_snapshot(record.back_list, record.available_to_back),
        .available_to_lay = ladder_snapshot(record.lay_list, record.available_to_lay),
        .traded_volume = ladder_snapshot(record.traded_list, record.traded_volume),
    });
    PyRef runner = new_runner({
        .selection_id = record.selection_id,
        .handicap = record.handicap,
        .adjustment_factor = record.adjustment_factor,
        .last_price_traded = record.last_price_traded,
        .total_matched = record.total_matched,
        .status = status_text(record.runner_object, record.status),
        .removal_date = record.removal_date,
        .ex = std::move(ex),
        .sp = std::move(sp),
    });
    store(record.runner_object, runner, record.version);
    return runner;
}

// The stored definition while no new one has been applied; none before the
// first. A failed build leaves the slot as it was, so the next step retries.
PyRef market_definition(cache::MarketState& market) {
    cache::ObjectSlot& slot = market.definition_object;
    if (slot.version() == market.definition_version) return slot_object(slot);
    PyRef definition = definition::build_market_definition(market);
    store(slot, definition, market.definition_version);
    return definition;
}

}  // namespace

std::span<cache::RunnerState* const> RunnerOrder::arrange(cache::MarketState& market) {
    if (table_version_ == market.runner_table_version) return in_key_order_;
    std::vector<cache::RunnerTable::value_type*> entries;
    entries.reserve(market.runners.size());
    for (auto& entry : market.runners) entries.push_back(&entry);
    std::sort(entries.begin(), entries.end(), [](auto* a, auto* b) { return a->first < b->first; });
    in_key_order_.clear();
    for (auto* entry : entries) in_key_order_.push_back(&entry->second);
    table_version_ = market.runner_table_version;
    return in_key_order_;
}

PyRef build_market_book(cache::MarketState& market, RunnerOrder& order) {
    const auto records = order.arrange(market);
    PyRef runners = binding::created(PyList_New(static_cast<Py_ssize_t>(records.size())));
    for (std::size_t i = 0; i < records.size(); ++i) {
        PyList_SET_ITEM(runners.get(), static_cast<Py_ssize_t>(i), runner_object(*records[i]).release());
    }
    PyRef definition = market_definition(market);
    PyRef publish_time = definition::publish_time_to_datetime(market.publish_time);
    return new_market_book({
        .market_id = market.market_id,
        .status = market.status,
        .last_match_time = market.last_match_time,
        .streaming_unique_id = std::nullopt,
        .publish_time = std::move(publish_time),
        .runners = std::move(runners),
        .publish_time_epoch = market.publish_time,
        .total_matched = market.total_matched,
        .version = market.version,
        .market_definition = std::move(definition),
        .bet_delay = market.bet_delay,
        .number_of_active_runners = market.number_of_active_runners,
        .number_of_runners = market.number_of_runners,
        .number_of_winners = market.number_of_winners,
        .bsp_reconciled = market.bsp_reconciled,
        .complete = market.complete,
        .cross_matching = market.cross_matching,
        .inplay = market.inplay,
        .runners_voidable = market.runners_voidable,
        .borrow_flag = {},
    });
}

}  // namespace quorvane::book
