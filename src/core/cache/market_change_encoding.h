// Reads one market-change value straight into the store's encoding, over any
// JSON value that offers the consuming readings below, so that the one-pass
// line reader and a parsed document store by the same rules.
//
// A Value is read exactly once, by one of: integer(), number(), string(),
// boolean() (each std::nullopt for another kind), number_pair(first,
// second) (true and the values of an array of exactly two numbers; for
// anything else false, and the value is still unread), members(f) or
// elements(f) (false for another kind; f gets each member's key and value,
// or each element, in order), hundredths(k) (true and k for a number that is
// k / 100 exactly; it may refuse any value, which is then still unread),
// ladder(pair, other) (elements(), where the
// elements that are two numbers k / 100 exactly may go to pair(k, k) instead
// of other(element)), or skip(). is_number() and is_string() only look.
//
// Each object is walked once, member by member, so a repeated key is decided
// by its last value: its entry takes the later payload, or none.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "core/cache/market_change_record.h"
#include "core/cache/message_fields.h"
#include "core/cache/record_layout.h"
#include "core/cache/record_writer.h"
#include "core/cache/stored_encoding.h"

namespace quorvane::cache {
namespace encoding_readings {

inline void put(EncodedBytes& out, std::int64_t value) {
    out.commit(encoding::write_varint(out.room(encoding::kMaxVarintBytes), encoding::zigzag(value)));
}
inline void put(EncodedBytes& out, const encoding::DoubleCode& code) {
    std::uint8_t* const at = out.room(encoding::kMaxDoubleBytes);
    *at = static_cast<std::uint8_t>(code.bytes);
    out.commit(encoding::write_code(at + 1, code));
}
inline void put(EncodedBytes& out, double value) { put(out, encoding::encode_double(value)); }
inline void put(EncodedBytes& out, std::string_view text) {
    std::uint8_t* at = encoding::write_varint(out.room(encoding::kMaxVarintBytes + text.size()), text.size());
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    out.commit(at + text.size());
}
inline void put_pair(EncodedBytes& out, const encoding::DoubleCode& price, const encoding::DoubleCode& size) {
    out.commit(encoding::write_pair(out.room(encoding::kMaxPairBytes), price, size));
}
inline void put_pair(EncodedBytes& out, double price, double size) {
    put_pair(out, encoding::encode_double(price), encoding::encode_double(size));
}

// An entry of one bit that holds a payload when `value` is present.
template <class T>
void maybe(RecordWriter& record, unsigned entry, unsigned bit, const std::optional<T>& value) {
    if (value) {
        record.begin(entry);
        put(record.out(), *value);
        record.end(entry);
    } else {
        record.drop(entry);
    }
    record.set_bits(bit, 1, value.has_value());
}

// The readings of message_fields.h, each writing its entry, payload and bits.
template <class Value>
void integer(Value value, RecordWriter& record, unsigned entry, unsigned bit, EncodingScratch&) {
    maybe(record, entry, bit, value.integer());
}
template <class Value>
void number(Value value, RecordWriter& record, unsigned entry, unsigned bit, EncodingScratch&) {
    std::uint64_t k;
    if (!value.hundredths(k)) return maybe(record, entry, bit, value.number());
    record.begin(entry);
    put(record.out(), encoding::hundredths_code(k));
    record.end(entry);
    record.set_bits(bit, 1, 1);
}
template <class Value>
void string(Value value, RecordWriter& record, unsigned entry, unsigned bit, EncodingScratch&) {
    maybe(record, entry, bit, value.string());
}
// Two bits: present, then the value.
template <class Value>
void boolean(Value value, RecordWriter& record, unsigned, unsigned bit, EncodingScratch&) {
    const std::optional<bool> got = value.boolean();
    record.set_bits(bit, 2, got ? 1u | unsigned{*got} << 1 : 0u);
}
// "spn", "spf" and a definition runner's "bsp": two bits of SpInput::Kind,
// and a payload for a number or a text.
template <class Value>
void sp_input(Value value, RecordWriter& record, unsigned entry, unsigned bit, EncodingScratch&) {
    SpInput::Kind kind = SpInput::Kind::Other;
    if (value.is_number()) {
        kind = SpInput::Kind::Number;
        record.begin(entry);
        put(record.out(), *value.number());
        record.end(entry);
    } else if (value.is_string()) {
        kind = SpInput::Kind::Text;
        record.begin(entry);
        put(record.out(), *value.string());
        record.end(entry);
    } else {
        value.skip();
        record.drop(entry);
    }
    record.set_bits(bit, 2, static_cast<unsigned>(kind));
}

// Ends a list entry begun at `entry`: its count and items when the value
// was an array, no payload otherwise; the entry's bit says which.
inline void end_list(RecordWriter& record, CountedList& list, unsigned entry, unsigned bit, bool is_array) {
    if (is_array) {
        list.close();
        record.end(entry);
    } else {
        record.abandon(entry);
    }
    record.set_bits(bit, 1, is_array);
}

// Elements that are not arrays of at least two are dropped; a first or
// second element that is not a number reads as 0.0.
template <class Value>
void price_pairs(Value value, RecordWriter& record, unsigned entry, unsigned bit, EncodingScratch& scratch) {
    record.begin(entry);
    CountedList pairs(scratch.out);
    const bool is_array = value.ladder(
        [&](std::uint64_t price, std::uint64_t size) {
            put_pair(scratch.out, encoding::hundredths_code(price), encoding::hundredths_code(size));
            pairs.add();
        },
        [&](Value item) {
            double price = 0.0, size = 0.0;
            if (item.number_pair(price, size)) {
                put_pair(scratch.out, price, size);
                pairs.add();
                return;
            }
            std::size_t count = 0;
            item.elements([&](Value field) {
                if (count == 0) price = field.number().value_or(0.0);
                else if (count == 1) size = field.number().value_or(0.0);
                else field.skip();
                ++count;
            });
            if (count < 2) return;
            put_pair(scratch.out, price, size);
            pairs.add();
        });
    end_list(record, pairs, entry, bit, is_array);
}

// Encodes `field` into the entry that `key` names in `LIST`; false when the
// list has no such key.
#define QUORVANE_ENCODE_FIELD(key_, member_, reading_, encoding_)                        \
    if (key == key_) {                                                                   \
        reading_(field, record, Layout::member_, Layout::bit[Layout::member_], scratch); \
        return true;                                                                     \
    }
#define QUORVANE_FIELD_ENCODER(name, Layout_, LIST)                                                             \
    template <class Value>                                                                                     \
    bool name(std::string_view key, Value field, RecordWriter& record, EncodingScratch& scratch) {            \
        using Layout = Layout_;                                                                                \
        LIST(QUORVANE_ENCODE_FIELD)                                                                            \
        return false;                                                                                          \
    }

QUORVANE_FIELD_ENCODER(definition_runner_field, layout::DefinitionRunner, QUORVANE_DEFINITION_RUNNER_FIELDS)
QUORVANE_FIELD_ENCODER(definition_field, layout::Definition, QUORVANE_DEFINITION_FIELDS)
QUORVANE_FIELD_ENCODER(runner_change_field, layout::RunnerChange, QUORVANE_RUNNER_CHANGE_FIELDS)
QUORVANE_FIELD_ENCODER(market_change_field, layout::MarketChange, QUORVANE_MARKET_CHANGE_FIELDS)
#undef QUORVANE_FIELD_ENCODER
#undef QUORVANE_ENCODE_FIELD

// A list entry: a count and the items that `item` adds, for each element
// that it takes (returns true for).
template <class Value, class Item>
void list(Value value, RecordWriter& record, unsigned entry, unsigned bit, EncodingScratch& scratch, Item&& item) {
    record.begin(entry);
    CountedList items(scratch.out);
    const bool is_array = value.elements([&](Value element) {
        if (item(element)) items.add();
    });
    end_list(record, items, entry, bit, is_array);
}

// Writes nothing, and returns false, when the value does not make a runner
// change: one that is no object or has no integer "id".
//
// The records read most often, the runner changes and a definition's
// runners, are read with every reading inlined: one function per record
// keeps the reader's state in registers from member to member, where a call
// per member and per value passed it through memory (a load a tenth faster).
template <class Value>
[[gnu::flatten]] bool runner_change(Value value, EncodingScratch& scratch) {
    using Layout = layout::RunnerChange;
    const std::size_t start = scratch.out.size();
    RecordWriter record(scratch);
    bool has_id = false;
    const bool is_object = value.members([&](std::string_view key, Value field) {
        // "id" is in every runner change; a key of another length is told apart at once.
        if (key == "id") {
            // Always present, so without a bit of its own.
            const std::optional<std::int64_t> id = field.integer();
            has_id = id.has_value();
            if (id) {
                record.begin(Layout::id);
                put(record.out(), *id);
                record.end(Layout::id);
            } else {
                record.drop(Layout::id);
            }
        } else if (runner_change_field(key, field, record, scratch)) {
            return;
        } else if (key == "hc") {
            // 0.0 when absent or not a number, and then not stored.
            const double hc = field.number().value_or(0.0);
            const bool stored = std::bit_cast<std::uint64_t>(hc) != 0;
            maybe(record, Layout::hc, Layout::bit[Layout::hc], stored ? std::optional<double>(hc) : std::nullopt);
        } else {
            field.skip();
        }
    });
    if (!is_object || !has_id) {
        scratch.out.truncate(start);
        return false;
    }
    record.close();
    return true;
}

// Every element makes a definition runner, one that is no object an empty one.
template <class Value>
[[gnu::flatten]] void definition_runner(Value value, EncodingScratch& scratch) {
    using Layout = layout::DefinitionRunner;
    // "id" lies beyond the first byte of the mask.
    RecordWriter record(scratch, 2);
    const bool is_object = value.members([&](std::string_view key, Value field) {
        if (!definition_runner_field(key, field, record, scratch)) field.skip();
    });
    record.set_bits(Layout::bit[Layout::is_object], 1, is_object);
    record.close();
}

// Writes nothing, and returns false, when the value is not an object.
template <class Value>
bool definition(Value value, EncodingScratch& scratch) {
    using Layout = layout::Definition;
    const std::size_t start = scratch.out.size();
    // Nearly every definition's mask reaches "eventName": its place is kept
    // that long, so that the payloads after it need not move when it is written.
    constexpr unsigned usual_mask_bytes =
        encoding::varint_bytes(std::uint64_t{1} << Layout::bit[Layout::event_name]);
    RecordWriter record(scratch, usual_mask_bytes);
    const bool is_object = value.members([&](std::string_view key, Value field) {
        if (definition_field(key, field, record, scratch)) return;
        if (key == "regulators") {
            list(field, record, Layout::regulators, Layout::bit[Layout::regulators], scratch, [&](Value item) {
                const std::optional<std::string_view> text = item.string();
                if (text) put(scratch.out, *text);
                return text.has_value();
            });
        } else if (key == "runners") {
            list(field, record, Layout::runners, Layout::bit[Layout::runners], scratch, [&](Value item) {
                definition_runner(item, scratch);
                return true;
            });
        } else {
            field.skip();
        }
    });
    if (!is_object) {
        scratch.out.truncate(start);
        return false;
    }
    record.close();
    return true;
}

// "id" is only a non-empty string.
template <class Value>
std::optional<std::string_view> non_empty_string(Value value) {
    auto text = value.string();
    if (text && text->empty()) return std::nullopt;
    return text;
}

}  // namespace encoding_readings

// Appends one market change of any kind to scratch.out, in the store's
// encoding: a value that is no object makes a change that only sets the
// publish time.
template <class Value>
void encode_market_change(Value value, EncodingScratch& scratch) {
    namespace readings = encoding_readings;
    using Layout = layout::MarketChange;
    RecordWriter record(scratch);
    const bool is_object = value.members([&](std::string_view key, Value field) {
        if (key == "id") {
            readings::maybe(record, Layout::id, Layout::bit[Layout::id], readings::non_empty_string(field));
        } else if (key == "rc") {
            readings::list(field, record, Layout::runner_changes, Layout::bit[Layout::runner_changes], scratch,
                           [&](Value item) { return readings::runner_change(item, scratch); });
        } else if (readings::market_change_field(key, field, record, scratch)) {
            return;
        } else if (key == "img") {
            record.set_bits(Layout::bit[Layout::image], 1, field.boolean().value_or(false));
        } else if (key == "marketDefinition") {
            record.begin(Layout::definition);
            const bool is_definition = readings::definition(field, scratch);
            if (is_definition) record.end(Layout::definition);
            else record.abandon(Layout::definition);
            const auto kind = is_definition ? MarketChangeRecord::Definition::Object
                                            : MarketChangeRecord::Definition::NotObject;
            record.set_bits(Layout::bit[Layout::definition_kind], 2, static_cast<unsigned>(kind));
        } else {
            field.skip();
        }
    });
    record.set_bits(Layout::bit[Layout::is_object], 1, is_object);
    record.close();
}

}  // namespace quorvane::cache
