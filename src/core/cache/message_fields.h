// The plain fields of the market-change records, each once: its key in a
// stream message, the record's member it fills, the reading that takes its
// value (market_change_reading.h) and the way the store encodes it
// (stored_messages.cpp). The reader's key dispatch and the store's field
// lists are generated from these lists, and the store checks its presence
// bits against them. Fields of a shape of their own (nested records, lists,
// "img", a runner change's "id" and "hc") are written out beside them.
//
// Each list is X(key, member, reading, encoding).
#pragma once

#define QUORVANE_DEFINITION_RUNNER_FIELDS(X)                 \
    X("id", id, integer, maybe)                              \
    X("hc", hc, number, maybe)                               \
    X("sortPriority", sort_priority, integer, maybe)         \
    X("status", status, string, maybe)                       \
    X("name", name, string, maybe)                           \
    X("adjustmentFactor", adjustment_factor, number, maybe)  \
    X("removalDate", removal_date, string, maybe)            \
    X("bsp", bsp, sp_input, sp_input)

#define QUORVANE_DEFINITION_FIELDS(X)                              \
    X("status", status, string, maybe)                             \
    X("betDelay", bet_delay, integer, maybe)                       \
    X("bspReconciled", bsp_reconciled, boolean, boolean)           \
    X("complete", complete, boolean, boolean)                      \
    X("crossMatching", cross_matching, boolean, boolean)           \
    X("inPlay", in_play, boolean, boolean)                         \
    X("runnersVoidable", runners_voidable, boolean, boolean)       \
    X("numberOfWinners", number_of_winners, integer, maybe)        \
    X("eventId", event_id, string, maybe)                          \
    X("eventTypeId", event_type_id, string, maybe)                 \
    X("eventName", event_name, string, maybe)                      \
    X("marketType", market_type, string, maybe)                    \
    X("marketTime", market_time, string, maybe)                    \
    X("countryCode", country_code, string, maybe)                  \
    X("venue", venue, string, maybe)                               \
    X("raceType", race_type, string, maybe)                        \
    X("bspMarket", bsp_market, boolean, boolean)                   \
    X("persistenceEnabled", persistence_enabled, boolean, boolean) \
    X("eachWayDivisor", each_way_divisor, number, maybe)           \
    X("timezone", timezone, string, maybe)                         \
    X("turnInPlayEnabled", turn_in_play_enabled, boolean, boolean) \
    X("bettingType", betting_type, string, maybe)                  \
    X("name", name, string, maybe)                                 \
    X("discountAllowed", discount_allowed, boolean, boolean)       \
    X("marketBaseRate", market_base_rate, number, maybe)           \
    X("openDate", open_date, string, maybe)                        \
    X("suspendTime", suspend_time, string, maybe)                  \
    X("settledTime", settled_time, string, maybe)                  \
    X("version", version, integer, maybe)

// The keys of nearly every runner change come first: the store's presence
// bits of these then fit the first byte of its mask.
#define QUORVANE_RUNNER_CHANGE_FIELDS(X)                     \
    X("atb", available_to_back, price_pairs, maybe)          \
    X("atl", available_to_lay, price_pairs, maybe)           \
    X("trd", traded_volume, price_pairs, maybe)              \
    X("ltp", last_price_traded, number, maybe)               \
    X("tv", total_matched, number, maybe)                    \
    X("status", status, string, maybe)                       \
    X("adjustmentFactor", adjustment_factor, number, maybe)  \
    X("removalDate", removal_date, string, maybe)            \
    X("spb", starting_price_back, price_pairs, maybe)        \
    X("spl", starting_price_lay, price_pairs, maybe)         \
    X("spn", near_price, sp_input, sp_input)                 \
    X("spf", far_price, sp_input, sp_input)

#define QUORVANE_MARKET_CHANGE_FIELDS(X)                      \
    X("id", id, non_empty_string, maybe)                      \
    X("status", status, string, maybe)                        \
    X("betDelay", bet_delay, integer, maybe)                  \
    X("bspReconciled", bsp_reconciled, boolean, boolean)      \
    X("complete", complete, boolean, boolean)                 \
    X("crossMatching", cross_matching, boolean, boolean)      \
    X("inPlay", in_play, boolean, boolean)                    \
    X("runnersVoidable", runners_voidable, boolean, boolean)  \
    X("tv", total_matched, number, maybe)                     \
    X("version", version, integer, maybe)                     \
    X("lastMatchTime", last_match_time, integer, maybe)

// The number of fields of a list: QUORVANE_FIELD_COUNT(QUORVANE_..._FIELDS).
#define QUORVANE_COUNT_ONE(key, member, reading, encoding) +1
#define QUORVANE_FIELD_COUNT(LIST) (0 LIST(QUORVANE_COUNT_ONE))
