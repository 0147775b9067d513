// A Python object that carries one C++ value: the value is constructed in
// place when the object is allocated and destroyed in tp_dealloc.
#pragma once

#include <Python.h>

#include <cstddef>
#include <new>
#include <utility>

#include "extension/binding/errors.h"
#include "extension/binding/free_list.h"
#include "extension/binding/py_ref.h"

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

// How many dead instances of a class keep their block for the next one:
// none, unless the class is made and dropped many times per step.
template <class T>
inline constexpr std::size_t spare_instances = 0;

template <class T>
FreeList<spare_instances<T>>& spare_blocks() noexcept {
    static FreeList<spare_instances<T>> blocks;
    return blocks;
}

// A new instance of `type` holding T(args...). Failing to allocate it is an
// internal fault.
template <class T, class... Args>
PyRef create(PyTypeObject* type, Args&&... args) {
    PyObject* self = spare_blocks<T>().take(type);
    if (!self) self = type->tp_alloc(type, 0);
    if (!self) panic();
    try {
        new (&reinterpret_cast<Instance<T>*>(self)->value) T(std::forward<Args>(args)...);
    } catch (...) {
        // No value to destroy yet: undo the allocation alone.
        if (!spare_blocks<T>().keep(self)) type->tp_free(self);
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
    if (!spare_blocks<T>().keep(self)) type->tp_free(self);
    Py_DECREF(type);  // instances of heap types own a reference to their type
}

}  // namespace quorvane::binding
