// Every retained line of a file, its market changes kept in a compact
// encoded form and decoded again into MarketChangeRecord on each step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "market/cache/market_change_record.h"

namespace quorvane::cache {

class StoredMessages {
public:
    std::size_t size() const;
    std::int64_t publish_time(std::size_t index) const;

    // Appends one message: its publish time and its market changes, in order.
    void append(std::int64_t publish_time, std::span<const MarketChangeRecord> market_changes);

    // Decodes the market changes of message `index` in order, each into
    // `scratch`, and calls visit(const MarketChangeRecord&) for each. The
    // views of a record stay valid as long as this store lives.
    template <class Visit>
    void for_each_market_change(std::size_t index, MarketChangeRecord& scratch, Visit&& visit) const;

    // Bytes held by the store, for memory accounting.
    std::size_t memory_bytes() const;

    // (private representation chosen by the implementation)
};

}  // namespace quorvane::cache
