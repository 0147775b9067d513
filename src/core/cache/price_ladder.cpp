#include "core/cache/price_ladder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>

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

}  // namespace

void copy_levels(const PriceLevels& levels, std::span<PricePair> out) {
    // A level's key is its price's bits, so the two layouts are one.
    static_assert(sizeof(PriceLevel) == sizeof(PricePair) && std::is_trivially_copyable_v<PricePair>);
    if (!out.empty()) std::memcpy(out.data(), levels.levels().data(), out.size_bytes());
}

void order_levels(std::span<PricePair> pairs, bool descending) {
    const auto lower = [](const PricePair& a, const PricePair& b) {
        return ordered_bits(a.price) < ordered_bits(b.price);
    };
    if (descending) {
        std::sort(pairs.begin(), pairs.end(), [&](const PricePair& a, const PricePair& b) { return lower(b, a); });
    } else {
        std::sort(pairs.begin(), pairs.end(), lower);
    }
}

}  // namespace quorvane::cache
