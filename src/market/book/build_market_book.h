// Builds the MarketBook of one step from the market cache, reusing every
// object whose data did not change since it was built.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "binding/py_ref.h"
#include "market/cache/market_state.h"

namespace quorvane::book {

// The book's runner order, by (selection id, handicap key). It is kept
// between steps and sorted again only when the table's keys changed.
class RunnerOrder {
public:
    // The records of `runners` in key order, valid until the table changes.
    std::span<cache::RunnerState* const> arrange(cache::RunnerTable& runners);

private:
    std::vector<cache::RunnerKey> table_keys_;  // the table's iteration order at the last sort
    std::vector<std::uint32_t> key_order_;      // positions in that order, by key
    std::vector<cache::RunnerState*> in_table_order_;
    std::vector<cache::RunnerState*> in_key_order_;
};

// A new MarketBook. Refreshes the reuse slots of the runner records and the
// market's definition slot; reads nothing else but the cache. Throws
// binding::PythonError (a definition time or the publish time that cannot
// be converted); slots already refreshed keep their new objects.
binding::PyRef build_market_book(cache::MarketState& market, RunnerOrder& order);

}  // namespace quorvane::book
