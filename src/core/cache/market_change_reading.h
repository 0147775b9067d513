// Reads one market-change value into a MarketChangeRecord, over any JSON
// value that offers the consuming readings below, so that the parsed
// document and the one-pass line reader fill records by the same rules.
//
// A Value is read exactly once, by one of: integer(), number(), string(),
// boolean() (each std::nullopt for another kind), number_pair() (the two
// values of an array of exactly two numbers; for anything else
// std::nullopt, and the value is still unread), members(f) or elements(f)
// (false for another kind; f gets each member's key and value, or each
// element, in order), or skip(). is_number() and is_string() only look.
//
// Each object is walked once, member by member, so a repeated key is decided
// by its last value: a repeated composite key first clears what the earlier
// one left.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "core/cache/market_change_record.h"

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

// Elements that are not arrays of at least two are dropped; a first or
// second element that is not a number reads as 0.0.
template <class Value>
std::optional<PricePairs> price_pairs(Value value, PricePairPool& storage) {
    storage.start_run();
    const bool is_array = value.elements([&](Value item) {
        if (const auto numbers = item.number_pair()) {
            storage.add_to_run({numbers->first, numbers->second});
            return;
        }
        PricePair pair{0.0, 0.0};
        std::size_t count = 0;
        item.elements([&](Value field) {
            if (count == 0) pair.price = field.number().value_or(0.0);
            else if (count == 1) pair.size = field.number().value_or(0.0);
            else field.skip();
            ++count;
        });
        if (count >= 2) storage.add_to_run(pair);
    });
    const std::span<PricePair> pairs = storage.finish_run();
    if (!is_array) return std::nullopt;
    return PricePairs(pairs.data(), pairs.size());
}

// Returns false when the value does not make a runner change.
template <class Value>
bool runner_change(Value value, RunnerChangeRecord& change, PricePairPool& storage) {
    std::optional<std::int64_t> id;
    const bool is_object = value.members([&](std::string_view key, Value field) {
        if (key == "atb") change.available_to_back = price_pairs(field, storage);
        else if (key == "atl") change.available_to_lay = price_pairs(field, storage);
        else if (key == "trd") change.traded_volume = price_pairs(field, storage);
        else if (key == "id") id = field.integer();
        else if (key == "hc") change.hc = field.number().value_or(0.0);
        else if (key == "ltp") change.last_price_traded = field.number();
        else if (key == "tv") change.total_matched = field.number();
        else if (key == "spb") change.starting_price_back = price_pairs(field, storage);
        else if (key == "spl") change.starting_price_lay = price_pairs(field, storage);
        else if (key == "spn") change.near_price = sp_input(field);
        else if (key == "spf") change.far_price = sp_input(field);
        else if (key == "status") change.status = field.string();
        else if (key == "adjustmentFactor") change.adjustment_factor = field.number();
        else if (key == "removalDate") change.removal_date = field.string();
        else field.skip();
    });
    if (!is_object || !id) return false;
    change.id = *id;
    return true;
}

