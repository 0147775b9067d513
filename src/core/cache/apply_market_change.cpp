#include "core/cache/apply_market_change.h"

#include "core/cache/message_fields.h"

#include <string>
#include <string_view>

namespace quorvane::cache {
namespace {

constexpr std::string_view active_status = "ACTIVE";

// The fields below are set only when the message holds a different value, so
// a repeated text keeps its buffer and a repeated number reports no change.

bool set_text(std::string& field, std::string_view text) {
    if (field == text) return false;
    field.assign(text);
    return true;
}

bool set_text(std::optional<std::string>& field, std::string_view text) {
    if (!field) {
        field.emplace(text);
        return true;
    }
    return set_text(*field, text);
}

bool set_number(std::optional<double>& field, double number) {
    if (field == number) return false;
    field = number;
    return true;
}

bool set_number(double& field, double number) {
    if (field == number) return false;
    field = number;
    return true;
}

template <class Field, class Value>
void merge(Field& field, const std::optional<Value>& value) {
    if (value) field = *value;
}

void merge_text(std::string& field, const std::optional<std::string_view>& text) {
    if (text) set_text(field, *text);
}

void merge_text(std::optional<std::string>& field, const std::optional<std::string_view>& text) {
    if (text) set_text(field, *text);
}

// 32-bit fields keep the low 32 bits of the integer.
void merge_int32(std::int32_t& field, const std::optional<std::int64_t>& value) {
    if (value) field = static_cast<std::int32_t>(*value);
}

// Keeps number_of_active_runners in step with every status change, so the
// count costs nothing per market change whatever the number of runners.
class RunnerUpdater {
public:
    explicit RunnerUpdater(MarketState& state) : state_(state) {}

    RunnerState& find_or_create(std::int64_t selection_id, double handicap) {
        const auto [entry, inserted] =
            state_.runners.try_emplace(RunnerKey::of(selection_id, handicap), selection_id, handicap);
        state_.number_of_active_runners += inserted;  // new records start "ACTIVE"
        state_.runner_table_version += inserted;
        return entry->second;
    }

    bool set_status(RunnerState& runner, std::string_view status) {
        if (runner.status == status) return false;
        state_.number_of_active_runners += (status == active_status) - (runner.status == active_status);
        runner.status.assign(status);
        return true;
    }

