// How failures travel between C++ and the interpreter. Inside the module a
// failed interpreter call becomes a thrown PythonError (the Python exception
// stays set); at every entry point boundary() turns whatever was thrown back
// into a set Python exception and the slot's error value.
#pragma once

#include <Python.h>

#include <string>
#include <string_view>
#include <utility>

#include "extension/binding/py_ref.h"

namespace quorvane::binding {

// The Python exception is set; unwind to the boundary.
struct PythonError {};

// Throws PythonError, first setting SystemError when the interpreter
// reported a failure without an exception.
[[noreturn]] void throw_pending_error();
[[noreturn]] void throw_error(PyObject* exception_type, const std::string& message);

// Owns the result of an interpreter call that may fail with an exception.
PyRef check(PyObject* new_reference);
// Owns a value object the interpreter had to create; failing to is an
// internal fault (only exhausted memory gets there).
PyRef created(PyObject* new_reference);

// PanicException, created on first use; nullptr with the error set if it
// cannot be made.
PyObject* panic_exception_type() noexcept;
// Prints the pending error, if any, and raises PanicException(message).
void set_panic(const std::string& message) noexcept;
[[noreturn]] void panic(const std::string& message = "Python API call failed");

// "'T' object cannot be converted to 'TARGET'", T the qualified name of the
// object's type.
std::string conversion_message(PyObject* object, std::string_view target);
// TypeError "argument 'NAME': " followed by the conversion message.
[[noreturn]] void throw_argument_error(std::string_view argument, PyObject* object,
                                       std::string_view target);

// Sets the Python exception for the C++ exception being handled; call it
// only inside a catch block.
void translate_current_exception() noexcept;

// Runs an entry point's body so that no C++ exception reaches the interpreter.
template <class Result, class Body>
Result boundary(Result on_error, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        translate_current_exception();
        return on_error;
    }
}

}  // namespace quorvane::binding
