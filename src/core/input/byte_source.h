// A sequential source of bytes: a file, a gzip decoder over another source,
// or bytes in memory.
#pragma once

#include <cstddef>
#include <span>

namespace quorvane::input {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Fills up to out.size() bytes and returns how many; 0 only at the end
    // of the data. Throws StreamError on a fault.
    virtual std::size_t read(std::span<std::byte> out) = 0;
};

}  // namespace quorvane::input
