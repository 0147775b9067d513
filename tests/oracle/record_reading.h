// The plain reading of a market-change value into a MarketChangeRecord, over
// any JSON value that offers the consuming readings below: the oracle that
// the store's encoding of the same value must decode to.
//
// A Value is read exactly once, by one of: integer(), number(), string(),
// boolean() (each std::nullopt for another kind), number_pair(first,
// second) (true and the values of an array of exactly two numbers; for
// anything else false, and the value is still unread), members(f) or elements(f)
// (false for another kind; f gets each member's key and value, or each
// element, in order), or skip(). is_number() and is_string() only look.
//
// Each object is walked once, member by member, so a repeated key is decided
// by its last value: a repeated composite key first clears what the earlier
// one left.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "core/cache/market_change_record.h"
#include "core/cache/message_fields.h"

namespace quorvane::cache {
namespace reading {

template <class Value>
SpInput sp_input(Value value) {
    SpInput input;
    if (value.is_number()) {
        input.kind = SpInput::Kind::Number;
        input.number = *value.number();
    } else if (value.is_string()) {
        input.kind = SpInput::Kind::Text;
        input.text = *value.string();
    } else {
        input.kind = SpInput::Kind::Other;
        value.skip();
    }
    return input;
}

template <class Value>
std::optional<std::string_view> non_empty_string(Value value) {
    auto text = value.string();
    if (text && text->empty()) return std::nullopt;
    return text;
}

// Sets `out` by its value and its flag. Copying a whole optional would load
// back as one wide word what was just stored as two narrow ones, a load the
// CPU cannot take from those stores, and stall.
template <class T>
void set(std::optional<T>& out, const std::optional<T>& value) {
    if (value) out.emplace(*value);
    else out.reset();
}

// The readings of message_fields.h, each with the same signature: they
// write the record's member themselves, for the reason above.
template <class Value>
void integer(Value value, std::optional<std::int64_t>& out, PricePairPool&) { set(out, value.integer()); }
template <class Value>
void number(Value value, std::optional<double>& out, PricePairPool&) { set(out, value.number()); }
template <class Value>
void string(Value value, std::optional<std::string_view>& out, PricePairPool&) { set(out, value.string()); }
template <class Value>
void boolean(Value value, std::optional<bool>& out, PricePairPool&) { set(out, value.boolean()); }
template <class Value>
void sp_input(Value value, SpInput& out, PricePairPool&) { out = sp_input(value); }

// Reads `field` into the member of `record` that `key` names in `LIST`;
// false when the list has no such key.
#define QUORVANE_READ_FIELD(key_, member_, reading_, encoding_) \
    if (key == key_) {                                          \
        reading_(field, record.member_, storage);               \
        return true;                                            \
    }
#define QUORVANE_FIELD_READER(name, Record, LIST)                                                    \
    template <class Value>                                                                          \
    bool name(std::string_view key, Value field, Record& record, [[maybe_unused]] PricePairPool& storage) { \
        LIST(QUORVANE_READ_FIELD)                                                                   \
        return false;                                                                               \
    }

// Elements that are not arrays of at least two are dropped; a first or
// second element that is not a number reads as 0.0.
template <class Value>
void price_pairs(Value value, std::optional<PricePairs>& out, PricePairPool& storage) {
    std::vector<PricePair> read;
    const bool is_array = value.elements([&](Value item) {
        PricePair pair{0.0, 0.0};
        if (item.number_pair(pair.price, pair.size)) {
            read.push_back(pair);
            return;
        }
        std::size_t count = 0;
        item.elements([&](Value field) {
            if (count == 0) pair.price = field.number().value_or(0.0);
            else if (count == 1) pair.size = field.number().value_or(0.0);
            else field.skip();
            ++count;
        });
        if (count >= 2) read.push_back(pair);
    });
    if (!is_array) {
        out.reset();
        return;
    }
    const std::span<PricePair> pairs = storage.allocate(read.size());
    std::copy(read.begin(), read.end(), pairs.begin());
    out.emplace(pairs.data(), pairs.size());
}

QUORVANE_FIELD_READER(definition_runner_field, DefinitionRunnerRecord, QUORVANE_DEFINITION_RUNNER_FIELDS)
QUORVANE_FIELD_READER(definition_field, MarketDefinitionRecord, QUORVANE_DEFINITION_FIELDS)
QUORVANE_FIELD_READER(runner_change_field, RunnerChangeRecord, QUORVANE_RUNNER_CHANGE_FIELDS)
QUORVANE_FIELD_READER(market_change_field, MarketChangeRecord, QUORVANE_MARKET_CHANGE_FIELDS)
#undef QUORVANE_FIELD_READER
#undef QUORVANE_READ_FIELD

// Returns false when the value does not make a runner change.
template <class Value>
bool runner_change(Value value, RunnerChangeRecord& change, PricePairPool& storage) {
    std::optional<std::int64_t> id;
    const bool is_object = value.members([&](std::string_view key, Value field) {
        // "id" is in every runner change; a key of another length is told apart at once.
        if (key == "id") id = field.integer();
        else if (runner_change_field(key, field, change, storage)) return;
        else if (key == "hc") change.hc = field.number().value_or(0.0);
        else field.skip();
    });
    if (!is_object || !id) return false;
    change.id = *id;
    return true;
}

template <class Value>
void definition_runner(Value value, DefinitionRunnerRecord& runner, PricePairPool& storage) {
    runner.is_object = value.members([&](std::string_view key, Value field) {
        if (!definition_runner_field(key, field, runner, storage)) field.skip();
    });
}

// Back to a default-constructed record, except that the listed members,
// which the caller has emptied, keep their storage.
template <class Record, class... Member>
void reset_keeping(Record& record, Member Record::*... kept) {
    std::tuple saved{std::move(record.*kept)...};
    // Built anew in place: cheaper than assigning a default record member by member.
    std::destroy_at(&record);
    std::construct_at(&record);
    std::apply([&](auto&... value) { ((record.*kept = std::move(value)), ...); }, saved);
}

inline void reset(MarketDefinitionRecord& definition) {
    definition.runners.clear();
    definition.regulators.clear();
    reset_keeping(definition, &MarketDefinitionRecord::runners, &MarketDefinitionRecord::regulators);
}

// The definition is left as it is: it counts only where definition_kind
// says Object, and definition() resets it as it reads one. Definitions are
// rare, and building the large record anew would cost every line.
inline void reset(MarketChangeRecord& record) {
    static_cast<MarketChangeValues&>(record) = MarketChangeValues{};
    record.runner_changes.clear();
    record.pair_storage.clear();
}

// Returns false when the value is not an object.
template <class Value>
bool definition(Value value, MarketDefinitionRecord& definition, PricePairPool& storage) {
    reset(definition);
    return value.members([&](std::string_view key, Value field) {
        if (definition_field(key, field, definition, storage)) return;
        if (key == "regulators") {
            definition.regulators.clear();
            definition.has_regulators = field.elements([&](Value item) {
                if (auto text = item.string()) definition.regulators.push_back(*text);
            });
        } else if (key == "runners") {
            definition.runners.clear();
            definition.has_runners = field.elements([&](Value item) {
                definition_runner(item, definition.runners.emplace_back(), storage);
            });
        } else {
            field.skip();
        }
    });
}

}  // namespace reading

// Fills `record` from one market-change value of any kind, reusing the
// record's vectors and pair storage. Texts stay views into the value's
// document, so the record is valid while the document is.
template <class Value>
void read_market_change_value(Value value, MarketChangeRecord& record) {
    reading::reset(record);
    record.is_object = value.members([&](std::string_view key, Value field) {
        if (reading::market_change_field(key, field, record, record.pair_storage)) return;
        if (key == "id") reading::set(record.id, reading::non_empty_string(field));
        else if (key == "rc") {
            record.runner_changes.clear();
            record.has_runner_changes = field.elements([&](Value item) {
                if (!reading::runner_change(item, record.runner_changes.emplace_back(), record.pair_storage))
                    record.runner_changes.pop_back();
            });
        } else if (key == "img") record.image = field.boolean().value_or(false);
        else if (key == "marketDefinition") {
            record.definition_kind = reading::definition(field, record.definition, record.pair_storage)
                                         ? MarketChangeRecord::Definition::Object
                                         : MarketChangeRecord::Definition::NotObject;
        } else field.skip();
    });
}

}  // namespace quorvane::cache
