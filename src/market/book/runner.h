// Runner: one runner of a book, rebuilt only when its record changed.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "binding/instance.h"
#include "binding/py_ref.h"
#include "market/book/starting_prices.h"

namespace quorvane::book {

struct Runner {
    std::int64_t selection_id;
    double handicap;  // as received, not the rounded key
    std::optional<double> adjustment_factor;
    std::optional<double> last_price_traded;
    double total_matched;
    binding::PyRef status;  // a str, made once with the Runner
    std::optional<std::string> removal_date;
    binding::PyRef ex;      // ExchangePrices
    StartingPrices sp;
};

}  // namespace quorvane::book

// Rebuilt for every runner a message changes.
template <>
inline constexpr std::size_t quorvane::binding::spare_instances<quorvane::book::Runner> = 256;

namespace quorvane::book {

PyTypeObject* runner_type();

binding::PyRef new_runner(Runner runner);

// The str for a runner status. The exchange's own statuses are made once and
// shared by every Runner showing them, sparing a new str per Runner built.
binding::PyRef runner_status(std::string_view status);

}  // namespace quorvane::book
