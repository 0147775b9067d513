// Writes one stored record (record_layout.h) at the end of the encoded bytes
// while its object is read: a place for its mask first, then the payloads of
// its entries as their keys arrive. Keys nearly always arrive in entry order,
// each once: the payloads then lie where they belong. Otherwise close() puts
// them in order, keeping the last payload of each entry.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "core/cache/encoded_bytes.h"
#include "core/cache/record_layout.h"
#include "core/cache/stored_encoding.h"

namespace quorvane::cache {

// The bytes a line's message is encoded into, and room to put the payloads
// of a record back in order; both are kept from one line to the next.
struct EncodingScratch {
    EncodedBytes out;
    EncodedBytes reorder;
};

// Writes a varint in a place of one byte that the bytes after it follow.
inline void write_varint_in_place(EncodedBytes& out, std::size_t at, std::uint64_t value) {
    const unsigned bytes = encoding::varint_bytes(value);
    if (bytes != 1) out.shift_tail(at + 1, static_cast<std::ptrdiff_t>(bytes) - 1);
    encoding::write_varint(out.data() + at, value);
}

// A varint count, then the items written after it.
class CountedList {
public:
    explicit CountedList(EncodedBytes& out) : out_(out), start_(out.size()) { out.commit(out.room(1) + 1); }

    void add() { ++count_; }
    void close() { write_varint_in_place(out_, start_, count_); }

private:
    EncodedBytes& out_;
    std::size_t start_;
    std::uint64_t count_ = 0;
};

class RecordWriter {
public:
    // `mask_bytes`: the place kept for the mask, its usual length.
    explicit RecordWriter(EncodingScratch& scratch, unsigned mask_bytes = 1)
        : scratch_(scratch), start_(scratch.out.size()), mask_bytes_(mask_bytes) {
        scratch.out.commit(scratch.out.room(mask_bytes) + mask_bytes);
    }

    EncodedBytes& out() { return scratch_.out; }

    // Sets the `width` bits from bit `at` of the mask to `value`.
    void set_bits(unsigned at, unsigned width, std::uint64_t value) {
        const std::uint64_t field = ((std::uint64_t{1} << width) - 1) << at;
        mask_ = (mask_ & ~field) | (value << at);
    }

    // The payload of `entry` is what is written from here to end().
    void begin(unsigned entry) {
        if (entry < next_) ordered_ = false;
        next_ = entry + 1;
        slots_[entry].offset = scratch_.out.size();
    }
    void end(unsigned entry) {
        slots_[entry].length = scratch_.out.size() - slots_[entry].offset;
        payloads_ |= std::uint32_t{1} << entry;
    }
    // The entry has no payload; one written earlier no longer counts.
    void drop(unsigned entry) {
        const std::uint32_t bit = std::uint32_t{1} << entry;
        if ((payloads_ & bit) == 0) return;
        payloads_ &= ~bit;
        ordered_ = false;
    }
    // The payload begun is no payload after all: its bytes go.
    void abandon(unsigned entry) {
        scratch_.out.truncate(slots_[entry].offset);
        drop(entry);
    }

    void close() {
        if (!ordered_) put_in_order();
        const unsigned bytes = encoding::varint_bytes(mask_);
        if (bytes != mask_bytes_) {
            scratch_.out.shift_tail(start_ + mask_bytes_, static_cast<std::ptrdiff_t>(bytes) - mask_bytes_);
        }
        encoding::write_varint(scratch_.out.data() + start_, mask_);
    }

private:
    struct Slot {
        std::size_t offset;
        std::size_t length;
    };

    void put_in_order() {
        EncodedBytes& out = scratch_.out;
        EncodedBytes& held = scratch_.reorder;
        const std::size_t first = start_ + mask_bytes_;
        held.clear();
        held.append(out.data() + first, out.size() - first);
        out.truncate(first);
        for (std::uint32_t left = payloads_; left != 0; left &= left - 1) {
            const Slot& slot = slots_[static_cast<unsigned>(std::countr_zero(left))];
            out.append(held.data() + (slot.offset - first), slot.length);
        }
    }

    EncodingScratch& scratch_;
    std::size_t start_;
    unsigned mask_bytes_;
    std::uint64_t mask_ = 0;
    std::uint32_t payloads_ = 0;  // the entries whose slot holds their payload
    unsigned next_ = 0;           // the lowest entry that keeps the payloads in order
    bool ordered_ = true;
    std::array<Slot, layout::kMaxEntries> slots_;  // only those of payloads_ are set
};

}  // namespace quorvane::cache
