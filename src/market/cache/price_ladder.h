// Price ladders of one runner: price levels keyed by the exact bits of the
// price (so 0.0 and -0.0 are two levels), updated by [price, size] deltas.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

#include <absl/container/flat_hash_map.h>

#include "market/cache/market_change_record.h"

namespace quorvane::cache {

// price bits -> size; never holds a size of 0.
using PriceLevels = absl::flat_hash_map<std::uint64_t, double>;

inline std::uint64_t price_key(double price) { return std::bit_cast<std::uint64_t>(price); }

// "atb", "atl", "spb", "spl": read out in the direction fixed at creation.
struct PriceLadder {
    explicit PriceLadder(bool descending = false) : descending(descending) {}

    PriceLevels levels;
    std::uint64_t version = 0;
    bool descending = false;
};

// "trd": always read out lowest price first.
struct TradedLadder {
    PriceLevels levels;
    std::uint64_t version = 0;
};

// Applies the pairs in order (size 0 removes the level, any other size sets
// it) and raises the ladder's version once if any pair changed it.
bool apply_price_pairs(PriceLadder& ladder, PricePairs pairs);
bool apply_price_pairs(TradedLadder& ladder, PricePairs pairs);

// Every level, ordered by price.
std::vector<PricePair> sorted_levels(const PriceLadder& ladder);
std::vector<PricePair> sorted_levels(const TradedLadder& ladder);

}  // namespace quorvane::cache
