// The whole cached state of the one market an iterator follows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/cache/definition_runner.h"
#include "core/cache/object_slot.h"
#include "core/cache/runner_table.h"

namespace quorvane::cache {

struct MarketState {
    explicit MarketState(std::string_view market_id) : market_id(market_id) {}

    std::string market_id;
    std::int64_t publish_time = 0;
    std::string status = "OPEN";
    std::int32_t bet_delay = 0;
    bool bsp_reconciled = false;
    bool complete = true;
    bool cross_matching = true;
    bool inplay = false;
    bool runners_voidable = false;
    std::int64_t version = 0;
    double total_matched = 0.0;
    std::optional<std::int64_t> last_match_time;
    std::int32_t number_of_winners = 1;
    // Derived from the runner table after every market change.
    std::int32_t number_of_runners = 0;
    std::int32_t number_of_active_runners = 0;

    std::optional<std::string> event_id;
    std::optional<std::string> event_type_id;
    std::optional<std::string> event_name;
    std::optional<std::string> market_type;
    std::optional<std::string> market_time;
    std::optional<std::string> country_code;
    std::optional<std::string> venue;
    std::optional<std::string> race_type;
    std::optional<std::string> name;
    std::optional<std::string> timezone;
    std::optional<std::string> betting_type;
    std::optional<std::string> open_date;
    std::optional<std::string> suspend_time;
    std::optional<std::string> settled_time;
    bool bsp_market = false;
    bool persistence_enabled = true;
    bool turn_in_play_enabled = false;
    bool discount_allowed = false;
    std::optional<double> each_way_divisor;
    double market_base_rate = 0.0;
    std::vector<std::string> regulators;
    std::vector<DefinitionRunner> runner_definitions;
    std::uint64_t definition_version = 0;  // raised once per "marketDefinition" key

    // Change it only through apply_market_change, which keeps the counts.
    RunnerTable runners;
    // Raised whenever records join or leave the table; while it holds, the
    // table's records stay where they are.
    std::uint64_t runner_table_version = 0;

    // The definition object built last, stamped with its definition_version.
    ObjectSlot definition_object;
};

}  // namespace quorvane::cache
