#include "market/cache/stored_messages.h"

#include <algorithm>
#include <bit>
#include <concepts>
#include <cstring>
#include <string_view>
#include <type_traits>

namespace quorvane::cache {
namespace {

// Encoding. A record is a varint mask of presence bits (and the values of
// booleans), then the payloads of the present fields in field order; nested
// records follow the same layout. Integers are zigzag varints, texts a varint
// length and their bytes. A double that is an exact hundredth k / 100.0 is
// the varint 2k (or 2|k|+1 for negative k) and is restored bit for bit,
// since dividing the exact integer k by 100.0 is one correctly rounded
// operation; any other double is the varint 1 and its 8 raw bytes.

template <class R, class T>
concept record_of = std::same_as<std::remove_const_t<R>, T>;

// One field list per record, walked alike by the mask builder, the writer
// and the reader, so the three cannot drift apart.

template <class Io, record_of<DefinitionRunnerRecord> R>
void fields(Io& io, R& runner) {
    io.flag(runner.is_object);
    io.maybe(runner.id);
    io.maybe(runner.hc);
    io.maybe(runner.sort_priority);
    io.maybe(runner.status);
    io.maybe(runner.name);
    io.maybe(runner.adjustment_factor);
    io.maybe(runner.removal_date);
    io.sp_input(runner.bsp);
}

template <class Io, record_of<MarketDefinitionRecord> R>
void fields(Io& io, R& definition) {
    io.maybe(definition.status);
    io.maybe(definition.bet_delay);
    io.boolean(definition.bsp_reconciled);
    io.boolean(definition.complete);
    io.boolean(definition.cross_matching);
    io.boolean(definition.in_play);
    io.boolean(definition.runners_voidable);
    io.maybe(definition.number_of_winners);
    io.maybe(definition.event_id);
    io.maybe(definition.event_type_id);
    io.maybe(definition.event_name);
    io.maybe(definition.market_type);
    io.maybe(definition.market_time);
    io.maybe(definition.country_code);
    io.maybe(definition.venue);
    io.maybe(definition.race_type);
    io.boolean(definition.bsp_market);
    io.boolean(definition.persistence_enabled);
    io.maybe(definition.each_way_divisor);
    io.maybe(definition.timezone);
    io.boolean(definition.turn_in_play_enabled);
    io.maybe(definition.betting_type);
    io.maybe(definition.name);
    io.boolean(definition.discount_allowed);
    io.maybe(definition.market_base_rate);
    io.list(definition.has_regulators, definition.regulators);
    io.maybe(definition.open_date);
    io.maybe(definition.suspend_time);
    io.maybe(definition.settled_time);
    io.maybe(definition.version);
    io.list(definition.has_runners, definition.runners);
}

template <class Io, record_of<RunnerChangeRecord> R>
void fields(Io& io, R& change) {
    io.always(change.id);
    io.zero_or(change.hc);
    io.maybe(change.status);
    io.maybe(change.adjustment_factor);
    io.maybe(change.last_price_traded);
    io.maybe(change.total_matched);
    io.maybe(change.removal_date);
    io.maybe(change.starting_price_back);
    io.maybe(change.starting_price_lay);
    io.maybe(change.available_to_back);
    io.maybe(change.available_to_lay);
    io.maybe(change.traded_volume);
    io.sp_input(change.near_price);
    io.sp_input(change.far_price);
}

template <class Io, record_of<MarketChangeRecord> R>
void fields(Io& io, R& change) {
    io.flag(change.is_object);
    io.maybe(change.id);
    io.flag(change.image);
    io.two_bits(change.definition_kind);
    io.maybe(change.status);
    io.maybe(change.bet_delay);
    io.boolean(change.bsp_reconciled);
    io.boolean(change.complete);
    io.boolean(change.cross_matching);
    io.boolean(change.in_play);
    io.boolean(change.runners_voidable);
    io.maybe(change.total_matched);
    io.maybe(change.version);
    io.maybe(change.last_match_time);
    io.list(change.has_runner_changes, change.runner_changes);
    // Read after the mask has given the kind.
    if (change.definition_kind == MarketChangeRecord::Definition::Object) io.record(change.definition);
}

constexpr std::uint64_t kRawDouble = 1;

std::uint64_t read_varint(const std::uint8_t*& at) {
    std::uint64_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
        const std::uint8_t byte = *at++;
        value |= std::uint64_t{byte & 0x7Fu} << shift;
        if (byte < 0x80) return value;
    }
}
constexpr double kMaxHundredths = 0x1p53;

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

class Writer {
public:
    explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}

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
        while (value >= 0x80) {
            out_.push_back(static_cast<std::uint8_t>(value | 0x80));
            value >>= 7;
        }
        out_.push_back(static_cast<std::uint8_t>(value));
    }

