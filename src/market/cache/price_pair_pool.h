// Storage behind the price-pair views of a record that is read from JSON or
// decoded from the store. Blocks never move once allocated, so a view handed
// out earlier survives later allocations; clear() recycles every block.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

namespace quorvane::cache {

struct PricePair {
    double price;  // 0.0 when the first element was not a number
    double size;   // 0.0 when the second element was not a number
};

class PricePairPool {
public:
    // `count` contiguous pairs, valid until clear().
    std::span<PricePair> allocate(std::size_t count) {
        while (block_ < blocks_.size() && blocks_[block_].size() - used_ < count) {
            ++block_;
            used_ = 0;
        }
        if (block_ == blocks_.size()) {
            blocks_.emplace_back(std::max(count, kBlockPairs));
            used_ = 0;
        }
        std::span<PricePair> pairs(blocks_[block_].data() + used_, count);
        used_ += count;
        return pairs;
    }

    // Hands back the unused end of the latest allocation.
    void give_back(std::size_t count) { used_ -= count; }

    void clear() {
        block_ = 0;
        used_ = 0;
    }

private:
    static constexpr std::size_t kBlockPairs = 4096;

    std::vector<std::vector<PricePair>> blocks_;
    std::size_t block_ = 0;  // block being filled
    std::size_t used_ = 0;   // pairs of that block in use
};

}  // namespace quorvane::cache
