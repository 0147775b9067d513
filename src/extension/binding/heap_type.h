// The type object of one class, created from its PyType_Spec on first use
// and kept for the life of the process. Every spec is named by
// texts::TypeName and uses no_constructor as its tp_new.
#pragma once

#include <Python.h>

namespace quorvane::binding {

class HeapType {
public:
    explicit constexpr HeapType(PyType_Spec& spec) noexcept : spec_(&spec) {}

    // Throws PythonError when the type cannot be created.
    PyTypeObject* get();

private:
    PyType_Spec* spec_;
    PyTypeObject* type_ = nullptr;
};

// tp_new of every class: instances are only made by the module itself.
PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept;

}  // namespace quorvane::binding
