// One runner record of the market cache.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/cache/object_slot.h"
#include "core/cache/price_ladder.h"
#include "core/cache/sp_value.h"

namespace quorvane::cache {

struct RunnerState {
    RunnerState(std::int64_t selection_id, double handicap)
        : selection_id(selection_id), handicap(handicap) {}

    std::int64_t selection_id;
    double handicap;  // unrounded, as the message that created the record gave it
    std::string status = "ACTIVE";
    std::optional<double> adjustment_factor;
    std::optional<std::string> removal_date;
    std::optional<double> last_price_traded;
    double total_matched = 0.0;
    PriceLadder available_to_back{/*descending=*/true};
    PriceLadder available_to_lay{/*descending=*/false};
    TradedLadder traded_volume;
    PriceLadder starting_price_back{/*descending=*/true};   // "spb"
    PriceLadder starting_price_lay{/*descending=*/false};   // "spl"
    SpValue near_price;
    SpValue far_price;
    SpValue bsp;
    std::uint64_t version = 0;  // raised by every update that changed the record

    // Objects the binding layer built from this record; released with it.
    ObjectSlot runner_object;
    ObjectSlot back_list;
    ObjectSlot lay_list;
    ObjectSlot traded_list;
    // The starting-price ladders as the last rebuilt runner took them.
    ObjectSlot starting_back_levels;
    ObjectSlot starting_lay_levels;
};

}  // namespace quorvane::cache
