#include "core/cache/price_levels.h"

#include <algorithm>
#include <bit>

namespace quorvane::cache {

// Backward-shift deletion: later entries of the probe run move into the hole
// when their home lies at or before it, so no tombstones pile up and a
// lookup still stops at the first empty slot.
void PriceLevels::close_hole(std::size_t hole) {
    const std::size_t mask = index_.size() - 1;
    for (std::size_t index = next(hole); index_[index].place != kEmpty; index = next(index)) {
        const std::size_t from_home = (index - home(index_[index].key)) & mask;
        if (from_home >= ((index - hole) & mask)) {
            index_[hole] = index_[index];
            hole = index;
        }
    }
    index_[hole] = {0, kEmpty};
}

void PriceLevels::grow() {
    index_.assign(std::max(kMinSlots, 2 * index_.size()), Slot{0, kEmpty});
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(index_.size()));
    for (std::size_t place = 0; place < levels_.size(); ++place)
        slot_for(levels_[place].key) = {levels_[place].key, static_cast<std::uint32_t>(place)};
}

}  // namespace quorvane::cache