template <class Value>
void definition_runner(Value value, DefinitionRunnerRecord& runner) {
    runner.is_object = value.members([&](std::string_view key, Value field) {
        if (key == "id") runner.id = field.integer();
        else if (key == "hc") runner.hc = field.number();
        else if (key == "status") runner.status = field.string();
        else if (key == "sortPriority") runner.sort_priority = field.integer();
        else if (key == "name") runner.name = field.string();
        else if (key == "adjustmentFactor") runner.adjustment_factor = field.number();
        else if (key == "removalDate") runner.removal_date = field.string();
        else if (key == "bsp") runner.bsp = sp_input(field);
        else field.skip();
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

// The definition's vectors are let go: definitions are rare, and moving the
// large definition out and back would cost every line.
inline void reset(MarketChangeRecord& record) {
    record.runner_changes.clear();
    record.pair_storage.clear();
    reset_keeping(record, &MarketChangeRecord::runner_changes, &MarketChangeRecord::pair_storage);
}

// Returns false when the value is not an object.
template <class Value>
bool definition(Value value, MarketDefinitionRecord& definition) {
    reset(definition);
    return value.members([&](std::string_view key, Value field) {
        if (key == "status") definition.status = field.string();
        else if (key == "betDelay") definition.bet_delay = field.integer();
        else if (key == "bspReconciled") definition.bsp_reconciled = field.boolean();
        else if (key == "complete") definition.complete = field.boolean();
        else if (key == "crossMatching") definition.cross_matching = field.boolean();
        else if (key == "inPlay") definition.in_play = field.boolean();
        else if (key == "runnersVoidable") definition.runners_voidable = field.boolean();
        else if (key == "numberOfWinners") definition.number_of_winners = field.integer();
        else if (key == "eventId") definition.event_id = field.string();
        else if (key == "eventTypeId") definition.event_type_id = field.string();
        else if (key == "eventName") definition.event_name = field.string();
        else if (key == "marketType") definition.market_type = field.string();
        else if (key == "marketTime") definition.market_time = field.string();
        else if (key == "countryCode") definition.country_code = field.string();
        else if (key == "venue") definition.venue = field.string();
        else if (key == "raceType") definition.race_type = field.string();
        else if (key == "bspMarket") definition.bsp_market = field.boolean();
        else if (key == "persistenceEnabled") definition.persistence_enabled = field.boolean();
        else if (key == "eachWayDivisor") definition.each_way_divisor = field.number();
        else if (key == "timezone") definition.timezone = field.string();
        else if (key == "turnInPlayEnabled") definition.turn_in_play_enabled = field.boolean();
        else if (key == "bettingType") definition.betting_type = field.string();
        else if (key == "name") definition.name = field.string();
        else if (key == "discountAllowed") definition.discount_allowed = field.boolean();
        else if (key == "marketBaseRate") definition.market_base_rate = field.number();
        else if (key == "regulators") {
            definition.regulators.clear();
            definition.has_regulators = field.elements([&](Value item) {
                if (auto text = item.string()) definition.regulators.push_back(*text);
            });
        } else if (key == "openDate") definition.open_date = field.string();
        else if (key == "suspendTime") definition.suspend_time = field.string();
        else if (key == "settledTime") definition.settled_time = field.string();
        else if (key == "version") definition.version = field.integer();
        else if (key == "runners") {
            definition.runners.clear();
            definition.has_runners = field.elements([&](Value item) {
                definition_runner(item, definition.runners.emplace_back());
            });
        } else field.skip();
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
        if (key == "rc") {
            record.runner_changes.clear();
            record.has_runner_changes = field.elements([&](Value item) {
                if (!reading::runner_change(item, record.runner_changes.emplace_back(), record.pair_storage))
                    record.runner_changes.pop_back();
            });
        } else if (key == "id") record.id = reading::non_empty_string(field);
        else if (key == "img") record.image = field.boolean().value_or(false);
        else if (key == "marketDefinition") {
            record.definition_kind = reading::definition(field, record.definition)
                                         ? MarketChangeRecord::Definition::Object
                                         : MarketChangeRecord::Definition::NotObject;
        } else if (key == "status") record.status = field.string();
        else if (key == "betDelay") record.bet_delay = field.integer();
        else if (key == "bspReconciled") record.bsp_reconciled = field.boolean();
        else if (key == "complete") record.complete = field.boolean();
        else if (key == "crossMatching") record.cross_matching = field.boolean();
        else if (key == "inPlay") record.in_play = field.boolean();
        else if (key == "runnersVoidable") record.runners_voidable = field.boolean();
        else if (key == "tv") record.total_matched = field.number();
        else if (key == "version") record.version = field.integer();
        else if (key == "lastMatchTime") record.last_match_time = field.integer();
        else field.skip();
    });
}

}  // namespace quorvane::cache
