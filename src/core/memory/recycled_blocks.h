// Large blocks of memory that a store gives back when it dies and the next
// load takes again. A replay loads file after file: a block freed to the
// system comes back as fresh pages, and faulting in and zeroing them costs a
// load of a few megabytes about a tenth of its time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace quorvane::memory {

// Smaller blocks come from malloc and go back to it, which reuses them well.
inline constexpr std::size_t kRecycledMinBytes = 64 * 1024;
// The most bytes kept for later loads; beyond it the smallest go first.
inline constexpr std::size_t kRecycledKeptBytes = 32 * 1024 * 1024;

struct Block {
    std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
};

// A malloc'd block of at least `size` bytes, its contents undefined; throws
// std::bad_alloc.
Block take_block(std::size_t size);
// Keeps the block for a later take_block() or frees it. `block.size` may be
// less than what the block holds, never more.
void give_back_block(Block block) noexcept;
// Bytes kept for later loads.
std::size_t recycled_bytes();

// A block owned for its lifetime, given back when it ends.
class OwnedBlock {
public:
    OwnedBlock() = default;
    explicit OwnedBlock(std::size_t size) : block_(take_block(size)) {}
    OwnedBlock(OwnedBlock&& other) noexcept : block_(std::exchange(other.block_, Block{})) {}
    OwnedBlock& operator=(OwnedBlock&& other) noexcept {
        if (this != &other) {
            give_back_block(block_);
            block_ = std::exchange(other.block_, Block{});
        }
        return *this;
    }
    ~OwnedBlock() { give_back_block(block_); }

    std::uint8_t* bytes() const { return block_.bytes; }
    std::size_t size() const { return block_.size; }

    // Hands the bytes after the first `size` back to the system; the block
    // may move, with its first `size` bytes.
    void shrink(std::size_t size);

private:
    Block block_;
};

}  // namespace quorvane::memory