    void clear() {
        state_.runner_table_version += !state_.runners.empty();
        state_.runners.clear();
        state_.number_of_active_runners = 0;
    }

private:
    MarketState& state_;
};

void fill_definition_runner(DefinitionRunner& entry, const DefinitionRunnerRecord& record) {
    entry.selection_id = record.id.value_or(0);
    entry.handicap = record.hc.value_or(0.0);
    entry.sort_priority = static_cast<std::int32_t>(record.sort_priority.value_or(0));
    set_text(entry.status, record.status.value_or(active_status));
    if (record.name) set_text(entry.name, *record.name);
    else entry.name.reset();
    entry.adjustment_factor = record.adjustment_factor;
    if (record.bsp.kind == SpInput::Kind::Number) entry.bsp = record.bsp.number;
    else entry.bsp.reset();
    if (record.removal_date) set_text(entry.removal_date, *record.removal_date);
    else entry.removal_date.reset();
}

void update_definition_runner(RunnerUpdater& updater, const DefinitionRunnerRecord& record) {
    RunnerState& runner = updater.find_or_create(*record.id, record.hc.value_or(0.0));
    if (record.status) updater.set_status(runner, *record.status);
    runner.bsp.assign(record.bsp);
    if (record.adjustment_factor) set_number(runner.adjustment_factor, *record.adjustment_factor);
    if (record.removal_date) set_text(runner.removal_date, *record.removal_date);
    ++runner.version;  // a definition always counts as a change of its runners
}

// Each merges every field of its list in message_fields.h: a field added
// there must be applied here too.
static_assert(QUORVANE_FIELD_COUNT(QUORVANE_DEFINITION_FIELDS) == 29, "apply_definition merges 29 fields");
static_assert(QUORVANE_FIELD_COUNT(QUORVANE_MARKET_CHANGE_FIELDS) == 10, "apply_market_fields merges 10 fields");
static_assert(QUORVANE_FIELD_COUNT(QUORVANE_RUNNER_CHANGE_FIELDS) == 12, "update_runner applies 12 fields besides id and hc");
static_assert(QUORVANE_FIELD_COUNT(QUORVANE_DEFINITION_RUNNER_FIELDS) == 8, "fill_definition_runner fills 8 fields");

void apply_definition(MarketState& state, RunnerUpdater& updater, const MarketDefinitionRecord& definition) {
    merge_text(state.status, definition.status);
    merge_int32(state.bet_delay, definition.bet_delay);
    merge(state.bsp_reconciled, definition.bsp_reconciled);
    merge(state.complete, definition.complete);
    merge(state.cross_matching, definition.cross_matching);
    merge(state.inplay, definition.in_play);
    merge(state.runners_voidable, definition.runners_voidable);
    merge_int32(state.number_of_winners, definition.number_of_winners);
    merge_text(state.event_id, definition.event_id);
    merge_text(state.event_type_id, definition.event_type_id);
    merge_text(state.event_name, definition.event_name);
    merge_text(state.market_type, definition.market_type);
    merge_text(state.market_time, definition.market_time);
    merge_text(state.country_code, definition.country_code);
    merge_text(state.venue, definition.venue);
    merge_text(state.race_type, definition.race_type);
    merge(state.bsp_market, definition.bsp_market);
    merge(state.persistence_enabled, definition.persistence_enabled);
    merge(state.each_way_divisor, definition.each_way_divisor);
    merge_text(state.timezone, definition.timezone);
    merge(state.turn_in_play_enabled, definition.turn_in_play_enabled);
    merge_text(state.betting_type, definition.betting_type);
    merge_text(state.name, definition.name);
    merge(state.discount_allowed, definition.discount_allowed);
    merge(state.market_base_rate, definition.market_base_rate);
    if (definition.has_regulators) {
        state.regulators.resize(definition.regulators.size());
        for (std::size_t i = 0; i < definition.regulators.size(); ++i)
            set_text(state.regulators[i], definition.regulators[i]);
    }
    merge_text(state.open_date, definition.open_date);
    merge_text(state.suspend_time, definition.suspend_time);
    merge_text(state.settled_time, definition.settled_time);
    merge(state.version, definition.version);

    if (!definition.has_runners) return;
    // Entries are overwritten in place so that their text buffers are reused.
    state.runner_definitions.resize(definition.runners.size());
    for (std::size_t i = 0; i < definition.runners.size(); ++i)
        fill_definition_runner(state.runner_definitions[i], definition.runners[i]);
    for (const DefinitionRunnerRecord& record : definition.runners)
        if (record.is_object && record.id) update_definition_runner(updater, record);
}

void apply_market_fields(MarketState& state, const MarketChangeRecord& change) {
    merge_text(state.status, change.status);
    merge_int32(state.bet_delay, change.bet_delay);
    merge(state.bsp_reconciled, change.bsp_reconciled);
    merge(state.complete, change.complete);
    merge(state.cross_matching, change.cross_matching);
    merge(state.inplay, change.in_play);
    merge(state.runners_voidable, change.runners_voidable);
    merge(state.total_matched, change.total_matched);
    merge(state.version, change.version);
    if (change.last_match_time) state.last_match_time = change.last_match_time;
}

bool apply_ladder(PriceLadder& ladder, const std::optional<PricePairs>& pairs) {
    return pairs && apply_price_pairs(ladder, *pairs);
}

bool apply_ladder(TradedLadder& ladder, const std::optional<PricePairs>& pairs) {
    return pairs && apply_price_pairs(ladder, *pairs);
}

bool apply_sp(SpValue& value, const SpInput& input) {
    if (!input.present()) return false;
    value.assign(input);
    return true;  // a present "spn"/"spf" always counts as a change
}

// Flattened so that each of the five ladders gets its own inlined copy of
// the price-pair loop: the inliner would keep one shared call, whose
// branches then mix the ladders' patterns.
[[gnu::flatten]] void update_runner(RunnerUpdater& updater, const RunnerChangeRecord& change) {
    RunnerState& runner = updater.find_or_create(change.id, change.hc);
    bool changed = false;
    if (change.status) changed |= updater.set_status(runner, *change.status);
    if (change.adjustment_factor) changed |= set_number(runner.adjustment_factor, *change.adjustment_factor);
    if (change.last_price_traded) changed |= set_number(runner.last_price_traded, *change.last_price_traded);
    if (change.total_matched) changed |= set_number(runner.total_matched, *change.total_matched);
    if (change.removal_date) changed |= set_text(runner.removal_date, *change.removal_date);
    changed |= apply_ladder(runner.starting_price_back, change.starting_price_back);
    changed |= apply_ladder(runner.starting_price_lay, change.starting_price_lay);
    changed |= apply_ladder(runner.available_to_back, change.available_to_back);
    changed |= apply_ladder(runner.available_to_lay, change.available_to_lay);
    changed |= apply_ladder(runner.traded_volume, change.traded_volume);
    changed |= apply_sp(runner.near_price, change.near_price);
    changed |= apply_sp(runner.far_price, change.far_price);
    runner.version += changed;
}

}  // namespace

void apply_market_change(MarketState& state, const MarketChangeRecord& change, std::int64_t publish_time) {
    state.publish_time = publish_time;
    RunnerUpdater updater(state);
    if (change.is_object) {
        if (change.image) updater.clear();
        if (change.definition_kind != MarketChangeRecord::Definition::Absent) {
            if (change.definition_kind == MarketChangeRecord::Definition::Object)
                apply_definition(state, updater, change.definition);
            ++state.definition_version;  // counted even when the value was not an object
        }
        apply_market_fields(state, change);
        if (change.has_runner_changes)
            for (const RunnerChangeRecord& runner_change : change.runner_changes) update_runner(updater, runner_change);
    }
    state.number_of_runners = static_cast<std::int32_t>(state.runners.size());
}

}  // namespace quorvane::cache
