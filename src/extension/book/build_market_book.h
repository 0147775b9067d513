// Builds the MarketBook of one step from the market cache, reusing every
// object whose data did not change since it was built.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/cache/market_state.h"
#include "extension/binding/py_ref.h"

namespace quorvane::book {

// The book's runner order, by (selection id, handicap key). It is kept
// between steps and made again only when records joined or left the table,
// so a step does not walk the table.
class RunnerOrder {
public:
    // The market's records in key order, valid until the table changes.
    std::span<cache::RunnerState* const> arrange(cache::MarketState& market);

private:
    std::optional<std::uint64_t> table_version_;  // of the table the order was made from
    std::vector<cache::RunnerState*> in_key_order_;
};

// A new MarketBook. Refreshes the reuse slots of the runner records and the
// market's definition slot; reads nothing else but the cache. Throws
// binding::PythonError (a definition time or the publish time that cannot
// be converted); slots already refreshed keep their new objects.
binding::PyRef build_market_book(cache::MarketState& market, RunnerOrder& order);

}  // namespace quorvane::book
