// Bytes already in memory, read through the same paths as a file's.
#pragma once

#include <cstddef>
#include <span>

#include "core/input/byte_source.h"

namespace quorvane::input {

class MemorySource final : public ByteSource {
public:
    // The bytes must outlive the source.
    explicit MemorySource(std::span<const std::byte> bytes) noexcept : rest_(bytes) {}

    std::size_t read(std::span<std::byte> out) override;

private:
    std::span<const std::byte> rest_;
};

}  // namespace quorvane::input
