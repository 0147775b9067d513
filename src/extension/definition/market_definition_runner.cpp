#include "extension/definition/market_definition_runner.h"

#include "core/texts/caller_texts.h"
#include "extension/binding/heap_type.h"
#include "extension/binding/instance.h"
#include "extension/binding/py_values.h"

namespace quorvane::definition {
namespace {

using cache::DefinitionRunner;

PyGetSetDef attributes[] = {
    binding::field<&DefinitionRunner::selection_id>("selection_id"),
    binding::field<&DefinitionRunner::sort_priority>("sort_priority"),
    binding::field<&DefinitionRunner::status>("status"),
    binding::field<&DefinitionRunner::handicap>("handicap"),
    binding::field<&DefinitionRunner::adjustment_factor>("adjustment_factor"),
    binding::field<&DefinitionRunner::removal_date>("removal_date"),
    binding::field<&DefinitionRunner::name>("name"),
    binding::field<&DefinitionRunner::bsp>("bsp"),
    {},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("A runner in a market definition")},
    {Py_tp_new, reinterpret_cast<void*>(&binding::no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&binding::dealloc<DefinitionRunner>)},
    {Py_tp_getset, attributes},
    {0, nullptr},
};

constexpr texts::TypeName type_name("MarketDefinitionRunner");

PyType_Spec spec = {type_name.text, sizeof(binding::Instance<DefinitionRunner>), 0,
                    Py_TPFLAGS_DEFAULT, slots};

binding::HeapType type(spec);

}  // namespace

PyTypeObject* market_definition_runner_type() { return type.get(); }

binding::PyRef build_definition_runner(const cache::DefinitionRunner& entry) {
    return binding::create<DefinitionRunner>(market_definition_runner_type(), entry);
}

}  // namespace quorvane::definition
