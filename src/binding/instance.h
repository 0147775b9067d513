// A Python object that carries one C++ value: the value is constructed in
// place when the object is allocated and destroyed in tp_dealloc.
#pragma once

#include <Python.h>

#include <new>
#include <utility>

#include "binding/errors.h"
#include "binding/py_ref.h"

namespace quorvane::binding {

template <class T>
struct Instance {
    PyObject_HEAD
    T value;
};

template <class T>
T& value_of(PyObject* self) noexcept {
    return reinterpret_cast<Instance<T>*>(self)->value;
}

// A new instance of `type` holding T(args...). Failing to allocate it is an
// internal fault.
template <class T, class... Args>
PyRef create(PyTypeObject* type, Args&&... args) {
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) panic();
    try {
        new (&reinterpret_cast<Instance<T>*>(self)->value) T(std::forward<Args>(args)...);
    } catch (...) {
        // No value to destroy yet: undo the allocation alone.
        type->tp_free(self);
        Py_DECREF(type);
        throw;
    }
    return PyRef::steal(self);
}

// tp_dealloc of a class whose instances hold a T.
template <class T>
void dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    value_of<T>(self).~T();
    type->tp_free(self);
    Py_DECREF(type);  // instances of heap types own a reference to their type
}

}  // namespace quorvane::binding
