// The levels of one price ladder: the levels themselves in a dense array, in
// no particular order, and an open-addressing index from the exact bits of a
// price to its place in that array. Ladders hold a few dozen levels and are
// updated a few levels at a time, so the index keeps each update to a
// multiply and a probe or two; the dense array makes copying a whole ladder
// out, at every change that a book shows, one block copy.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quorvane::cache {

inline std::uint64_t price_key(double price) { return std::bit_cast<std::uint64_t>(price); }

struct PriceLevel {
    std::uint64_t key;  // the price's bits
    double size;
};

class PriceLevels {
public:
    using const_iterator = std::vector<PriceLevel>::const_iterator;

    std::size_t size() const { return levels_.size(); }
    bool empty() const { return levels_.empty(); }
    const_iterator begin() const { return levels_.begin(); }
    const_iterator end() const { return levels_.end(); }
    // Every level, in no particular order.
    std::span<const PriceLevel> levels() const { return levels_; }

    // Sets a level to a size other than zero; true if the level was new or
    // held another size.
    bool set(std::uint64_t key, double size) {
        if (!index_.empty()) {
            Slot& slot = slot_for(key);
            if (slot.place != kEmpty) {
                double& held = levels_[slot.place].size;
                if (held == size) return false;
                held = size;
                return true;
            }
            if (2 * (levels_.size() + 1) <= index_.size()) {
                slot = {key, static_cast<std::uint32_t>(levels_.size())};
                levels_.push_back({key, size});
                return true;
            }
        }
        grow();
        slot_for(key) = {key, static_cast<std::uint32_t>(levels_.size())};
        levels_.push_back({key, size});
        return true;
    }

    // True if the level was there.
    bool erase(std::uint64_t key) {
        if (levels_.empty()) return false;
        Slot& slot = slot_for(key);
        if (slot.place == kEmpty) return false;
        const std::uint32_t place = slot.place;
        close_hole(static_cast<std::size_t>(&slot - index_.data()));
        // The last level moves into the freed place.
        if (place + 1 != levels_.size()) {
            levels_[place] = levels_.back();
            slot_for(levels_[place].key).place = place;
        }
        levels_.pop_back();
        return true;
    }

private:
    static constexpr std::size_t kMinSlots = 8;
    static constexpr std::uint32_t kEmpty = UINT32_MAX;

    struct Slot {
        std::uint64_t key;
        std::uint32_t place;  // index into levels_, or kEmpty
    };

    // Fibonacci hashing: the top bits of the product depend on every bit of
    // the key, and prices differ mostly in their high bits.
    std::size_t home(std::uint64_t key) const {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> shift_);
    }
    std::size_t next(std::size_t index) const { return (index + 1) & (index_.size() - 1); }

    // The slot holding `key`, or the empty slot that ends its probe sequence.
    Slot& slot_for(std::uint64_t key) {
        std::size_t index = home(key);
        while (index_[index].place != kEmpty && index_[index].key != key) index = next(index);
        return index_[index];
    }

    void close_hole(std::size_t hole);
    void grow();

    std::vector<PriceLevel> levels_;
    std::vector<Slot> index_;  // a power of two in size, at most half full
    unsigned shift_ = 0;       // 64 - log2 of the slot count, once there are slots
};

}  // namespace quorvane::cache
