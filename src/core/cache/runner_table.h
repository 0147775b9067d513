// The runner records of one market, by key. Every runner change looks its
// record up, so the index is open addressing over a power of two of slots:
// a multiply and a probe or two, where a node table divides by its bucket
// count and follows a chain. Records never move, whatever joins the table;
// they leave it only all at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <tuple>
#include <utility>
#include <vector>

#include "core/cache/runner_key.h"
#include "core/cache/runner_state.h"

namespace quorvane::cache {

class RunnerTable {
public:
    using value_type = std::pair<const RunnerKey, RunnerState>;
    using iterator = std::deque<value_type>::iterator;
    using const_iterator = std::deque<value_type>::const_iterator;

    // The record of `key`, made new from the selection id and handicap if the
    // table has none; true when it was made.
    std::pair<value_type*, bool> try_emplace(const RunnerKey& key, std::int64_t selection_id, double handicap) {
        if (!slots_.empty()) {
            value_type*& slot = slot_for(key);
            if (slot) return {slot, false};
            if (2 * (records_.size() + 1) <= slots_.size()) return {slot = add(key, selection_id, handicap), true};
        }
        grow();
        value_type* record = add(key, selection_id, handicap);
        slot_for(key) = record;
        return {record, true};
    }

    // The record of `key`; throws std::out_of_range if there is none.
    RunnerState& at(const RunnerKey& key);
    const RunnerState& at(const RunnerKey& key) const { return const_cast<RunnerTable&>(*this).at(key); }

    std::size_t size() const { return records_.size(); }
    bool empty() const { return records_.empty(); }
    void clear();

    // In the order the records joined: readers that need another sort the keys.
    iterator begin() { return records_.begin(); }
    iterator end() { return records_.end(); }
    const_iterator begin() const { return records_.begin(); }
    const_iterator end() const { return records_.end(); }

private:
    value_type* add(const RunnerKey& key, std::int64_t selection_id, double handicap) {
        return &records_.emplace_back(std::piecewise_construct, std::forward_as_tuple(key),
                                      std::forward_as_tuple(selection_id, handicap));
    }

    // The slot holding `key`'s record, or the empty slot that ends its probe
    // sequence.
    value_type*& slot_for(const RunnerKey& key) {
        std::size_t index = static_cast<std::size_t>(RunnerKeyHash{}(key) >> shift_);
        while (slots_[index] && slots_[index]->first != key) index = (index + 1) & (slots_.size() - 1);
        return slots_[index];
    }

    void grow();

    std::deque<value_type> records_;  // a deque never moves what it holds
    std::vector<value_type*> slots_;  // a power of two in size, at most half full
    unsigned shift_ = 64;             // 64 - log2 of the slot count
};

}  // namespace quorvane::cache
