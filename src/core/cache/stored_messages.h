// Every retained line of a file, its market changes kept in the compact
// encoding that MessageEncoder writes, and decoded again into
// MarketChangeRecord on each step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>

#include "core/cache/byte_arena.h"
#include "core/cache/market_change_record.h"
#include "core/memory/realloc_array.h"

namespace quorvane::cache {

class StoredMessages {
public:
    StoredMessages() = default;
    StoredMessages(StoredMessages&&) noexcept = default;
    StoredMessages& operator=(StoredMessages&&) noexcept = default;

    std::size_t size() const { return messages_.size(); }
    std::int64_t publish_time(std::size_t index) const { return messages_[index].publish_time; }

    // Appends one message: its publish time and its market changes, as
    // MessageEncoder::finish() gives them.
    void append(std::int64_t publish_time, std::span<const std::uint8_t> encoded);

    // Gives back what growing left unused, once every message is appended.
    void shrink_to_fit();

    // Decodes the market changes of message `index` in order, each into
    // `scratch`, and calls visit(const MarketChangeRecord&) for each. Texts
    // of a record stay valid as long as this store lives; its price pairs
    // live in scratch.pair_storage until scratch is decoded into again.
    template <class Visit>
    void for_each_market_change(std::size_t index, MarketChangeRecord& scratch, Visit&& visit) const;

    // Bytes held by the store, for memory accounting.
    std::size_t memory_bytes() const;

private:
    struct Message {
        std::int64_t publish_time;
        const std::uint8_t* encoded;  // change count, then each change
    };

    // Returns the position after the change count; `count` receives it.
    static const std::uint8_t* decode_change_count(const std::uint8_t* at, std::size_t& count);
    static const std::uint8_t* decode_market_change(const std::uint8_t* at, MarketChangeRecord& record);

    memory::ReallocArray<Message> messages_;
    ByteArena encoded_;  // the messages, back to back
};

template <class Visit>
void StoredMessages::for_each_market_change(std::size_t index, MarketChangeRecord& scratch, Visit&& visit) const {
    std::size_t count;
    const std::uint8_t* at = decode_change_count(messages_[index].encoded, count);
    for (std::size_t i = 0; i < count; ++i) {
        at = decode_market_change(at, scratch);
        visit(std::as_const(scratch));
    }
}

}  // namespace quorvane::cache
