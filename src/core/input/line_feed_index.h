// Where the line feeds of a buffer lie, one bit per byte, marked for the
// whole buffer at once: a line's end is then the next set bit, where a
// search per line would pay its start-up on every line.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quorvane::input {

inline constexpr std::size_t kLineFeedBlockSize = 64;

// Sets each word of `words` to the line feeds of the 64 bytes at
// bytes + 64 * index, bit i for byte i.
using MarkLineFeeds = void (*)(const char* bytes, std::span<std::uint64_t> words);

// Every marking this CPU can run, the portable one first and the fastest
// last: SSE2 on x86-64, and AVX2 and AVX-512 where the CPU has them.
std::span<const MarkLineFeeds> line_feed_markings();

class LineFeedIndex {
public:
    // Marks the line feeds of the `count` bytes at `bytes`, forgetting any
    // marked before; the bytes up to the next multiple of 64 must be readable.
    void index(const char* bytes, std::size_t count);

    // The offset of the first line feed at or after `from`, or the count
    // indexed when none is.
    std::size_t next(std::size_t from) const {
        std::size_t w = from / kLineFeedBlockSize;
        if (w >= words_used_) return count_;
        std::uint64_t bits = words_[w] & (~std::uint64_t{0} << from % kLineFeedBlockSize);
        while (bits == 0) {
            if (++w == words_used_) return count_;
            bits = words_[w];
        }
        return w * kLineFeedBlockSize + static_cast<std::size_t>(std::countr_zero(bits));
    }

private:
    std::vector<std::uint64_t> words_;
    std::size_t words_used_ = 0;
    std::size_t count_ = 0;
};

}  // namespace quorvane::input
