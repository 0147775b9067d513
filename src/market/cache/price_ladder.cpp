#include "market/cache/price_ladder.h"

#include <algorithm>
#include <bit>

namespace quorvane::cache {
namespace {

// Maps a double's bits onto an unsigned key whose order is the numeric order,
// with -0.0 just below 0.0. Prices are unique by bits, so the order is total
// and the result does not depend on the table's iteration order.
std::uint64_t ordered_bits(double price) {
    const std::uint64_t bits = price_key(price);
    constexpr std::uint64_t sign = std::uint64_t{1} << 63;
    return (bits & sign) ? ~bits : bits | sign;
}

std::vector<PricePair> sorted(const PriceLevels& levels, bool descending) {
    std::vector<PricePair> out;
    out.reserve(levels.size());
    for (const auto& [key, size] : levels) out.push_back({std::bit_cast<double>(key), size});
    const auto lower = [](const PricePair& a, const PricePair& b) {
        return ordered_bits(a.price) < ordered_bits(b.price);
    };
    if (descending) {
        std::sort(out.begin(), out.end(), [&](const PricePair& a, const PricePair& b) { return lower(b, a); });
    } else {
        std::sort(out.begin(), out.end(), lower);
    }
    return out;
}

}  // namespace

std::vector<PricePair> sorted_levels(const PriceLadder& ladder) { return sorted(ladder.levels, ladder.descending); }
std::vector<PricePair> sorted_levels(const TradedLadder& ladder) { return sorted(ladder.levels, false); }

}  // namespace quorvane::cache
