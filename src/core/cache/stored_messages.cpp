#include "core/cache/stored_messages.h"

#include <algorithm>
#include <bit>
#include <concepts>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "core/cache/message_fields.h"

namespace quorvane::cache {
namespace {

// Encoding. A record is a varint mask of presence bits (and the values of
// booleans), then the payloads of the present fields in field order; nested
// records follow the same layout. Integers are zigzag varints, texts a varint
// length and their bytes. Most prices and sizes are exact hundredths: such a
// double is kept as the integer k >= 0 and restored bit for bit as k / 100.0,
// one correctly rounded division of exact operands; others keep their bits.

template <class R, class T>
concept record_of = std::same_as<std::remove_const_t<R>, T>;

// One field list per record, walked alike by the mask builder, the writer
// and the reader, so the three cannot drift apart; the plain fields come
// from message_fields.h.
#define QUORVANE_STORE_FIELD(key_, member_, reading_, encoding_) io.encoding_(record.member_);

template <class Io, record_of<DefinitionRunnerRecord> R>
void fields(Io& io, R& record) {
    io.flag(record.is_object);
    QUORVANE_DEFINITION_RUNNER_FIELDS(QUORVANE_STORE_FIELD)
}

template <class Io, record_of<MarketDefinitionRecord> R>
void fields(Io& io, R& record) {
    QUORVANE_DEFINITION_FIELDS(QUORVANE_STORE_FIELD)
    io.list(record.has_regulators, record.regulators);
    io.list(record.has_runners, record.runners);
}

template <class Io, record_of<RunnerChangeRecord> R>
void fields(Io& io, R& record) {
    io.always(record.id);
    QUORVANE_RUNNER_CHANGE_FIELDS(QUORVANE_STORE_FIELD)
    io.zero_or(record.hc);
}

template <class Io, record_of<MarketChangeRecord> R>
void fields(Io& io, R& record) {
    io.flag(record.is_object);
    io.flag(record.image);
    io.two_bits(record.definition_kind);
    // Before the fields that few changes carry, so that a usual mask is one byte.
    io.list(record.has_runner_changes, record.runner_changes);
    QUORVANE_MARKET_CHANGE_FIELDS(QUORVANE_STORE_FIELD)
    // Read after the mask has given the kind.
    if (record.definition_kind == MarketChangeRecord::Definition::Object) io.record(record.definition);
}

#undef QUORVANE_STORE_FIELD

// A record's presence bits are one 64-bit mask: the fields of each list, and
// those written out beside it above, must fit.
constexpr unsigned kMaskBits = 64;
constexpr unsigned presence_bits_maybe = 1, presence_bits_boolean = 2, presence_bits_sp_input = 2;
#define QUORVANE_PRESENCE_BITS(key_, member_, reading_, encoding_) +presence_bits_##encoding_
static_assert(1 + 0 QUORVANE_DEFINITION_RUNNER_FIELDS(QUORVANE_PRESENCE_BITS) <= kMaskBits);
static_assert(0 QUORVANE_DEFINITION_FIELDS(QUORVANE_PRESENCE_BITS) + 2 <= kMaskBits);
static_assert(0 QUORVANE_RUNNER_CHANGE_FIELDS(QUORVANE_PRESENCE_BITS) + 1 <= kMaskBits);
static_assert(1 + 1 + 2 + 1 + 0 QUORVANE_MARKET_CHANGE_FIELDS(QUORVANE_PRESENCE_BITS) <= kMaskBits);
#undef QUORVANE_PRESENCE_BITS

// A double is a byte count n (a nibble) and n little-endian bytes of a code:
// n < 8 holds k for an exact hundredth k / 100.0 (+0.0 takes no byte at all),
// n = 8 the raw bits. Negative numbers, which no price or size is, keep their
// bits too: decoding a hundredth then takes no sign. Both counts of a price
// pair share one byte; a lone double has a byte of its own.
constexpr unsigned kRawBytes = 8;
constexpr double kMaxHundredths = 0x1p53;
constexpr std::size_t kMaxVarintBytes = 10;
constexpr std::size_t kMaxDoubleBytes = 1 + kRawBytes;

struct DoubleCode {
    std::uint64_t code;
    unsigned bytes;
};

DoubleCode encode_double(double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const double scaled = value * 100.0;
    if (scaled >= 0.0 && scaled < kMaxHundredths) {
        // Any candidate will do: it is kept only if it restores exactly.
        const auto k = static_cast<std::int64_t>(scaled + 0.5);
        if (std::bit_cast<std::uint64_t>(static_cast<double>(k) / 100.0) == bits) {
            const auto code = static_cast<std::uint64_t>(k);
            return {code, static_cast<unsigned>(std::bit_width(code) + 7) / 8};
        }
    }
    return {bits, kRawBytes};
}

// A code's first `bytes` bytes in memory must be its low bytes.
static_assert(std::endian::native == std::endian::little, "stored doubles keep the low bytes of their code");

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

std::uint64_t read_varint(const std::uint8_t*& at) {
    std::uint64_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
        const std::uint8_t byte = *at++;
        value |= std::uint64_t{byte & 0x7Fu} << shift;
        if (byte < 0x80) return value;
    }
}

class MaskBuilder {
public:
    std::uint64_t mask() const { return mask_; }

