#include "extension/book/runner.h"

#include <utility>

#include "core/texts/caller_texts.h"
#include "extension/binding/heap_type.h"
#include "extension/binding/instance.h"
#include "extension/binding/py_values.h"

namespace quorvane::book {
namespace {

using binding::attribute;
using binding::field;
using binding::none_attribute;
using binding::read;

PyObject* get_sp(PyObject* self, void*) noexcept {
    return read<Runner>(self, [](const Runner& runner) { return new_starting_prices(runner.sp); });
}

// No orders or matches in a recorded stream: a new empty list at every read.
PyObject* get_empty_list(PyObject*, void*) noexcept {
    return binding::boundary<PyObject*>(nullptr, [] { return binding::created(PyList_New(0)).release(); });
}

PyGetSetDef attributes[] = {
    field<&Runner::selection_id>("selection_id"),
    field<&Runner::handicap>("handicap"),
    field<&Runner::adjustment_factor>("adjustment_factor"),
    field<&Runner::last_price_traded>("last_price_traded"),
    field<&Runner::total_matched>("total_matched"),
    field<&Runner::status>("status"),
    field<&Runner::removal_date>("removal_date"),
    field<&Runner::ex>("ex"),
    attribute("sp", &get_sp),
    attribute("orders", &get_empty_list),
    attribute("matches", &get_empty_list),
    none_attribute("matches_by_strategy"),
    none_attribute("bet_delay_models"),
    none_attribute("suspend_reason"),
    {},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("A runner in the market")},
    {Py_tp_new, reinterpret_cast<void*>(&binding::no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&binding::dealloc<Runner>)},
    {Py_tp_traverse, reinterpret_cast<void*>(&binding::traverse<Runner>)},
    {Py_tp_clear, reinterpret_cast<void*>(&binding::clear<Runner>)},
    {Py_tp_getset, attributes},
    {0, nullptr},
};

constexpr texts::TypeName type_name("Runner");

PyType_Spec spec = {type_name.text, sizeof(binding::Instance<Runner>), 0,
                    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, slots};

binding::HeapType type(spec);

}  // namespace

PyTypeObject* runner_type() { return type.get(); }

binding::PyRef new_runner(Runner runner) { return binding::create<Runner>(runner_type(), std::move(runner)); }

}  // namespace quorvane::book
