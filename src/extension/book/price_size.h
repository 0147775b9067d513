// PriceSize: one price level of a ladder as Python sees it.
#pragma once

#include <Python.h>

#include <cstddef>
#include <span>
#include <string>

#include "core/cache/market_change_record.h"
#include "extension/binding/instance.h"
#include "extension/binding/py_ref.h"

namespace quorvane::book {

struct PriceSize {
    double price;
    double size;
};

}  // namespace quorvane::book

// A long ladder holds a few hundred levels; dropping its list frees them all.
template <>
inline constexpr std::size_t quorvane::binding::spare_instances<quorvane::book::PriceSize> = 4096;

namespace quorvane::book {

PyTypeObject* price_size_type();

// A new list of new PriceSize objects, one per pair, in order.
binding::PyRef new_price_size_list(std::span<const cache::PricePair> pairs);

// The shortest positional digits that read back as `value`: no exponent, no
// ".0" on whole numbers; "NaN", "inf" and "-inf" for the special values.
std::string format_number(double value);

}  // namespace quorvane::book
