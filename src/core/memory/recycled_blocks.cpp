#include "core/memory/recycled_blocks.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <mutex>
#include <new>

namespace quorvane::memory {
namespace {

// Stores die on whatever thread drops their iterator: the kept blocks are
// shared under a lock, taken a few dozen times a load.
struct Kept {
    std::mutex lock;
    std::array<Block, 64> blocks;
    std::size_t count = 0;
    std::size_t bytes = 0;

    void remove(std::size_t index) {
        bytes -= blocks[index].size;
        blocks[index] = blocks[--count];
    }
};

// Never destroyed: a store that outlives static destruction still gives back.
Kept& kept() {
    static Kept* const instance = new Kept;
    return *instance;
}

}  // namespace

Block take_block(std::size_t size) {
    if (size >= kRecycledMinBytes) {
        Kept& k = kept();
        const std::lock_guard guard(k.lock);
        std::size_t best = k.count;
        for (std::size_t i = 0; i < k.count; ++i) {
            if (k.blocks[i].size >= size && (best == k.count || k.blocks[i].size < k.blocks[best].size)) best = i;
        }
        if (best != k.count) {
            const Block block = k.blocks[best];
            k.remove(best);
            return block;
        }
    }
    auto* bytes = static_cast<std::uint8_t*>(std::malloc(std::max<std::size_t>(size, 1)));
    if (bytes == nullptr) throw std::bad_alloc();
    return {bytes, size};
}

void give_back_block(Block block) noexcept {
    if (block.bytes == nullptr) return;
    if (block.size >= kRecycledMinBytes && block.size <= kRecycledKeptBytes) {
        Kept& k = kept();
        const std::lock_guard guard(k.lock);
        // Room is made by freeing the smallest, which save the least.
        while (k.count == k.blocks.size() || k.bytes + block.size > kRecycledKeptBytes) {
            const auto smallest = static_cast<std::size_t>(
                std::min_element(k.blocks.begin(), k.blocks.begin() + static_cast<std::ptrdiff_t>(k.count),
                                 [](const Block& a, const Block& b) { return a.size < b.size; }) -
                k.blocks.begin());
            if (k.blocks[smallest].size > block.size) break;
            std::free(k.blocks[smallest].bytes);
            k.remove(smallest);
        }
        if (k.count < k.blocks.size() && k.bytes + block.size <= kRecycledKeptBytes) {
            k.blocks[k.count++] = block;
            k.bytes += block.size;
            return;
        }
    }
    std::free(block.bytes);
}

std::size_t recycled_bytes() {
    Kept& k = kept();
    const std::lock_guard guard(k.lock);
    return k.bytes;
}

void OwnedBlock::shrink(std::size_t size) {
    if (size >= block_.size) return;
    // A shrinking realloc keeps the pages it keeps: no copy into fresh ones.
    if (auto* bytes = static_cast<std::uint8_t*>(std::realloc(block_.bytes, std::max<std::size_t>(size, 1)))) {
        block_ = {bytes, size};
    }
}

}  // namespace quorvane::memory
