#include "market/cache/json_readings.h"

#include <utility>

namespace quorvane::cache {
namespace {

using simdjson::dom::array;
using simdjson::dom::element;
using simdjson::dom::object;

// Each object is walked once, member by member, so a repeated key is decided
// by its last value; composite values are kept aside and read after the walk.

SpInput read_sp_input(element value) {
    SpInput input;
    if (auto number = read_number(value)) {
        input.kind = SpInput::Kind::Number;
        input.number = *number;
    } else if (auto text = read_string(value)) {
        input.kind = SpInput::Kind::Text;
        input.text = *text;
    } else {
        input.kind = SpInput::Kind::Other;
    }
    return input;
}

std::optional<std::string_view> read_non_empty_string(element value) {
    auto text = read_string(value);
    if (text && text->empty()) return std::nullopt;
    return text;
}

// The tape saturates an array's element count; count by walking past it.
std::size_t element_count(array elements) {
    constexpr std::size_t saturated = simdjson::internal::JSON_COUNT_MASK;
    std::size_t count = elements.size();
    if (count < saturated) return count;
    count = 0;
    for ([[maybe_unused]] element e : elements) ++count;
    return count;
}

std::optional<PricePairs> read_price_pairs(element value, PricePairPool& storage) {
    auto elements = read_array(value);
    if (!elements) return std::nullopt;
    std::span<PricePair> pairs = storage.allocate(element_count(*elements));
    std::size_t kept = 0;
    for (element item : *elements) {
        auto pair = read_array(item);
        if (!pair || pair->size() < 2) continue;
        auto field = pair->begin();
        const double price = read_number(*field).value_or(0.0);
        ++field;
        const double size = read_number(*field).value_or(0.0);
        pairs[kept++] = {price, size};
    }
    storage.give_back(pairs.size() - kept);
    return PricePairs(pairs.data(), kept);
}

// Returns false when the element does not make a runner change.
bool read_runner_change(element value, RunnerChangeRecord& change, PricePairPool& storage) {
    auto members = read_object(value);
    if (!members) return false;
    std::optional<std::int64_t> id;
    std::optional<element> spb, spl, atb, atl, trd;
    for (auto [key, field] : *members) {
        if (key == "atb") atb = field;
        else if (key == "atl") atl = field;
        else if (key == "trd") trd = field;
        else if (key == "id") id = read_integer(field);
        else if (key == "hc") change.hc = read_number(field).value_or(0.0);
        else if (key == "ltp") change.last_price_traded = read_number(field);
        else if (key == "tv") change.total_matched = read_number(field);
        else if (key == "spb") spb = field;
        else if (key == "spl") spl = field;
        else if (key == "spn") change.near_price = read_sp_input(field);
        else if (key == "spf") change.far_price = read_sp_input(field);
        else if (key == "status") change.status = read_string(field);
        else if (key == "adjustmentFactor") change.adjustment_factor = read_number(field);
        else if (key == "removalDate") change.removal_date = read_string(field);
    }
    if (!id) return false;
    change.id = *id;
    // Tested here, not in the call: most runner changes carry one ladder of five.
    const auto read_ladder = [&](std::optional<element> value) {
        return value ? read_price_pairs(*value, storage) : std::nullopt;
    };
    change.starting_price_back = read_ladder(spb);
    change.starting_price_lay = read_ladder(spl);
    change.available_to_back = read_ladder(atb);
    change.available_to_lay = read_ladder(atl);
    change.traded_volume = read_ladder(trd);
    return true;
}

void read_definition_runner(element value, DefinitionRunnerRecord& runner) {
    auto members = read_object(value);
    if (!members) return;
    runner.is_object = true;
    for (auto [key, field] : *members) {
        if (key == "id") runner.id = read_integer(field);
        else if (key == "hc") runner.hc = read_number(field);
        else if (key == "status") runner.status = read_string(field);
        else if (key == "sortPriority") runner.sort_priority = read_integer(field);
        else if (key == "name") runner.name = read_string(field);
        else if (key == "adjustmentFactor") runner.adjustment_factor = read_number(field);
        else if (key == "removalDate") runner.removal_date = read_string(field);
        else if (key == "bsp") runner.bsp = read_sp_input(field);
    }
}

void read_definition(object members, MarketDefinitionRecord& definition) {
    std::optional<element> regulators, runners;
    for (auto [key, field] : members) {
        if (key == "status") definition.status = read_string(field);
        else if (key == "betDelay") definition.bet_delay = read_integer(field);
        else if (key == "bspReconciled") definition.bsp_reconciled = read_boolean(field);
        else if (key == "complete") definition.complete = read_boolean(field);
        else if (key == "crossMatching") definition.cross_matching = read_boolean(field);
        else if (key == "inPlay") definition.in_play = read_boolean(field);
        else if (key == "runnersVoidable") definition.runners_voidable = read_boolean(field);
        else if (key == "numberOfWinners") definition.number_of_winners = read_integer(field);
        else if (key == "eventId") definition.event_id = read_string(field);
        else if (key == "eventTypeId") definition.event_type_id = read_string(field);
        else if (key == "eventName") definition.event_name = read_string(field);
        else if (key == "marketType") definition.market_type = read_string(field);
        else if (key == "marketTime") definition.market_time = read_string(field);
        else if (key == "countryCode") definition.country_code = read_string(field);
        else if (key == "venue") definition.venue = read_string(field);
        else if (key == "raceType") definition.race_type = read_string(field);
        else if (key == "bspMarket") definition.bsp_market = read_boolean(field);
        else if (key == "persistenceEnabled") definition.persistence_enabled = read_boolean(field);
        else if (key == "eachWayDivisor") definition.each_way_divisor = read_number(field);
        else if (key == "timezone") definition.timezone = read_string(field);
        else if (key == "turnInPlayEnabled") definition.turn_in_play_enabled = read_boolean(field);
        else if (key == "bettingType") definition.betting_type = read_string(field);
        else if (key == "name") definition.name = read_string(field);
        else if (key == "discountAllowed") definition.discount_allowed = read_boolean(field);
        else if (key == "marketBaseRate") definition.market_base_rate = read_number(field);
        else if (key == "regulators") regulators = field;
        else if (key == "openDate") definition.open_date = read_string(field);
        else if (key == "suspendTime") definition.suspend_time = read_string(field);
        else if (key == "settledTime") definition.settled_time = read_string(field);
        else if (key == "version") definition.version = read_integer(field);
        else if (key == "runners") runners = field;
    }
    if (auto elements = regulators ? read_array(*regulators) : std::nullopt) {
        definition.has_regulators = true;
        for (element item : *elements)
            if (auto text = read_string(item)) definition.regulators.push_back(*text);
    }
    if (auto elements = runners ? read_array(*runners) : std::nullopt) {
        definition.has_runners = true;
        for (element item : *elements) read_definition_runner(item, definition.runners.emplace_back());
    }
}

// Back to the empty record, keeping the capacity of its vectors and storage.
void reset(MarketChangeRecord& record) {
    auto runner_changes = std::move(record.runner_changes);
    auto runners = std::move(record.definition.runners);
    auto regulators = std::move(record.definition.regulators);
    auto pair_storage = std::move(record.pair_storage);
    record = MarketChangeRecord{};
    runner_changes.clear();
    runners.clear();
    regulators.clear();
    pair_storage.clear();
    record.runner_changes = std::move(runner_changes);
    record.definition.runners = std::move(runners);
    record.definition.regulators = std::move(regulators);
    record.pair_storage = std::move(pair_storage);
}

}  // namespace

void read_market_change(element value, MarketChangeRecord& record) {
    reset(record);
    auto members = read_object(value);
    if (!members) return;
    record.is_object = true;
    std::optional<element> definition, runner_changes;
    for (auto [key, field] : *members) {
        if (key == "rc") runner_changes = field;
        else if (key == "id") record.id = read_non_empty_string(field);
        else if (key == "img") record.image = read_boolean(field).value_or(false);
        else if (key == "marketDefinition") definition = field;
        else if (key == "status") record.status = read_string(field);
        else if (key == "betDelay") record.bet_delay = read_integer(field);
        else if (key == "bspReconciled") record.bsp_reconciled = read_boolean(field);
        else if (key == "complete") record.complete = read_boolean(field);
        else if (key == "crossMatching") record.cross_matching = read_boolean(field);
        else if (key == "inPlay") record.in_play = read_boolean(field);
        else if (key == "runnersVoidable") record.runners_voidable = read_boolean(field);
        else if (key == "tv") record.total_matched = read_number(field);
        else if (key == "version") record.version = read_integer(field);
        else if (key == "lastMatchTime") record.last_match_time = read_integer(field);
    }
    if (definition) {
        if (auto definition_members = read_object(*definition)) {
            record.definition_kind = MarketChangeRecord::Definition::Object;
            read_definition(*definition_members, record.definition);
        } else {
            record.definition_kind = MarketChangeRecord::Definition::NotObject;
        }
    }
    if (auto elements = runner_changes ? read_array(*runner_changes) : std::nullopt) {
        record.has_runner_changes = true;
        for (element item : *elements) {
            if (!read_runner_change(item, record.runner_changes.emplace_back(), record.pair_storage))
                record.runner_changes.pop_back();
        }
    }
}

}  // namespace quorvane::cache
