// MarketDefinitionRunner: a copy of one runner entry of a market definition.
#pragma once

#include <Python.h>

#include "core/cache/definition_runner.h"
#include "extension/binding/py_ref.h"

namespace quorvane::definition {

PyTypeObject* market_definition_runner_type();

binding::PyRef build_definition_runner(const cache::DefinitionRunner& entry);

}  // namespace quorvane::definition
