// ExchangePrices: a runner's three ladders, shared with later books while
// the ladders do not change.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>

#include "extension/binding/instance.h"
#include "extension/binding/py_ref.h"

namespace quorvane::book {

// Each a ladder snapshot, read as its PriceSize list.
struct ExchangePrices {
    binding::PyRef available_to_back;  // highest price first
    binding::PyRef available_to_lay;   // lowest price first
    binding::PyRef traded_volume;      // lowest price first

    std::array<binding::PyRef*, 3> references() { return {&available_to_back, &available_to_lay, &traded_volume}; }
};

}  // namespace quorvane::book

// Made with every rebuilt Runner.
template <>
inline constexpr std::size_t quorvane::binding::spare_instances<quorvane::book::ExchangePrices> = 256;

namespace quorvane::book {

PyTypeObject* exchange_prices_type();

binding::PyRef new_exchange_prices(ExchangePrices lists);

}  // namespace quorvane::book
