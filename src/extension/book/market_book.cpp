#include "extension/book/market_book.h"

#include <limits>
#include <string>
#include <utility>

#include "core/texts/caller_texts.h"
#include "extension/binding/heap_type.h"
#include "extension/binding/instance.h"
#include "extension/binding/py_values.h"
#include "extension/book/dict_export.h"

namespace quorvane::book {
namespace {

using binding::PyRef;
using binding::attribute;
using binding::field;
using binding::get;
using binding::get_true;
using binding::none_attribute;

// A conversion failure of the argument keeps the interpreter's text behind
// the argument's name; an out-of-range integer, however large, is an
// OverflowError with one text.
std::int32_t streaming_unique_id_argument(PyObject* value) {
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (number == -1 && !overflow && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw binding::PythonError{};
        PyRef cause = PyRef::steal(PyErr_GetRaisedException());
        PyRef text = binding::check(PyObject_Str(cause.get()));
        PyErr_Format(PyExc_TypeError, "argument 'streaming_unique_id': %U", text.get());
        PyRef error = PyRef::steal(PyErr_GetRaisedException());
        PyException_SetCause(error.get(), cause.release());
        PyErr_SetRaisedException(error.release());
        throw binding::PythonError{};
    }
    if (overflow || number < std::numeric_limits<std::int32_t>::min() ||
        number > std::numeric_limits<std::int32_t>::max()) {
        binding::throw_error(PyExc_OverflowError, texts::integer_out_of_range);
    }
    return static_cast<std::int32_t>(number);
}

int set_streaming_unique_id(PyObject* self, PyObject* value, void*) noexcept {
    return binding::boundary<int>(-1, [&] {
        if (!value) binding::throw_error(PyExc_AttributeError, "can't delete attribute");
        // Converted before the borrow: __index__ of an int subclass may read the book.
        std::optional<std::int32_t> id;
        if (value != Py_None) id = streaming_unique_id_argument(value);
        MarketBook& book = binding::value_of<MarketBook>(self);
        binding::ExclusiveBorrow borrow(book.borrow_flag);
        book.streaming_unique_id = id;
        return 0;
    });
}

PyGetSetDef attributes[] = {
    {"streaming_unique_id", &get<&MarketBook::streaming_unique_id>, &set_streaming_unique_id,
     "Streaming unique ID (set by stream for flumine compatibility)", nullptr},
    field<&MarketBook::market_id>("market_id"),
    field<&MarketBook::publish_time>("publish_time"),
    field<&MarketBook::publish_time_epoch>("publish_time_epoch",
                                           "publish_time in epoch milliseconds (int, for flumine compatibility)"),
    field<&MarketBook::status>("status"),
    field<&MarketBook::bet_delay>("bet_delay"),
    field<&MarketBook::bsp_reconciled>("bsp_reconciled"),
    field<&MarketBook::complete>("complete"),
    field<&MarketBook::cross_matching>("cross_matching"),
    field<&MarketBook::inplay>("inplay"),
    field<&MarketBook::number_of_active_runners>("number_of_active_runners"),
    field<&MarketBook::number_of_runners>("number_of_runners"),
    field<&MarketBook::number_of_winners>("number_of_winners"),
    field<&MarketBook::runners_voidable>("runners_voidable"),
    field<&MarketBook::total_matched>("total_matched"),
    field<&MarketBook::version>("version"),
    field<&MarketBook::last_match_time>("last_match_time"),
    field<&MarketBook::market_definition>("market_definition"),
    field<&MarketBook::runners>("runners"),
    none_attribute("bet_delay_models"),
    none_attribute("elapsed_time"),
    none_attribute("is_market_data_delayed"),
    none_attribute("key_line_description"),
    none_attribute("price_ladder_definition"),
    none_attribute("suspend_reason"),
    none_attribute("total_available"),
    attribute("streaming_snap", &get_true),
    none_attribute("streaming_update"),
    {},
};

PyMethodDef methods[] = {
    {"to_dict", &market_book_to_dict, METH_NOARGS, to_dict_doc},
    {},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("A market book snapshot")},
    {Py_tp_new, reinterpret_cast<void*>(&binding::no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&binding::dealloc<MarketBook>)},
    {Py_tp_traverse, reinterpret_cast<void*>(&binding::traverse<MarketBook>)},
    {Py_tp_clear, reinterpret_cast<void*>(&binding::clear<MarketBook>)},
    {Py_tp_getset, attributes},
    {Py_tp_methods, methods},
    {0, nullptr},
};

constexpr texts::TypeName type_name("MarketBook");

PyType_Spec spec = {type_name.text, sizeof(binding::Instance<MarketBook>), 0,
                    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, slots};

binding::HeapType type(spec);

}  // namespace

PyTypeObject* market_book_type() { return type.get(); }

binding::PyRef new_market_book(MarketBook book) {
    return binding::create<MarketBook>(market_book_type(), std::move(book));
}

}  // namespace quorvane::book
