// MarketDefinition: a frozen copy of the market's definition fields, built
// when a new definition has been applied and shared by the books until the
// next one.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/cache/market_state.h"
#include "extension/binding/py_ref.h"

namespace quorvane::definition {

struct MarketDefinition {
    std::optional<std::string> event_id;
    std::optional<std::string> event_type_id;
    std::optional<std::string> event_name;
    std::optional<std::string> market_type;
    std::optional<std::string> country_code;
    std::optional<std::string> venue;
    std::optional<std::string> race_type;
    std::optional<std::string> name;
    std::optional<std::string> timezone;
    std::optional<std::string> betting_type;
    std::vector<std::string> regulators;
    binding::PyRef runners;  // list of MarketDefinitionRunner
    // datetime objects; none for an absent time.
    binding::PyRef market_time;
    binding::PyRef open_date;
    binding::PyRef suspend_time;
    binding::PyRef settled_time;
    bool bsp_market;
    bool persistence_enabled;
    std::optional<double> each_way_divisor;
    bool turn_in_play_enabled;
    bool discount_allowed;
    double market_base_rate;
    std::int32_t bet_delay;
    std::int32_t number_of_winners;
    std::int32_t number_of_active_runners;
    bool bsp_reconciled;
    bool complete;
    bool cross_matching;
    bool in_play;
    bool runners_voidable;
    std::string status;
    std::int64_t version;
    // The times as received, for the dictionary export.
    std::optional<std::string> market_time_text;
    std::optional<std::string> open_date_text;
    std::optional<std::string> suspend_time_text;

    std::array<binding::PyRef*, 1> references() { return {&runners}; }
};

PyTypeObject* market_definition_type();

// Throws binding::PythonError when a time text matches neither format.
binding::PyRef build_market_definition(const cache::MarketState& state);

}  // namespace quorvane::definition
