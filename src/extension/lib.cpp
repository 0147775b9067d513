// The module's initialisation and its entry point, iter_prices_file.
#include <Python.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "core/cache/object_slot.h"
#include "core/input/stream_error.h"
#include "core/input/stream_reader.h"
#include "core/texts/caller_texts.h"
#include "extension/binding/errors.h"
#include "extension/binding/heap_type.h"
#include "extension/binding/module.h"
#include "extension/binding/py_ref.h"
#include "extension/book/exchange_prices.h"
#include "extension/book/ladder_snapshot.h"
#include "extension/book/market_book.h"
#include "extension/book/price_size.h"
#include "extension/book/runner.h"
#include "extension/book/starting_prices.h"
#include "extension/definition/market_definition.h"
#include "extension/definition/market_definition_runner.h"
#include "extension/iterator/prices_iterator.h"

namespace quorvane {
namespace {

using binding::PyRef;

// The classes, in the order they are registered after iter_prices_file.
using TypeGetter = PyTypeObject* (*)();
constexpr TypeGetter registered_classes[] = {
    &input::prices_iterator_type,
    &book::market_book_type,
    &book::runner_type,
    &book::exchange_prices_type,
    &book::starting_prices_type,
    &book::price_size_type,
    &definition::market_definition_type,
    &definition::market_definition_runner_type,
};

// The cache's reuse slots hold one reference each to the objects built from it.
void release_python_object(void* object) { Py_DecRef(static_cast<PyObject*>(object)); }

// The one value that path may take: a str, borrowed from the call's arguments.
PyObject* path_argument(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (nargs > 1) {
        PyErr_Format(PyExc_TypeError,
                     "iter_prices_file() takes 1 positional arguments but %zd were given", nargs);
        throw binding::PythonError{};
    }
    PyObject* path = nargs == 1 ? args[0] : nullptr;
    const Py_ssize_t keywords = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t i = 0; i < keywords; ++i) {
        PyObject* name = PyTuple_GET_ITEM(kwnames, i);
        if (!PyUnicode_EqualToUTF8(name, "path")) {
            PyErr_Format(PyExc_TypeError,
                         "iter_prices_file() got an unexpected keyword argument '%U'", name);
            throw binding::PythonError{};
        }
        if (nargs == 1) {
            binding::throw_error(PyExc_TypeError,
                                 "iter_prices_file() got multiple values for argument 'path'");
        }
        path = args[nargs + i];
    }
    if (!path) {
        binding::throw_error(PyExc_TypeError,
                             "iter_prices_file() missing 1 required positional argument: 'path'");
    }
    if (!PyUnicode_Check(path)) binding::throw_argument_error("path", path, texts::str_target_type);
    return path;
}

// The message of a raised ValueError is fixed (callers match on it), so
// where the fault is goes into a note of its own: "while reading PATH", or
// "while reading line N of PATH" for a fault of a line.
[[noreturn]] void throw_noting_path(PyObject* path, std::size_t line_number) {
    PyRef error = PyRef::steal(PyErr_GetRaisedException());
    PyRef note = binding::check(line_number ? PyUnicode_FromFormat("while reading line %zu of %U", line_number, path)
                                            : PyUnicode_FromFormat("while reading %U", path));
    binding::check(PyObject_CallMethod(error.get(), "add_note", "O", note.get()));
    PyErr_SetRaisedException(error.release());
    throw binding::PythonError{};
}

// Every fault of the file reaches Python as ValueError with the reader's text.
cache::StoredMessages read_messages(PyObject* path, std::string_view utf8_path) {
    try {
        return input::read_stream_file(utf8_path);
    } catch (const input::StreamError& error) {
        PyErr_SetString(PyExc_ValueError, error.what());
        throw_noting_path(path, error.line_number());
    }
}

PyObject* iter_prices_file(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) noexcept {
    return binding::boundary<PyObject*>(nullptr, [&] {
        PyObject* path = path_argument(args, nargs, kwnames);
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(path, &size);
        if (!utf8) {
            // Lone surrogates: the encoder's own error, a ValueError too.
            if (!PyErr_ExceptionMatches(PyExc_ValueError)) binding::throw_pending_error();
            throw_noting_path(path, 0);
        }
        // The size, not a terminator: a NUL inside the path is the reader's to refuse.
        auto messages = read_messages(path, std::string_view(utf8, static_cast<std::size_t>(size)));
        return input::new_prices_iterator(std::move(messages)).release();
    });
}

// The function object points at this for the rest of the process.
PyMethodDef iter_prices_file_def = {
    "iter_prices_file",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&iter_prices_file)),
    METH_FASTCALL | METH_KEYWORDS,
    "iter_prices_file(path)\n--\n\n",
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "quorvane",
    "",       // __doc__ is the empty string, not None
    0,        // no per-module state
    nullptr,  // the function is added by the initialiser
    nullptr,  // single-phase initialisation: no slots
    nullptr,
    nullptr,
    nullptr,
};

std::atomic<std::int64_t> initialised_interpreter{-1};
PyObject* module_object = nullptr;  // owned for the life of the process

void register_function(PyObject* module) {
    PyRef module_name = binding::check(PyModule_GetNameObject(module));
    PyRef function =
        binding::check(PyCMethod_New(&iter_prices_file_def, module, module_name.get(), nullptr));
    PyRef name = binding::check(PyObject_GetAttrString(function.get(), "__name__"));
    if (!PyUnicode_Check(name.get())) {
        binding::throw_error(PyExc_TypeError, binding::conversion_message(name.get(), texts::str_target_type));
    }
    binding::add_to_module(module, name.get(), function.get());
}

PyObject* create_module() {
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    const std::int64_t id = PyInterpreterState_GetID(interpreter);
    if (id == -1) binding::throw_pending_error();

    std::int64_t expected = -1;
    if (!initialised_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        binding::throw_error(PyExc_ImportError, texts::subinterpreters_unsupported);
    }
    if (module_object) return Py_NewRef(module_object);

    PyRef module = binding::check(PyModule_Create2(&module_def, 1013));
    register_function(module.get());
    for (TypeGetter type : registered_classes) binding::add_class(module.get(), type());
    book::ladder_snapshot_type();  // internal: made now so that no step fails for it
    cache::ObjectSlot::set_release_hook(&release_python_object);
    module_object = module.copy().release();
    return module.release();
}

}  // namespace
}  // namespace quorvane

PyMODINIT_FUNC PyInit_quorvane() {
    return quorvane::binding::boundary<PyObject*>(nullptr, &quorvane::create_module);
}
