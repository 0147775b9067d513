#include "core/cache/runner_table.h"

#include <algorithm>
#include <bit>
#include <stdexcept>

namespace quorvane::cache {

RunnerState& RunnerTable::at(const RunnerKey& key) {
    value_type* record = slots_.empty() ? nullptr : slot_for(key);
    if (!record) throw std::out_of_range("no runner record of that key");
    return record->second;
}

void RunnerTable::clear() {
    std::fill(slots_.begin(), slots_.end(), nullptr);
    records_.clear();
}

void RunnerTable::grow() {
    constexpr std::size_t kMinSlots = 16;
    const std::size_t count = std::max(kMinSlots, 2 * slots_.size());
    slots_.assign(count, nullptr);
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(count));
    for (value_type& record : records_) slot_for(record.first) = &record;
}

}  // namespace quorvane::cache
