#include "core/cache/replay.h"

#include "core/cache/apply_market_change.h"

namespace quorvane::cache {

bool Replay::apply(const MarketChangeRecord& change, std::int64_t publish_time) {
    if (!market_) {
        if (!change.id) return false;
        market_.emplace(*change.id);
    }
    apply_market_change(*market_, change, publish_time);
    return true;
}

void Replay::apply_message(const StoredMessages& messages, std::size_t index) {
    const std::int64_t publish_time = messages.publish_time(index);
    messages.for_each_market_change(index, scratch_,
                                    [&](const MarketChangeRecord& change) { apply(change, publish_time); });
}

}  // namespace quorvane::cache
