// One line's message in the store's encoding, built while the line is read:
// its count of market changes, then each change.
#pragma once

#include <cstdint>
#include <span>

#include "core/cache/market_change_encoding.h"
#include "core/cache/record_writer.h"

namespace quorvane::cache {

class MessageEncoder {
public:
    // Starts an empty message, dropping anything encoded before.
    void start() {
        scratch_.out.clear();
        scratch_.out.commit(scratch_.out.room(1) + 1);
        count_ = 0;
    }

    template <class Value>
    void add_market_change(Value value) {
        encode_market_change(value, scratch_);
        ++count_;
    }

    // The message's bytes, valid until the next start().
    std::span<const std::uint8_t> finish() {
        write_varint_in_place(scratch_.out, 0, count_);
        return {scratch_.out.data(), scratch_.out.size()};
    }

private:
    EncodingScratch scratch_;
    std::uint64_t count_ = 0;
};

}  // namespace quorvane::cache
