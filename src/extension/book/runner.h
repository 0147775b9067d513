// Runner: one runner of a book, rebuilt only when its record changed.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "extension/binding/instance.h"
#include "extension/binding/py_ref.h"
#include "extension/book/starting_prices.h"

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

    std::array<binding::PyRef*, 1> references() { return {&ex}; }
};

}  // namespace quorvane::book

// Rebuilt for every runner a message changes.
template <>
inline constexpr std::size_t quorvane::binding::spare_instances<quorvane::book::Runner> = 256;

namespace quorvane::book {

PyTypeObject* runner_type();

binding::PyRef new_runner(Runner runner);

}  // namespace quorvane::book
