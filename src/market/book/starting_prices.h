// StartingPrices: a runner's starting-price fields. The Runner holds them by
// value and makes a new StartingPrices object at every read of `sp`.
#pragma once

#include <Python.h>

#include <vector>

#include "binding/py_ref.h"
#include "market/cache/market_change_record.h"
#include "market/cache/sp_value.h"

namespace quorvane::book {

struct StartingPrices {
    std::vector<cache::PricePair> back_stake_taken;     // from "spl", lowest price first
    std::vector<cache::PricePair> lay_liability_taken;  // from "spb", highest price first
    cache::SpValue near_price;
    cache::SpValue far_price;
    cache::SpValue actual_sp;
};

PyTypeObject* starting_prices_type();

binding::PyRef new_starting_prices(const StartingPrices& prices);

}  // namespace quorvane::book
