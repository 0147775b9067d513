#include "extension/binding/heap_type.h"

#include "extension/binding/errors.h"

namespace quorvane::binding {

PyTypeObject* HeapType::get() {
    if (!type_) {
        // Owned for the process: the reference is never given back.
        type_ = reinterpret_cast<PyTypeObject*>(check(PyType_FromSpec(spec_)).release());
    }
    return type_;
}

PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) noexcept {
    PyRef name = PyRef::steal(PyType_GetName(type));
    if (name) PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name.get());
    return nullptr;
}

}  // namespace quorvane::binding
