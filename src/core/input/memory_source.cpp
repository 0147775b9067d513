#include "core/input/memory_source.h"

#include <algorithm>
#include <cstring>

namespace quorvane::input {

std::size_t MemorySource::read(std::span<std::byte> out) {
    const std::size_t count = std::min(out.size(), rest_.size());
    if (count != 0) std::memcpy(out.data(), rest_.data(), count);
    rest_ = rest_.subspan(count);
    return count;
}

}  // namespace quorvane::input
