// Plain values to new Python objects, and the getters built from them. A
// value object the interpreter cannot create is an internal fault (panic).
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/cache/sp_value.h"
#include "extension/binding/borrow_guard.h"
#include "extension/binding/errors.h"
#include "extension/binding/instance.h"
#include "extension/binding/py_ref.h"

namespace quorvane::binding {

using binding::PyRef;

inline PyRef to_python(bool value) { return PyRef::borrow(value ? Py_True : Py_False); }
inline PyRef to_python(std::int32_t value) { return binding::created(PyLong_FromLong(value)); }
inline PyRef to_python(std::int64_t value) { return binding::created(PyLong_FromLongLong(value)); }
inline PyRef to_python(double value) { return binding::created(PyFloat_FromDouble(value)); }
inline PyRef to_python(std::string_view text) {
    return binding::created(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}
inline PyRef to_python(const std::string& text) { return to_python(std::string_view(text)); }
// A stored object: the same object on every read; none stored reads as None.
inline PyRef to_python(const PyRef& object) { return PyRef::borrow(object ? object.get() : Py_None); }

template <class T>
PyRef to_python(const std::optional<T>& value) {
    return value ? to_python(*value) : PyRef::borrow(Py_None);
}

inline PyRef to_python(const cache::SpValue& value) {
    switch (value.kind()) {
    case cache::SpValue::Kind::Number: return to_python(value.number());
    case cache::SpValue::Kind::Text: return to_python(value.text());
    case cache::SpValue::Kind::Absent: break;
    }
    return PyRef::borrow(Py_None);
}

// A new list of new str, so changing it changes nothing stored.
inline PyRef to_python(const std::vector<std::string>& texts) {
    PyRef list = binding::created(PyList_New(static_cast<Py_ssize_t>(texts.size())));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), to_python(texts[i]).release());
    }
    return list;
}

template <class T>
struct MemberOf;
template <class Object, class Value>
struct MemberOf<Value Object::*> {
    using object = Object;
};

// Objects that Python can change carry a borrow flag; reading one takes a
// shared borrow for the duration of the read.
template <class Object>
concept Borrowable = requires(Object& object) { object.borrow_flag; };

template <class Object, class Read>
PyObject* read(PyObject* self, Read&& read_value) noexcept {
    return binding::boundary<PyObject*>(nullptr, [&] {
        Object& object = binding::value_of<Object>(self);
        if constexpr (Borrowable<Object>) {
            binding::SharedBorrow borrow(object.borrow_flag);
            return read_value(object).release();
        } else {
            return read_value(object).release();
        }
    });
}

// The getter of one stored field.
template <auto Member>
PyObject* get(PyObject* self, void*) noexcept {
    using Object = typename MemberOf<decltype(Member)>::object;
    return read<Object>(self, [](const Object& object) { return to_python(object.*Member); });
}

inline PyObject* get_none(PyObject*, void*) noexcept { return Py_NewRef(Py_None); }
inline PyObject* get_true(PyObject*, void*) noexcept { return Py_NewRef(Py_True); }

// Read-only attribute entries for a PyGetSetDef table.
inline constexpr PyGetSetDef attribute(const char* name, getter read, const char* doc = nullptr) {
    return {name, read, nullptr, doc, nullptr};
}
template <auto Member>
constexpr PyGetSetDef field(const char* name, const char* doc = nullptr) {
    return attribute(name, &get<Member>, doc);
}
inline constexpr PyGetSetDef none_attribute(const char* name) { return attribute(name, &get_none); }

}  // namespace quorvane::binding
