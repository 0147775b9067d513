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
    memory::OwnedBlock chunk(room);
    if (used != 0) std::memcpy(chunk.bytes(), region_, used);
    region_ = chunk.bytes();
    limit_ = region_ + chunk.size() - kReadPast;
    chunk_bytes_total_ += chunk.size();
    chunks_.push_back(std::move(chunk));
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
    memory::OwnedBlock& last = chunks_.back();
    const auto used = static_cast<std::size_t>(region_ - last.bytes()) + kReadPast;
    chunk_bytes_total_ -= last.size();
    last.shrink(used);
    chunk_bytes_total_ += last.size();
    region_ = last.bytes() + used - kReadPast;
    limit_ = region_;
    chunks_.shrink_to_fit();
    return chunks_.back().bytes();
}

}  // namespace quorvane::cache
