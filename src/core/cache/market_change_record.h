// The typed form of one market change, as the readings produce it from a
// parsed line and as the cache applies it. Every key is optional; a key whose
// value had the wrong JSON kind is already absent here. Texts and price pairs
// are views: texts point into the parsed line or the store the record was
// decoded from, price pairs into the record's own pair_storage (copying a
// record copies the views, not what they point to).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/cache/price_pair_pool.h"

namespace quorvane::cache {

using PricePairs = std::span<const PricePair>;

// "spn", "spf" and a definition runner's "bsp": the key may be missing, or
// present with a number, a text or any other kind (which clears the value).
struct SpInput {
    enum class Kind : std::uint8_t { Missing, Number, Text, Other };
    Kind kind = Kind::Missing;
    double number = 0.0;
    std::string_view text;

    bool present() const { return kind != Kind::Missing; }
};

// One element of a definition's "runners". Every element yields one, even
// one that is not an object (is_object false, every field absent).
struct DefinitionRunnerRecord {
    bool is_object = false;
    std::optional<std::int64_t> id;
    std::optional<double> hc;
    std::optional<std::int64_t> sort_priority;
    std::optional<std::string_view> status;
    std::optional<std::string_view> name;
    std::optional<double> adjustment_factor;
    std::optional<std::string_view> removal_date;
    SpInput bsp;
};

struct MarketDefinitionRecord {
    std::optional<std::string_view> status;
    std::optional<std::int64_t> bet_delay;
    std::optional<bool> bsp_reconciled;
    std::optional<bool> complete;
    std::optional<bool> cross_matching;
    std::optional<bool> in_play;
    std::optional<bool> runners_voidable;
    std::optional<std::int64_t> number_of_winners;
    std::optional<std::string_view> event_id;
    std::optional<std::string_view> event_type_id;
    std::optional<std::string_view> event_name;
    std::optional<std::string_view> market_type;
    std::optional<std::string_view> market_time;
    std::optional<std::string_view> country_code;
    std::optional<std::string_view> venue;
    std::optional<std::string_view> race_type;
    std::optional<bool> bsp_market;
    std::optional<bool> persistence_enabled;
    std::optional<double> each_way_divisor;
    std::optional<std::string_view> timezone;
    std::optional<bool> turn_in_play_enabled;
    std::optional<std::string_view> betting_type;
    std::optional<std::string_view> name;
    std::optional<bool> discount_allowed;
    std::optional<double> market_base_rate;
    bool has_regulators = false;                // "regulators" was an array
    std::vector<std::string_view> regulators;   // its string elements, in order
    std::optional<std::string_view> open_date;
    std::optional<std::string_view> suspend_time;
    std::optional<std::string_view> settled_time;
    std::optional<std::int64_t> version;
    bool has_runners = false;                   // "runners" was an array
    std::vector<DefinitionRunnerRecord> runners;
};

// One element of "rc" whose "id" read as an integer; other elements are
// dropped when the line is read.
struct RunnerChangeRecord {
    // User-provided: a vector that grows then value-initializes each new
    // record through this constructor, without first zeroing all its bytes.
    RunnerChangeRecord() {}

    std::int64_t id = 0;
    double hc = 0.0;  // 0.0 when absent or not a number
    std::optional<std::string_view> status;
    std::optional<double> adjustment_factor;
    std::optional<double> last_price_traded;  // "ltp"
    std::optional<double> total_matched;      // "tv"
    std::optional<std::string_view> removal_date;
    std::optional<PricePairs> starting_price_back;  // "spb"
    std::optional<PricePairs> starting_price_lay;   // "spl"
    std::optional<PricePairs> available_to_back;    // "atb"
    std::optional<PricePairs> available_to_lay;     // "atl"
    std::optional<PricePairs> traded_volume;        // "trd"
    SpInput near_price;                             // "spn"
    SpInput far_price;                              // "spf"
};

// A market change's own values, apart from its containers: a record read
// again is reset by one assignment of these.
struct MarketChangeValues {
    enum class Definition : std::uint8_t { Absent, NotObject, Object };

    bool is_object = false;             // a market change that is not an object only sets the publish time
    std::optional<std::string_view> id; // only a non-empty string
    bool image = false;                 // "img" was true
    Definition definition_kind = Definition::Absent;
    std::optional<std::string_view> status;
    std::optional<std::int64_t> bet_delay;
    std::optional<bool> bsp_reconciled;
    std::optional<bool> complete;
    std::optional<bool> cross_matching;
    std::optional<bool> in_play;
    std::optional<bool> runners_voidable;
    std::optional<double> total_matched;      // "tv"
    std::optional<std::int64_t> version;
    std::optional<std::int64_t> last_match_time;
    bool has_runner_changes = false;          // "rc" was an array
};

struct MarketChangeRecord : MarketChangeValues {
    MarketDefinitionRecord definition;  // meaningful when definition_kind is Object
    std::vector<RunnerChangeRecord> runner_changes;

    PricePairPool pair_storage;  // backs the price-pair views above
};

}  // namespace quorvane::cache
