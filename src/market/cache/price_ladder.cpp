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

}  // namespace

// Every slot is written to the next free place, which only a filled slot
// moves on: half the slots are empty in no foreseeable pattern, so a branch
// per slot would be mispredicted half the time.
void copy_levels(const PriceLevels& levels, std::span<PricePair> out) {
    std::size_t filled = 0;
    for (const PriceLevel& slot : levels.slots()) {
        if (filled == out.size()) break;
        out[filled] = {std::bit_cast<double>(slot.key), slot.size};
        filled += slot.size != 0.0;
    }
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
