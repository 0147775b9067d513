#include "core/cache/byte_arena.h"

#include <algorithm>
#include <cstring>

namespace quorvane::cache {
namespace {

constexpr std::size_t kFirstChunkBytes = 16 * 1024;
constexpr std::size_t kMaxChunkBytes = 8 * 1024 * 1024;

}  // namespace

std::uint8_t* ByteArena::move_region(std::uint8_t* at, std::size_t bytes) {
    const auto used = static_cast<std::size_t>(at - region_);
    // Chunks grow with the arena, so the slack left behind stays a fraction of it.
    const std::size_t room =
        std::max({used + bytes, kFirstChunkBytes, std::min(chunk_bytes_total_, kMaxChunkBytes)}) + kReadPast;
    // Not zeroed: every byte is written before it is read, read-past bytes by close().
    auto chunk = std::make_unique_for_overwrite<std::uint8_t[]>(room);
    if (used != 0) std::memcpy(chunk.get(), region_, used);
    region_ = chunk.get();
    limit_ = region_ + room - kReadPast;
    chunk_bytes_total_ += room;
    chunks_.push_back({std::move(chunk), room});
    return region_ + used;
}

const std::uint8_t* ByteArena::close(std::uint8_t* at) {
    // Every chunk has kReadPast bytes after its limit.
    if (chunks_.empty()) at = move_region(at, 0);
    std::memset(at, 0, kReadPast);
    const std::uint8_t* closed = region_;
    region_ = at;
    return closed;
}

const std::uint8_t* ByteArena::shrink_to_fit() {
    if (chunks_.empty()) return nullptr;
    Chunk& last = chunks_.back();
    const auto used = static_cast<std::size_t>(region_ - last.bytes.get()) + kReadPast;
    if (used < last.size) {
        auto trimmed = std::make_unique_for_overwrite<std::uint8_t[]>(used);
        std::memcpy(trimmed.get(), last.bytes.get(), used);
        chunk_bytes_total_ -= last.size - used;
        last = {std::move(trimmed), used};
        region_ = last.bytes.get() + used - kReadPast;
        limit_ = region_;
    }
    chunks_.shrink_to_fit();
    return chunks_.back().bytes.get();
}

}  // namespace quorvane::cache
