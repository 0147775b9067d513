#include "market/definition/market_definition_runner.h"

#include "binding/heap_type.h"
#include "binding/instance.h"
#include "market/book/py_values.h"

namespace quorvane::definition {
namespace {

using cache::DefinitionRunner;

PyGetSetDef attributes[] = {
    book::field<&DefinitionRunner::selection_id>("selection_id"),
    book::field<&DefinitionRunner::sort_priority>("sort_priority"),
    book::field<&DefinitionRunner::status>("status"),
    book::field<&DefinitionRunner::handicap>("handicap"),
    book::field<&DefinitionRunner::adjustment_factor>("adjustment_factor"),
    book::field<&DefinitionRunner::removal_date>("removal_date"),
    book::field<&DefinitionRunner::name>("name"),
    book::field<&DefinitionRunner::bsp>("bsp"),
    {},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("A runner in a market definition")},
    {Py_tp_new, reinterpret_cast<void*>(&binding::no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&binding::dealloc<DefinitionRunner>)},
    {Py_tp_getset, attributes},
    {0, nullptr},
};

PyType_Spec spec = {"builtins.MarketDefinitionRunner", sizeof(binding::Instance<DefinitionRunner>), 0,
                    Py_TPFLAGS_DEFAULT, slots};

binding::HeapType type(spec);

}  // namespace

PyTypeObject* market_definition_runner_type() { return type.get(); }

binding::PyRef build_definition_runner(const cache::DefinitionRunner& entry) {
    return binding::create<DefinitionRunner>(market_definition_runner_type(), entry);
}

}  // namespace quorvane::definition
