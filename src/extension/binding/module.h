// Adding names to the module: each goes into __all__ in the order added, and
// becomes an attribute of the module.
#pragma once

#include <Python.h>

namespace quorvane::binding {

// Throws PythonError on failure.
void add_to_module(PyObject* module, PyObject* name, PyObject* value);
void add_class(PyObject* module, PyTypeObject* type);

}  // namespace quorvane::binding
