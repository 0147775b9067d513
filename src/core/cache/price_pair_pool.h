// Storage behind the price-pair views of a record that is read from JSON or
// decoded from the store. Blocks never move once allocated, so a view handed
// out earlier survives later allocations; clear() recycles every block.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <utility>
#include <vector>

namespace quorvane::cache {

struct PricePair {
    double price;  // 0.0 when the first element was not a number
    double size;   // 0.0 when the second element was not a number
};

class PricePairPool {
public:
    PricePairPool() = default;
    // A copy starts empty, as the views of a copied record keep pointing into
    // the original's pairs; the cursor must never point into blocks it does
    // not own.
    PricePairPool(const PricePairPool&) {}
    PricePairPool& operator=(const PricePairPool& other) {
        if (this != &other) *this = PricePairPool();
        return *this;
    }
    PricePairPool(PricePairPool&& other) noexcept { take(other); }
    PricePairPool& operator=(PricePairPool&& other) noexcept {
        if (this != &other) take(other);
        return *this;
    }

    // `count` contiguous pairs, valid until clear(). Inline, as every ladder
    // of every decoded runner change asks for its pairs here.
    std::span<PricePair> allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(end_ - next_)) next_block(count);
        std::span<PricePair> pairs(next_, count);
        next_ += count;
        return pairs;
    }

    // Hands back the unused end of the latest allocation.
    void give_back(std::size_t count) { next_ -= count; }

    void clear() {
        block_ = 0;
        if (!blocks_.empty()) bind();
    }

private:
    static constexpr std::size_t kBlockPairs = 4096;

    // The first block from the next one on with room for `count`, or a new one.
    void next_block(std::size_t count) {
        block_ = blocks_.empty() ? 0 : block_ + 1;
        while (block_ < blocks_.size() && blocks_[block_].size() < count) ++block_;
        // Moving the inner vectors keeps their buffers, so earlier views survive.
        if (block_ == blocks_.size()) blocks_.emplace_back(std::max(count, kBlockPairs));
        bind();
    }
    void bind() {
        next_ = blocks_[block_].data();
        end_ = next_ + blocks_[block_].size();
    }
    void take(PricePairPool& other) {
        blocks_ = std::move(other.blocks_);
        block_ = std::exchange(other.block_, 0);
        next_ = std::exchange(other.next_, nullptr);
        end_ = std::exchange(other.end_, nullptr);
        other.blocks_.clear();
    }

    std::vector<std::vector<PricePair>> blocks_;
    std::size_t block_ = 0;      // block being filled
    PricePair* next_ = nullptr;  // its first free pair
    PricePair* end_ = nullptr;
};

}  // namespace quorvane::cache
