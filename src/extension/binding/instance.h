// A Python object that carries one C++ value: the value is constructed in
// place when the object is allocated and destroyed in tp_dealloc.
#pragma once

#include <Python.h>

#include <cstddef>
#include <new>
#include <ranges>
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

// A value that owns references through which Python code can reach a list it
// may change (and so lead back to the value's own object) names them in
// references(), an array of PyRef pointers. Its class takes part in cyclic
// garbage collection, with Py_TPFLAGS_HAVE_GC, traverse<T> and clear<T>.
template <class T>
concept Collectable = requires(T& value) {
    { value.references() } -> std::ranges::range;
};

// tp_traverse of a class whose instances hold a Collectable T.
template <Collectable T>
int traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    Py_VISIT(Py_TYPE(self));  // instances of heap types own a reference to their type
    for (PyRef* reference : value_of<T>(self).references()) Py_VISIT(reference->get());
    return 0;
}

// tp_clear of a class whose instances hold a Collectable T. Readers take a
// cleared reference for None.
template <Collectable T>
int clear(PyObject* self) noexcept {
    for (PyRef* reference : value_of<T>(self).references()) reference->reset();
    return 0;
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
        if constexpr (Collectable<T>) {
            if (PyObject_GC_IsTracked(self)) PyObject_GC_UnTrack(self);
        }
        if (!spare_blocks<T>().keep(self)) type->tp_free(self);
        Py_DECREF(type);
        throw;
    }
    // A new block comes tracked (zeroed, so traversable), a kept one not.
    if constexpr (Collectable<T>) {
        if (!PyObject_GC_IsTracked(self)) PyObject_GC_Track(self);
    }
    return PyRef::steal(self);
}

// tp_dealloc of a class whose instances hold a T.
template <class T>
void dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    if constexpr (Collectable<T>) PyObject_GC_UnTrack(self);  // no traversal of a value being destroyed
    value_of<T>(self).~T();
    if (!spare_blocks<T>().keep(self)) type->tp_free(self);
    Py_DECREF(type);  // instances of heap types own a reference to their type
}

}  // namespace quorvane::binding
