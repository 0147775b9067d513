// MarketBook: the snapshot one iterator step yields. Only Python changes it,
// through streaming_unique_id.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "extension/binding/borrow_flag.h"
#include "extension/binding/instance.h"
#include "extension/binding/py_ref.h"

namespace quorvane::book {

struct MarketBook {
    std::string market_id;
    std::string status;
    std::optional<std::int64_t> last_match_time;
    std::optional<std::int32_t> streaming_unique_id;  // absent when built
    binding::PyRef publish_time;                      // naive UTC datetime
    binding::PyRef runners;                           // list of Runner
    std::int64_t publish_time_epoch;                  // milliseconds
    double total_matched;
    std::int64_t version;
    binding::PyRef market_definition;                 // MarketDefinition, or none yet
    std::int32_t bet_delay;
    std::int32_t number_of_active_runners;
    std::int32_t number_of_runners;
    std::int32_t number_of_winners;
    bool bsp_reconciled;
    bool complete;
    bool cross_matching;
    bool inplay;
    bool runners_voidable;
    binding::BorrowFlag borrow_flag;

    std::array<binding::PyRef*, 2> references() { return {&runners, &market_definition}; }
};

}  // namespace quorvane::book

// One per step.
template <>
inline constexpr std::size_t quorvane::binding::spare_instances<quorvane::book::MarketBook> = 64;

namespace quorvane::book {

PyTypeObject* market_book_type();

binding::PyRef new_market_book(MarketBook book);

}  // namespace quorvane::book
