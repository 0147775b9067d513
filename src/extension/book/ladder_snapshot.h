// A ladder's levels as they stood when its runner was rebuilt, kept in the
// cache's slot until the ladder changes. An exchange ladder's PriceSize list
// is made from them on the first read and then kept, so every book sharing
// the snapshot hands out the identical list. Most ladders of a replay are
// never read: they cost a copy of their pairs, not a list of objects. The
// snapshot itself never reaches Python code.
#pragma once

#include <Python.h>

#include <span>

#include "core/cache/market_change_record.h"
#include "core/cache/price_levels.h"
#include "extension/binding/py_ref.h"

namespace quorvane::book {

PyTypeObject* ladder_snapshot_type();

// The levels copied from `levels`, to be read out highest price first when
// `descending`, lowest first otherwise.
binding::PyRef new_ladder_snapshot(const cache::PriceLevels& levels, bool descending);

// The levels in reading order.
std::span<const cache::PricePair> snapshot_pairs(PyObject* snapshot);
// The PriceSize list, made on the first call; a new reference.
binding::PyRef snapshot_list(PyObject* snapshot);
// The list if a read has made it (Python may have changed it since), else null.
PyObject* made_snapshot_list(PyObject* snapshot);

}  // namespace quorvane::book