    void flag(bool value) { put(value); }
    void boolean(const std::optional<bool>& value) {
        put(value.has_value());
        put(value.value_or(false));
    }
    template <class T>
    void maybe(const std::optional<T>& value) { put(value.has_value()); }
    void always(std::int64_t) {}
    void zero_or(double value) { put(std::bit_cast<std::uint64_t>(value) != 0); }
    void sp_input(const SpInput& input) { two_bits(input.kind); }
    template <class Enum>
    void two_bits(Enum value) {
        const auto bits = static_cast<unsigned>(value);
        put(bits & 1);
        put(bits & 2);
    }
    template <class T>
    void list(bool has, const std::vector<T>&) { put(has); }
    template <class T>
    void record(const T&) {}

private:
    void put(bool bit) { mask_ |= std::uint64_t{bit} << bits_++; }

    std::uint64_t mask_ = 0;
    unsigned bits_ = 0;
};

// Writes one message straight into the arena's open region; each put makes
// room for its largest form first.
class Writer {
public:
    explicit Writer(ByteArena& arena) : arena_(arena), at_(arena.region()) {}

    const std::uint8_t* close() { return arena_.close(at_); }

    void flag(bool) {}
    void boolean(const std::optional<bool>&) {}
    template <class T>
    void maybe(const std::optional<T>& value) {
        if (value) put(*value);
    }
    void always(std::int64_t value) { put(value); }
    void zero_or(double value) {
        if (std::bit_cast<std::uint64_t>(value) != 0) put(value);
    }
    void sp_input(const SpInput& input) {
        if (input.kind == SpInput::Kind::Number) put(input.number);
        if (input.kind == SpInput::Kind::Text) put(input.text);
    }
    template <class Enum>
    void two_bits(Enum) {}
    template <class T>
    void list(bool has, const std::vector<T>& items) {
        if (!has) return;
        put_varint(items.size());
        for (const T& item : items) put(item);
    }
    template <class T>
    void record(const T& value) {
        MaskBuilder mask;
        fields(mask, value);
        put_varint(mask.mask());
        fields(*this, value);
    }
    void put_varint(std::uint64_t value) {
        make_room(kMaxVarintBytes);
        varint(value);
    }

private:
    void make_room(std::size_t bytes) { at_ = arena_.reserve(at_, bytes); }
    void varint(std::uint64_t value) {
        while (value >= 0x80) {
            *at_++ = static_cast<std::uint8_t>(value | 0x80);
            value >>= 7;
        }
        *at_++ = static_cast<std::uint8_t>(value);
    }
    // Stores all 8 bytes and keeps `bytes` of them; room for 8 is made.
    void code(const DoubleCode& value) {
        std::memcpy(at_, &value.code, sizeof value.code);
        at_ += value.bytes;
    }

    void put(std::int64_t value) {
        put_varint((static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63));
    }
    void put(double value) {
        make_room(kMaxDoubleBytes);
        const DoubleCode encoded = encode_double(value);
        *at_++ = static_cast<std::uint8_t>(encoded.bytes);
        code(encoded);
    }
    void put(std::string_view text) {
        make_room(kMaxVarintBytes + text.size());
        varint(text.size());
        std::memcpy(at_, text.data(), text.size());
        at_ += text.size();
    }
    void put(PricePairs pairs) {
        make_room(kMaxVarintBytes + pairs.size() * (1 + 2 * kRawBytes));
        varint(pairs.size());
        for (const PricePair& pair : pairs) {
            const DoubleCode price = encode_double(pair.price);
            const DoubleCode size = encode_double(pair.size);
            *at_++ = static_cast<std::uint8_t>(price.bytes | size.bytes << 4);
            code(price);
            code(size);
        }
    }
    template <class T>
    void put(const T& nested) { record(nested); }

    ByteArena& arena_;
    std::uint8_t* at_;
};

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
        fields(*this, value);
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

void StoredMessages::append(std::int64_t publish_time, std::span<const MarketChangeRecord> market_changes) {
    Writer writer(encoded_);
    writer.put_varint(market_changes.size());
    for (const MarketChangeRecord& change : market_changes) writer.record(change);
    messages_.push_back({publish_time, writer.close()});
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
