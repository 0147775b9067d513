#include "market/cache/price_levels.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace quorvane::cache {

// Backward-shift deletion: later entries of the probe run move into the hole
// when their home lies at or before it, so no tombstones pile up and a
// lookup still stops at the first empty slot.
void PriceLevels::close_hole(std::size_t hole) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t index = next(hole); slots_[index].size != 0.0; index = next(index)) {
        const std::size_t from_home = (index - home(slots_[index].key)) & mask;
        if (from_home >= ((index - hole) & mask)) {
            slots_[hole] = slots_[index];
            hole = index;
        }
    }
    slots_[hole] = {0, 0.0};
}

void PriceLevels::grow() {
    std::vector<PriceLevel> old(std::max(kMinSlots, 2 * slots_.size()), PriceLevel{0, 0.0});
    std::swap(old, slots_);
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(slots_.size()));
    for (const PriceLevel& level : old)
        if (level.size != 0.0) slot_for(level.key) = level;
}

}  // namespace quorvane::cache