private:
    void put(std::int64_t value) {
        put_varint((static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63));
    }
    void put(double value) {
        const double scaled = value * 100.0;
        if (scaled > -kMaxHundredths && scaled < kMaxHundredths) {
            // Any candidate will do: it is kept only if it restores exactly.
            const auto k = static_cast<std::int64_t>(scaled + (scaled < 0 ? -0.5 : 0.5));
            if (std::bit_cast<std::uint64_t>(static_cast<double>(k) / 100.0) == std::bit_cast<std::uint64_t>(value)) {
                put_varint(k >= 0 ? static_cast<std::uint64_t>(k) << 1 : (static_cast<std::uint64_t>(-k) << 1) | 1);
                return;
            }
        }
        put_varint(kRawDouble);
        const auto bits = std::bit_cast<std::uint64_t>(value);
        for (int shift = 0; shift < 64; shift += 8) out_.push_back(static_cast<std::uint8_t>(bits >> shift));
    }
    void put(std::string_view text) {
        put_varint(text.size());
        out_.insert(out_.end(), text.begin(), text.end());
    }
    void put(PricePairs pairs) {
        put_varint(pairs.size());
        for (const PricePair& pair : pairs) {
            put(pair.price);
            put(pair.size);
        }
    }
    template <class T>
    void put(const T& nested) { record(nested); }

    std::vector<std::uint8_t>& out_;
};

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
    template <class T>
    void maybe(std::optional<T>& value) {
        if (take()) get(value.emplace());
        else value.reset();
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
        items.resize(get_varint());
        for (T& item : items) get(item);
    }
    template <class T>
    void record(T& value) {
        const std::uint64_t outer = mask_;
        mask_ = get_varint();
        fields(*this, value);
        mask_ = outer;
    }

private:
    std::uint64_t get_varint() { return read_varint(at_); }
    bool take() {
        const bool bit = mask_ & 1;
        mask_ >>= 1;
        return bit;
    }
    void get(std::int64_t& value) {
        const std::uint64_t zigzag = get_varint();
        value = static_cast<std::int64_t>((zigzag >> 1) ^ (~(zigzag & 1) + 1));
    }
    void get(double& value) {
        const std::uint64_t code = get_varint();
        if (code == kRawDouble) {
            std::uint64_t bits;
            std::memcpy(&bits, at_, sizeof bits);  // written little-endian, as x86 and ARM hold it
            at_ += sizeof bits;
            value = std::bit_cast<double>(bits);
            return;
        }
        const auto hundredths = static_cast<std::int64_t>(code >> 1);
        value = static_cast<double>(code & 1 ? -hundredths : hundredths) / 100.0;
    }
    void get(std::string_view& text) {
        const std::size_t length = get_varint();
        text = {reinterpret_cast<const char*>(at_), length};
        at_ += length;
    }
    void get(PricePairs& pairs) {
        std::span<PricePair> decoded = pairs_.allocate(get_varint());
        for (PricePair& pair : decoded) {
            get(pair.price);
            get(pair.size);
        }
        pairs = decoded;
    }
    template <class T>
    void get(T& nested) { record(nested); }

    const std::uint8_t* at_;
    PricePairPool& pairs_;
    std::uint64_t mask_ = 0;
};

constexpr std::size_t kFirstChunkBytes = 64 * 1024;
constexpr std::size_t kMaxChunkBytes = 8 * 1024 * 1024;

}  // namespace

void StoredMessages::append(std::int64_t publish_time, std::span<const MarketChangeRecord> market_changes) {
    encoding_.clear();
    Writer writer(encoding_);
    writer.put_varint(market_changes.size());
    for (const MarketChangeRecord& change : market_changes) writer.record(change);
    std::uint8_t* stored = reserve_in_arena(encoding_.size());
    std::memcpy(stored, encoding_.data(), encoding_.size());
    messages_.push_back({publish_time, stored});
}

std::uint8_t* StoredMessages::reserve_in_arena(std::size_t bytes) {
    if (bytes > free_bytes_) {
        // Chunks grow with the store, so slack stays a fraction of it.
        const std::size_t chunk = std::max({bytes, kFirstChunkBytes, std::min(chunk_bytes_total_, kMaxChunkBytes)});
        chunks_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(chunk));
        chunk_bytes_total_ += chunk;
        free_ = chunks_.back().get();
        free_bytes_ = chunk;
    }
    std::uint8_t* reserved = free_;
    free_ += bytes;
    free_bytes_ -= bytes;
    return reserved;
}

const std::uint8_t* StoredMessages::decode_change_count(const std::uint8_t* at, std::size_t& count) {
    count = read_varint(at);
    return at;
}

const std::uint8_t* StoredMessages::decode_market_change(const std::uint8_t* at, MarketChangeRecord& record) {
    record.pair_storage.clear();
    Reader reader(at, record.pair_storage);
    reader.record(record);
    return reader.position();
}

std::size_t StoredMessages::memory_bytes() const {
    return chunk_bytes_total_ + messages_.capacity() * sizeof(Message) +
           chunks_.capacity() * sizeof(chunks_.front()) + encoding_.capacity();
}

}  // namespace quorvane::cache
