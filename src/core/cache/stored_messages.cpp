#include "core/cache/stored_messages.h"

#include <bit>
#include <concepts>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/cache/record_layout.h"
#include "core/cache/stored_encoding.h"

namespace quorvane::cache {
namespace {

using encoding::kRawBytes;
using encoding::read_varint;

// Reads 8 bytes whatever `bytes` is: the arena keeps 8 readable bytes past
// every message, so this needs no branch on the length.
std::uint64_t read_code(const std::uint8_t* at, unsigned bytes) {
    static_assert(ByteArena::kReadPast >= sizeof(std::uint64_t));
    static constexpr std::uint64_t kMask[] = {0,
                                             0xFF,
                                             0xFFFF,
                                             0xFFFFFF,
                                             0xFFFFFFFF,
                                             0xFFFFFFFFFF,
                                             0xFFFFFFFFFFFF,
                                             0xFFFFFFFFFFFFFF,
                                             ~std::uint64_t{0}};
    std::uint64_t code;
    std::memcpy(&code, at, sizeof code);
    return code & kMask[bytes];
}

// `bytes` < 8: the code is a k below 2^56, whose conversion is exact.
double decode_hundredth(const std::uint8_t* at, unsigned bytes) {
    return static_cast<double>(static_cast<std::int64_t>(read_code(at, bytes))) / 100.0;
}

double decode_double(const std::uint8_t* at, unsigned bytes) {
    return bytes == kRawBytes ? std::bit_cast<double>(read_code(at, bytes)) : decode_hundredth(at, bytes);
}

// Decodes one record at `at` and returns the position after it, with all of
// its reading inlined, nested records included, so the position stays in a
// register; the inliner's own limits would leave calls that pass it through
// memory. A list calls it for each element.
template <class T>
[[gnu::flatten]] const std::uint8_t* decode_record(const std::uint8_t* at, T& value, PricePairPool& pairs);

class Reader {
public:
    Reader(const std::uint8_t* at, PricePairPool& pairs) : at_(at), pairs_(pairs) {}

    const std::uint8_t* position() const { return at_; }

    void flag(bool& value) { value = take(); }
    void boolean(std::optional<bool>& value) {
        const bool present = take();
        const bool bit = take();
        if (present) value = bit;
        else value.reset();
    }
    // Whole assignments: an optional of a trivially copyable value copies as
    // plain bytes, where emplace() and reset() first test what it held.
    template <class T>
    void maybe(std::optional<T>& value) {
        static_assert(std::is_trivially_copy_assignable_v<std::optional<T>>);
        if (take()) {
            T got;
            get(got);
            value = std::optional<T>(got);
        } else {
            value = std::optional<T>();
        }
    }
    void always(std::int64_t& value) { get(value); }
    void zero_or(double& value) {
        value = 0.0;
        if (take()) get(value);
    }
    void sp_input(SpInput& input) {
        two_bits(input.kind);
        input.number = 0.0;
        input.text = {};
        if (input.kind == SpInput::Kind::Number) get(input.number);
        if (input.kind == SpInput::Kind::Text) get(input.text);
    }
    template <class Enum>
    void two_bits(Enum& value) {
        const unsigned low = take();
        value = static_cast<Enum>(low | (unsigned{take()} << 1));
    }
    template <class T>
    void list(bool& has, std::vector<T>& items) {
        has = take();
        if (!has) {
            items.clear();
            return;
        }
        items.resize(read_varint(at_));
        for (T& item : items) {
            if constexpr (std::same_as<T, std::string_view>) get(item);
            else at_ = decode_record(at_, item, pairs_);
        }
    }
    template <class T>
    void record(T& value) {
        const std::uint64_t outer = mask_;
        mask_ = read_varint(at_);
        layout::fields(*this, value);
        mask_ = outer;
    }

private:
    bool take() {
        const bool bit = mask_ & 1;
        mask_ >>= 1;
        return bit;
    }
    void get(std::int64_t& value) {
        const std::uint64_t zigzag = read_varint(at_);
        value = static_cast<std::int64_t>((zigzag >> 1) ^ (~(zigzag & 1) + 1));
    }
    void get(double& value) {
        const unsigned bytes = *at_++;
        value = decode_double(at_, bytes);
        at_ += bytes;
    }
    void get(std::string_view& text) {
        const std::size_t length = read_varint(at_);
        text = {reinterpret_cast<const char*>(at_), length};
        at_ += length;
    }
    void get(PricePairs& pairs) {
        std::span<PricePair> decoded = pairs_.allocate(read_varint(at_));
        for (PricePair& pair : decoded) {
            const unsigned counts = *at_++;
            const unsigned price_bytes = counts & 0xF;
            const unsigned size_bytes = counts >> 4;
            // Nearly every pair is two hundredths: one test for both.
            constexpr unsigned kEitherRaw = kRawBytes | kRawBytes << 4;
            if ((counts & kEitherRaw) == 0) {
                pair.price = decode_hundredth(at_, price_bytes);
                pair.size = decode_hundredth(at_ + price_bytes, size_bytes);
            } else {
                pair.price = decode_double(at_, price_bytes);
                pair.size = decode_double(at_ + price_bytes, size_bytes);
            }
            at_ += price_bytes + size_bytes;
        }
        pairs = decoded;
    }

    const std::uint8_t* at_;
    PricePairPool& pairs_;
    std::uint64_t mask_ = 0;
};

template <class T>
const std::uint8_t* decode_record(const std::uint8_t* at, T& value, PricePairPool& pairs) {
    Reader reader(at, pairs);
    reader.record(value);
    return reader.position();
}

}  // namespace

static_assert(ByteArena::kReadPast >= kRawBytes, "decode_double reads a whole word");

void StoredMessages::append(std::int64_t publish_time, std::span<const std::uint8_t> encoded) {
    std::uint8_t* const at = encoded_.reserve(encoded_.region(), encoded.size());
    std::memcpy(at, encoded.data(), encoded.size());
    messages_.push_back({publish_time, encoded_.close(at + encoded.size())});
}

void StoredMessages::shrink_to_fit() {
    const std::uint8_t* const last_chunk = encoded_.last_chunk();
    // The last chunk's messages are the newest ones; they keep their offsets.
    std::size_t first_moved = messages_.size();
    while (first_moved > 0 && encoded_.in_last_chunk(messages_[first_moved - 1].encoded)) --first_moved;
    std::vector<std::size_t> offsets;
    offsets.reserve(messages_.size() - first_moved);
    for (std::size_t i = first_moved; i < messages_.size(); ++i)
        offsets.push_back(static_cast<std::size_t>(messages_[i].encoded - last_chunk));
    const std::uint8_t* const moved_to = encoded_.shrink_to_fit();
    for (std::size_t i = first_moved; i < messages_.size(); ++i)
        messages_[i].encoded = moved_to + offsets[i - first_moved];
    messages_.shrink_to_fit();
}

const std::uint8_t* StoredMessages::decode_change_count(const std::uint8_t* at, std::size_t& count) {
    count = read_varint(at);
    return at;
}

const std::uint8_t* StoredMessages::decode_market_change(const std::uint8_t* at, MarketChangeRecord& record) {
    record.pair_storage.clear();
    return decode_record(at, record, record.pair_storage);
}

std::size_t StoredMessages::memory_bytes() const {
    return encoded_.memory_bytes() + messages_.capacity() * sizeof(Message);
}

}  // namespace quorvane::cache
