// The replay of one recording: the first market change with a usable "id"
// founds the market, and every later change merges into it, whatever its
// own "id". Changes before the first usable "id" have no market to go to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/cache/market_change_record.h"
#include "core/cache/market_state.h"
#include "core/cache/stored_messages.h"

namespace quorvane::cache {

class Replay {
public:
    // Applies one market change of a message published at `publish_time`;
    // false when there is no market for it yet.
    bool apply(const MarketChangeRecord& change, std::int64_t publish_time);

    // Applies every market change of message `index` of `messages`.
    void apply_message(const StoredMessages& messages, std::size_t index);

    // Null until a change has founded the market.
    const MarketState* market() const noexcept { return market_ ? &*market_ : nullptr; }
    MarketState* market() noexcept { return market_ ? &*market_ : nullptr; }

private:
    std::optional<MarketState> market_;
    MarketChangeRecord scratch_;  // decoding space, kept so its buffers are reused
};

}  // namespace quorvane::cache
