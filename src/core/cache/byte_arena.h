// Bytes written once, back to back, in chunks that never move while writing
// goes on. One region at a time is open at the end of the last chunk; when it
// outgrows the chunk, what it holds moves into a new one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "core/memory/recycled_blocks.h"

namespace quorvane::cache {

class ByteArena {
public:
    // Readable bytes after every closed region, for readers that load a
    // whole word at a time; they hold zeros or later regions.
    static constexpr std::size_t kReadPast = 8;

    // Where the open region starts; it is empty until written.
    std::uint8_t* region() const { return region_; }

    // Makes room for `bytes` more at `at`, the write position inside the
    // open region, and returns the position to write at: `at` itself, or the
    // same offset in a new chunk that the region moved to.
    std::uint8_t* reserve(std::uint8_t* at, std::size_t bytes) {
        if (static_cast<std::size_t>(limit_ - at) >= bytes) return at;
        return move_region(at, bytes);
    }

    // Ends the open region at `at` and returns where it starts; the next
    // region opens right after it.
    const std::uint8_t* close(std::uint8_t* at);

    // Start of the last chunk, or null before the first region is written.
    const std::uint8_t* last_chunk() const { return chunks_.empty() ? nullptr : chunks_.back().bytes(); }

    // Whether a region starts in the last chunk; chunks lie anywhere in memory.
    bool in_last_chunk(const std::uint8_t* region) const {
        if (chunks_.empty()) return false;
        const std::uint8_t* begin = chunks_.back().bytes();
        return !std::less<>{}(region, begin) && std::less<>{}(region, begin + chunks_.back().size());
    }

    // Gives the unused end of the last chunk back, once writing is over. The
    // chunk may move: returns its start, where its regions keep their offsets.
    const std::uint8_t* shrink_to_fit();

    // Bytes of every chunk, for memory accounting.
    std::size_t memory_bytes() const {
        return chunk_bytes_total_ + chunks_.capacity() * sizeof(memory::OwnedBlock);
    }

private:
    std::uint8_t* move_region(std::uint8_t* at, std::size_t bytes);

    // Recycled: a replay's next load takes them again.
    std::vector<memory::OwnedBlock> chunks_;  // kReadPast included
    std::size_t chunk_bytes_total_ = 0;
    std::uint8_t* region_ = nullptr;
    std::uint8_t* limit_ = nullptr;  // kReadPast before the end of the last chunk
};

}  // namespace quorvane::cache
