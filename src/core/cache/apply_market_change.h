// Applies one market change of a stored message to the market cache.
#pragma once

#include <cstdint>

#include "core/cache/market_change_record.h"
#include "core/cache/market_state.h"

namespace quorvane::cache {

// `publish_time` is the "pt" of the message the change belongs to. Never
// fails; a value that repeats the cached one allocates nothing and raises no
// counter. Costs constant time per runner change and per price pair.
void apply_market_change(MarketState& state, const MarketChangeRecord& change, std::int64_t publish_time);

}  // namespace quorvane::cache
