#include "extension/book/exchange_prices.h"

#include <utility>

#include "core/texts/caller_texts.h"
#include "extension/binding/heap_type.h"
#include "extension/binding/instance.h"
#include "extension/binding/py_values.h"
#include "extension/book/ladder_snapshot.h"

namespace quorvane::book {
namespace {

using binding::attribute;
using binding::read;

template <auto Ladder>
PyObject* get_list(PyObject* self, void*) noexcept {
    return read<ExchangePrices>(self, [](const ExchangePrices& ex) { return snapshot_list((ex.*Ladder).get()); });
}

PyGetSetDef attributes[] = {
    attribute("available_to_back", &get_list<&ExchangePrices::available_to_back>),
    attribute("available_to_lay", &get_list<&ExchangePrices::available_to_lay>),
    attribute("traded_volume", &get_list<&ExchangePrices::traded_volume>),
    {},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("Exchange prices for a runner (back/lay/traded)")},
    {Py_tp_new, reinterpret_cast<void*>(&binding::no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&binding::dealloc<ExchangePrices>)},
    {Py_tp_traverse, reinterpret_cast<void*>(&binding::traverse<ExchangePrices>)},
    {Py_tp_clear, reinterpret_cast<void*>(&binding::clear<ExchangePrices>)},
    {Py_tp_getset, attributes},
    {0, nullptr},
};

constexpr texts::TypeName type_name("ExchangePrices");

PyType_Spec spec = {type_name.text, sizeof(binding::Instance<ExchangePrices>), 0,
                    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, slots};

binding::HeapType type(spec);

}  // namespace

PyTypeObject* exchange_prices_type() { return type.get(); }

binding::PyRef new_exchange_prices(ExchangePrices lists) {
    return binding::create<ExchangePrices>(exchange_prices_type(), std::move(lists));
}

}  // namespace quorvane::book
