// The levels of one price ladder: an open-addressing hash table from the
// exact bits of a price to its size. Ladders hold a few dozen levels and are
// updated a few levels at a time, so a flat array of (key, size) slots with
// linear probing keeps each update to a multiply and a probe or two. A slot
// whose size is +0.0 is empty, which costs nothing since no level has size 0.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>
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
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = PriceLevel;
        using difference_type = std::ptrdiff_t;
        using pointer = const PriceLevel*;
        using reference = const PriceLevel&;

        const_iterator() = default;
        const_iterator(const PriceLevel* at, const PriceLevel* end) : at_(at), end_(end) { skip_empty(); }

        reference operator*() const { return *at_; }
        pointer operator->() const { return at_; }
        const_iterator& operator++() {
            ++at_;
            skip_empty();
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator before = *this;
            ++*this;
            return before;
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.at_ == b.at_; }

    private:
        void skip_empty() {
            while (at_ != end_ && at_->size == 0.0) ++at_;
        }

        const PriceLevel* at_ = nullptr;
        const PriceLevel* end_ = nullptr;
    };

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    const_iterator begin() const { return {slots_.data(), slots_.data() + slots_.size()}; }
    const_iterator end() const { return {slots_.data() + slots_.size(), slots_.data() + slots_.size()}; }
    // The table itself, empty slots included, for copying it out in one pass.
    std::span<const PriceLevel> slots() const { return slots_; }

    // Sets a level to a size other than zero; true if the level was new or
    // held another size.
    bool set(std::uint64_t key, double size) {
        if (!slots_.empty()) {
            PriceLevel& slot = slot_for(key);
            if (slot.size != 0.0) {
                if (slot.size == size) return false;
                slot.size = size;
                return true;
            }
            if (2 * (count_ + 1) <= slots_.size()) {
                slot = {key, size};
                ++count_;
                return true;
            }
        }
        grow();
        slot_for(key) = {key, size};
        ++count_;
        return true;
    }

    // True if the level was there.
    bool erase(std::uint64_t key) {
        if (count_ == 0) return false;
        PriceLevel& slot = slot_for(key);
        if (slot.size == 0.0) return false;
        close_hole(static_cast<std::size_t>(&slot - slots_.data()));
        --count_;
        return true;
    }

private:
    static constexpr std::size_t kMinSlots = 8;

    // Fibonacci hashing: the top bits of the product depend on every bit of
    // the key, and prices differ mostly in their high bits.
    std::size_t home(std::uint64_t key) const {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15u) >> shift_);
    }
    std::size_t next(std::size_t index) const { return (index + 1) & (slots_.size() - 1); }

    // The slot holding `key`, or the empty slot that ends its probe sequence.
    PriceLevel& slot_for(std::uint64_t key) {
        std::size_t index = home(key);
        while (slots_[index].size != 0.0 && slots_[index].key != key) index = next(index);
        return slots_[index];
    }

    void close_hole(std::size_t hole);
    void grow();

    std::vector<PriceLevel> slots_;  // a power of two in size, at most half full
    std::size_t count_ = 0;
    unsigned shift_ = 0;  // 64 - log2 of the slot count, once there are slots
};

}  // namespace quorvane::cache
