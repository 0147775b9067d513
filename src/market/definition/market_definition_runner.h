// MarketDefinitionRunner: a copy of one runner entry of a market definition.
#pragma once

#include <Python.h>

#include "binding/py_ref.h"
#include "market/cache/definition_runner.h"

namespace quorvane::definition {

PyTypeObject* market_definition_runner_type();

binding::PyRef build_definition_runner(const cache::DefinitionRunner& entry);

}  // namespace quorvane::definition
