// An owning handle for one Python reference. Every reference the module
// holds lives in one, so error paths release by construction.
#pragma once

#include <Python.h>

#include <utility>

namespace quorvane::binding {

class PyRef {
public:
    PyRef() noexcept = default;

    // Takes over a reference the caller owns (a "new reference").
    static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
    // Adds a reference of its own to one the caller only borrows.
    static PyRef borrow(PyObject* object) noexcept { return PyRef(Py_XNewRef(object)); }

    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        PyRef(std::move(other)).swap(*this);
        return *this;
    }
    // Copies are spelled out (copy()) so that no reference count moves unseen.
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    ~PyRef() { Py_XDECREF(object_); }

    PyRef copy() const noexcept { return borrow(object_); }

    // Hands the reference to the caller, for returning to the interpreter.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    void reset() noexcept { PyRef().swap(*this); }
    void swap(PyRef& other) noexcept { std::swap(object_, other.object_); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    explicit PyRef(PyObject* object) noexcept : object_(object) {}

    PyObject* object_ = nullptr;
};

}  // namespace quorvane::binding
