#include "extension/book/starting_prices.h"

#include "core/texts/caller_texts.h"
#include "extension/binding/heap_type.h"
#include "extension/binding/instance.h"
#include "extension/binding/py_values.h"
#include "extension/book/ladder_snapshot.h"
#include "extension/book/price_size.h"

namespace quorvane::book {
namespace {

using binding::attribute;
using binding::field;
using binding::read;

// New PriceSize objects at every read: the pairs are stored, not the objects.
template <auto Pairs>
PyObject* get_levels(PyObject* self, void*) noexcept {
    return read<StartingPrices>(self, [](const StartingPrices& prices) {
        return new_price_size_list(snapshot_pairs((prices.*Pairs).get()));
    });
}

PyGetSetDef attributes[] = {
    field<&StartingPrices::near_price>("near_price"),
    field<&StartingPrices::far_price>("far_price"),
    field<&StartingPrices::actual_sp>("actual_sp"),
    attribute("back_stake_taken", &get_levels<&StartingPrices::back_stake_taken>),
    attribute("lay_liability_taken", &get_levels<&StartingPrices::lay_liability_taken>),
    {},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("Starting prices for a runner")},
    {Py_tp_new, reinterpret_cast<void*>(&binding::no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&binding::dealloc<StartingPrices>)},
    {Py_tp_getset, attributes},
    {0, nullptr},
};

constexpr texts::TypeName type_name("StartingPrices");

PyType_Spec spec = {type_name.text, sizeof(binding::Instance<StartingPrices>), 0,
                    Py_TPFLAGS_DEFAULT, slots};

binding::HeapType type(spec);

}  // namespace

PyTypeObject* starting_prices_type() { return type.get(); }

binding::PyRef new_starting_prices(const StartingPrices& prices) {
    return binding::create<StartingPrices>(starting_prices_type(), prices.copy());
}

}  // namespace quorvane::book
