// StartingPrices: a runner's starting-price fields. The Runner holds them by
// value and makes a new StartingPrices object at every read of `sp`.
#pragma once

#include <Python.h>

#include <cstddef>

#include "core/cache/sp_value.h"
#include "extension/binding/instance.h"
#include "extension/binding/py_ref.h"

namespace quorvane::book {

// The two ladders are snapshots (ladder_snapshot.h), read as new lists.
struct StartingPrices {
    binding::PyRef back_stake_taken;     // from "spl", lowest price first
    binding::PyRef lay_liability_taken;  // from "spb", highest price first
    cache::SpValue near_price;
    cache::SpValue far_price;
    cache::SpValue actual_sp;

    StartingPrices copy() const {
        return {back_stake_taken.copy(), lay_liability_taken.copy(), near_price, far_price, actual_sp};
    }
};

}  // namespace quorvane::book

// Made anew at every read of Runner.sp.
template <>
inline constexpr std::size_t quorvane::binding::spare_instances<quorvane::book::StartingPrices> = 64;

namespace quorvane::book {

PyTypeObject* starting_prices_type();

binding::PyRef new_starting_prices(const StartingPrices& prices);

}  // namespace quorvane::book
