#include "extension/binding/module.h"

#include "extension/binding/errors.h"

namespace quorvane::binding {
namespace {

PyRef all_list(PyObject* module) {
    PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_pending_error();
        PyErr_Clear();
        all = created(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) throw_pending_error();
    }
    if (!PyList_Check(all.get())) throw_error(PyExc_TypeError, conversion_message(all.get(), "PyList"));
    return all;
}

}  // namespace

void add_to_module(PyObject* module, PyObject* name, PyObject* value) {
    PyRef all = all_list(module);
    if (PyList_Append(all.get(), name) < 0) throw_pending_error();
    if (PyObject_SetAttr(module, name, value) < 0) throw_pending_error();
}

void add_class(PyObject* module, PyTypeObject* type) {
    PyRef name = check(PyType_GetName(type));
    add_to_module(module, name.get(), reinterpret_cast<PyObject*>(type));
}

}  // namespace quorvane::binding
