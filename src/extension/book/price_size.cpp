#include "extension/book/price_size.h"

#include <charconv>
#include <cmath>
#include <string_view>

#include "core/texts/caller_texts.h"
#include "extension/binding/errors.h"
#include "extension/binding/heap_type.h"
#include "extension/binding/instance.h"
#include "extension/binding/py_values.h"

namespace quorvane::book {
namespace {

using binding::PyRef;
using binding::field;
using binding::to_python;

PyObject* repr(PyObject* self) noexcept {
    return binding::boundary<PyObject*>(nullptr, [&] {
        const PriceSize& level = binding::value_of<PriceSize>(self);
        const std::string text =
            "PriceSize(price=" + format_number(level.price) + ", size=" + format_number(level.size) + ")";
        return to_python(text).release();
    });
}

PyObject* subscript(PyObject* self, PyObject* key) noexcept {
    return binding::boundary<PyObject*>(nullptr, [&] {
        if (!PyUnicode_Check(key)) binding::throw_argument_error("key", key, texts::str_target_type);
        const PriceSize& level = binding::value_of<PriceSize>(self);
        if (PyUnicode_EqualToUTF8(key, "price")) return to_python(level.price).release();
        if (PyUnicode_EqualToUTF8(key, "size")) return to_python(level.size).release();
        // The exact str, also for a str subclass.
        PyRef text = binding::check(PyUnicode_FromObject(key));
        PyErr_SetObject(PyExc_KeyError, text.get());
        throw binding::PythonError{};
    });
}

PyGetSetDef attributes[] = {
    field<&PriceSize::price>("price"),
    field<&PriceSize::size>("size"),
    {},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("A price/size pair in the order book")},
    {Py_tp_new, reinterpret_cast<void*>(&binding::no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&binding::dealloc<PriceSize>)},
    {Py_tp_repr, reinterpret_cast<void*>(&repr)},
    {Py_mp_subscript, reinterpret_cast<void*>(&subscript)},
    {Py_tp_getset, attributes},
    {0, nullptr},
};

constexpr texts::TypeName type_name("PriceSize");

PyType_Spec spec = {type_name.text, sizeof(binding::Instance<PriceSize>), 0, Py_TPFLAGS_DEFAULT, slots};

binding::HeapType type(spec);

}  // namespace

PyTypeObject* price_size_type() { return type.get(); }

binding::PyRef new_price_size_list(std::span<const cache::PricePair> pairs) {
    PyTypeObject* level_type = price_size_type();
    PyRef list = binding::created(PyList_New(static_cast<Py_ssize_t>(pairs.size())));
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i),
                        binding::create<PriceSize>(level_type, PriceSize{pairs[i].price, pairs[i].size}).release());
    }
    return list;
}

std::string format_number(double value) {
    if (std::isnan(value)) return "NaN";
    // Below 2^53 every digit of the integer part is needed, so the shortest
    // positional form is what to_chars writes. Above it the exact value has
    // more digits than it takes to read back: write the shortest digits and
    // pad them with zeros, so DBL_MAX ends in 292 zeros.
    constexpr double two_to_53 = 9007199254740992.0;
    if (std::fabs(value) < two_to_53 || std::isinf(value)) {
        // The longest positional form below 2^53 (5e-324) has 327 characters.
        char digits[400];
        const auto written = std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed);
        return std::string(digits, written.ptr);
    }
    char scientific[32];  // shortest digits: "-d.ddddde+ddd" at most
    const auto written = std::to_chars(scientific, scientific + sizeof scientific, value,
                                       std::chars_format::scientific);
    const std::string_view text(scientific, static_cast<std::size_t>(written.ptr - scientific));
    const std::size_t e = text.find('e');
    int exponent = 0;
    const char* exponent_text = text.data() + e + 1;
    std::from_chars(exponent_text + (*exponent_text == '+'), text.data() + text.size(), exponent);
    std::string out;
    int digit_count = 0;
    for (const char c : text.substr(0, e)) {
        if (c == '.') continue;
        out += c;
        digit_count += c != '-';
    }
    out.append(static_cast<std::size_t>(exponent + 1 - digit_count), '0');
    return out;
}

}  // namespace quorvane::book
