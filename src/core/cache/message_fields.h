// The plain fields of the market-change records, each once: its key in a
// stream message, the record's member it fills, the reading that takes its
// value and the way the store encodes it (record_layout.h). The readings'
// key dispatch and the store's layouts are generated from these lists.
// Fields of a shape of their own (nested records, lists, "img", the ids, a
// runner change's "hc") are written out beside them.
//
// Each list is X(key, member, reading, encoding).
#pragma once

// The lists follow the order in which the exchange writes the keys, as far
// as a short mask allows: the store then finds a record's payloads in place
// (record_writer.h).

#define QUORVANE_DEFINITION_RUNNER_FIELDS(X)                 \
    X("adjustmentFactor", adjustment_factor, number, maybe)  \
    X("status", status, string, maybe)                       \
    X("sortPriority", sort_priority, integer, maybe)         \
    X("removalDate", removal_date, string, maybe)            \
    X("bsp", bsp, sp_input, sp_input)                        \
    X("id", id, integer, maybe)                              \
    X("hc", hc, number, maybe)                               \
    X("name", name, string, maybe)

// A definition's "runners" and "regulators" come between these two lists.
#define QUORVANE_DEFINITION_HEAD_FIELDS(X)                         \
    X("bspMarket", bsp_market, boolean, boolean)                   \
    X("turnInPlayEnabled", turn_in_play_enabled, boolean, boolean) \
    X("persistenceEnabled", persistence_enabled, boolean, boolean) \
    X("marketBaseRate", market_base_rate, number, maybe)           \
    X("eventId", event_id, string, maybe)                          \
    X("eventTypeId", event_type_id, string, maybe)                 \
    X("numberOfWinners", number_of_winners, integer, maybe)        \
    X("bettingType", betting_type, string, maybe)                  \
    X("marketType", market_type, string, maybe)                    \
    X("marketTime", market_time, string, maybe)                    \
    X("suspendTime", suspend_time, string, maybe)                  \
    X("bspReconciled", bsp_reconciled, boolean, boolean)           \
    X("complete", complete, boolean, boolean)                      \
    X("inPlay", in_play, boolean, boolean)                         \
    X("crossMatching", cross_matching, boolean, boolean)           \
    X("runnersVoidable", runners_voidable, boolean, boolean)       \
    X("betDelay", bet_delay, integer, maybe)                       \
    X("status", status, string, maybe)

#define QUORVANE_DEFINITION_TAIL_FIELDS(X)                \
    X("venue", venue, string, maybe)                      \
    X("countryCode", country_code, string, maybe)         \
    X("discountAllowed", discount_allowed, boolean, boolean) \
    X("timezone", timezone, string, maybe)                \
    X("openDate", open_date, string, maybe)               \
    X("version", version, integer, maybe)                 \
    X("name", name, string, maybe)                        \
    X("eventName", event_name, string, maybe)             \
    X("raceType", race_type, string, maybe)               \
    X("eachWayDivisor", each_way_divisor, number, maybe)  \
    X("settledTime", settled_time, string, maybe)

#define QUORVANE_DEFINITION_FIELDS(X) QUORVANE_DEFINITION_HEAD_FIELDS(X) QUORVANE_DEFINITION_TAIL_FIELDS(X)

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

// "tv" first: with "id" and "rc" its presence bit still fits the first byte
// of the store's mask.
#define QUORVANE_MARKET_CHANGE_FIELDS(X)                      \
    X("tv", total_matched, number, maybe)                     \
    X("status", status, string, maybe)                        \
    X("betDelay", bet_delay, integer, maybe)                  \
    X("bspReconciled", bsp_reconciled, boolean, boolean)      \
    X("complete", complete, boolean, boolean)                 \
    X("crossMatching", cross_matching, boolean, boolean)      \
    X("inPlay", in_play, boolean, boolean)                    \
    X("runnersVoidable", runners_voidable, boolean, boolean)  \
    X("version", version, integer, maybe)                     \
    X("lastMatchTime", last_match_time, integer, maybe)

// The number of fields of a list: QUORVANE_FIELD_COUNT(QUORVANE_..._FIELDS).
#define QUORVANE_COUNT_ONE(key, member, reading, encoding) +1
#define QUORVANE_FIELD_COUNT(LIST) (0 LIST(QUORVANE_COUNT_ONE))
