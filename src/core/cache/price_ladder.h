// Price ladders of one runner: price levels keyed by the exact bits of the
// price (so 0.0 and -0.0 are two levels), updated by [price, size] deltas.
#pragma once

#include <concepts>
#include <cstdint>
#include <span>
#include <vector>

#include "core/cache/market_change_record.h"
#include "core/cache/price_levels.h"

namespace quorvane::cache {

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
// it) and raises the ladder's version once if any pair changed it. Inline,
// as it runs for every ladder of every runner change.
template <class Ladder>
    requires std::same_as<Ladder, PriceLadder> || std::same_as<Ladder, TradedLadder>
bool apply_price_pairs(Ladder& ladder, PricePairs pairs) {
    bool changed = false;
    for (const auto& [price, size] : pairs)
        changed |= size != 0.0 ? ladder.levels.set(price_key(price), size) : ladder.levels.erase(price_key(price));
    ladder.version += changed;
    return changed;
}

inline bool is_descending(const PriceLadder& ladder) { return ladder.descending; }
inline bool is_descending(const TradedLadder&) { return false; }

// Every level, in the table's own order; `out` holds levels.size() pairs.
void copy_levels(const PriceLevels& levels, std::span<PricePair> out);
// Orders copied levels by price, as a ladder reads them out.
void order_levels(std::span<PricePair> pairs, bool descending);

// Every level, ordered by price.
template <class Ladder>
std::vector<PricePair> sorted_levels(const Ladder& ladder) {
    std::vector<PricePair> out(ladder.levels.size());
    copy_levels(ladder.levels, out);
    order_levels(out, is_descending(ladder));
    return out;
}

}  // namespace quorvane::cache
