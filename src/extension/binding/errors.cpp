#include "core/texts/caller_texts.h"
#include "extension/binding/errors.h"

#include <exception>
#include <new>

namespace quorvane::binding {
namespace {

constexpr const char* unknown_type_name = "<failed to extract type name>";

void ensure_error_set() noexcept {
    if (!PyErr_Occurred()) {
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
}

std::string qualified_type_name(PyObject* object) {
    PyRef name = PyRef::steal(PyType_GetQualName(Py_TYPE(object)));
    Py_ssize_t size = 0;
    const char* text = name ? PyUnicode_AsUTF8AndSize(name.get(), &size) : nullptr;
    if (!text) {
        // A name that cannot be read (or holds lone surrogates) is no reason
        // to lose the conversion error itself.
        PyErr_Clear();
        return unknown_type_name;
    }
    return std::string(text, static_cast<std::size_t>(size));
}

}  // namespace

void throw_pending_error() {
    ensure_error_set();
    throw PythonError{};
}

void throw_error(PyObject* exception_type, const std::string& message) {
    PyErr_SetString(exception_type, message.c_str());
    throw PythonError{};
}

PyRef check(PyObject* new_reference) {
    if (!new_reference) throw_pending_error();
    return PyRef::steal(new_reference);
}

PyRef created(PyObject* new_reference) {
    if (!new_reference) panic();
    return PyRef::steal(new_reference);
}

PyObject* panic_exception_type() noexcept {
    // Kept for the life of the process, like the module's own types.
    static PyObject* type = nullptr;
    if (!type) {
        type = PyErr_NewExceptionWithDoc(
            texts::panic_exception_name,
            "Raised when quorvane meets an internal fault it cannot recover from, such as "
            "the interpreter failing to create a value.\n\n"
            "It derives from BaseException so that `except Exception` does not swallow it.",
            PyExc_BaseException, nullptr);
    }
    return type;
}

void set_panic(const std::string& message) noexcept {
    if (PyErr_Occurred()) PyErr_Print();
    if (PyObject* type = panic_exception_type()) PyErr_SetString(type, message.c_str());
}

void panic(const std::string& message) {
    set_panic(message);
    throw PythonError{};
}

std::string conversion_message(PyObject* object, std::string_view target) {
    std::string message = "'";
    message += qualified_type_name(object);
    message += "' object cannot be converted to '";
    message += target;
    message += "'";
    return message;
}

void throw_argument_error(std::string_view argument, PyObject* object, std::string_view target) {
    std::string message = "argument '";
    message += argument;
    message += "': ";
    message += conversion_message(object, target);
    throw_error(PyExc_TypeError, message);
}

void translate_current_exception() noexcept {
    try {
        throw;
    } catch (const PythonError&) {
        ensure_error_set();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        set_panic(error.what());
    } catch (...) {
        set_panic("unknown C++ exception");
    }
}

}  // namespace quorvane::binding
