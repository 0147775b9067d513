#include "extension/definition/market_definition.h"

#include <utility>

#include "core/texts/caller_texts.h"
#include "extension/binding/heap_type.h"
#include "extension/binding/instance.h"
#include "extension/binding/py_values.h"
#include "extension/definition/market_definition_runner.h"
#include "extension/definition/time_values.h"

namespace quorvane::definition {
namespace {

using binding::field;

binding::PyRef definition_runners(const std::vector<cache::DefinitionRunner>& entries) {
    binding::PyRef list = binding::created(PyList_New(static_cast<Py_ssize_t>(entries.size())));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), build_definition_runner(entries[i]).release());
    }
    return list;
}

PyGetSetDef attributes[] = {
    field<&MarketDefinition::event_id>("event_id"),
    field<&MarketDefinition::event_type_id>("event_type_id"),
    field<&MarketDefinition::event_name>("event_name"),
    field<&MarketDefinition::market_type>("market_type"),
    field<&MarketDefinition::country_code>("country_code"),
    field<&MarketDefinition::venue>("venue"),
    field<&MarketDefinition::race_type>("race_type"),
    field<&MarketDefinition::name>("name"),
    field<&MarketDefinition::timezone>("timezone"),
    field<&MarketDefinition::betting_type>("betting_type"),
    field<&MarketDefinition::regulators>("regulators"),
    field<&MarketDefinition::runners>("runners"),
    field<&MarketDefinition::market_time>("market_time"),
    field<&MarketDefinition::open_date>("open_date"),
    field<&MarketDefinition::suspend_time>("suspend_time"),
    field<&MarketDefinition::settled_time>("settled_time"),
    field<&MarketDefinition::bsp_market>("bsp_market"),
    field<&MarketDefinition::persistence_enabled>("persistence_enabled"),
    field<&MarketDefinition::each_way_divisor>("each_way_divisor"),
    field<&MarketDefinition::turn_in_play_enabled>("turn_in_play_enabled"),
    field<&MarketDefinition::discount_allowed>("discount_allowed"),
    field<&MarketDefinition::market_base_rate>("market_base_rate"),
    field<&MarketDefinition::bet_delay>("bet_delay"),
    field<&MarketDefinition::number_of_winners>("number_of_winners"),
    field<&MarketDefinition::number_of_active_runners>("number_of_active_runners"),
    field<&MarketDefinition::bsp_reconciled>("bsp_reconciled"),
    field<&MarketDefinition::complete>("complete"),
    field<&MarketDefinition::cross_matching>("cross_matching"),
    field<&MarketDefinition::in_play>("in_play"),
    field<&MarketDefinition::runners_voidable>("runners_voidable"),
    field<&MarketDefinition::status>("status"),
    field<&MarketDefinition::version>("version"),
    binding::none_attribute("bet_delay_models"),
    binding::none_attribute("key_line_definitions"),
    binding::none_attribute("line_interval"),
    binding::none_attribute("line_max_unit"),
    binding::none_attribute("line_min_unit"),
    binding::none_attribute("price_ladder_definition"),
    binding::none_attribute("suspend_reason"),
    {},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("Market definition - metadata about the market")},
    {Py_tp_new, reinterpret_cast<void*>(&binding::no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&binding::dealloc<MarketDefinition>)},
    {Py_tp_traverse, reinterpret_cast<void*>(&binding::traverse<MarketDefinition>)},
    {Py_tp_clear, reinterpret_cast<void*>(&binding::clear<MarketDefinition>)},
    {Py_tp_getset, attributes},
    {0, nullptr},
};

constexpr texts::TypeName type_name("MarketDefinition");

PyType_Spec spec = {type_name.text, sizeof(binding::Instance<MarketDefinition>), 0,
                    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, slots};

binding::HeapType type(spec);

}  // namespace

PyTypeObject* market_definition_type() { return type.get(); }

binding::PyRef build_market_definition(const cache::MarketState& state) {
    binding::PyRef runners = definition_runners(state.runner_definitions);
    // In this order: the first text that fails decides the error.
    binding::PyRef market_time = definition_time_to_datetime(state.market_time);
    binding::PyRef open_date = definition_time_to_datetime(state.open_date);
    binding::PyRef suspend_time = definition_time_to_datetime(state.suspend_time);
    binding::PyRef settled_time = definition_time_to_datetime(state.settled_time);
    return binding::create<MarketDefinition>(market_definition_type(), MarketDefinition{
        .event_id = state.event_id,
        .event_type_id = state.event_type_id,
        .event_name = state.event_name,
        .market_type = state.market_type,
        .country_code = state.country_code,
        .venue = state.venue,
        .race_type = state.race_type,
        .name = state.name,
        .timezone = state.timezone,
        .betting_type = state.betting_type,
        .regulators = state.regulators,
        .runners = std::move(runners),
        .market_time = std::move(market_time),
        .open_date = std::move(open_date),
        .suspend_time = std::move(suspend_time),
        .settled_time = std::move(settled_time),
        .bsp_market = state.bsp_market,
        .persistence_enabled = state.persistence_enabled,
        .each_way_divisor = state.each_way_divisor,
        .turn_in_play_enabled = state.turn_in_play_enabled,
        .discount_allowed = state.discount_allowed,
        .market_base_rate = state.market_base_rate,
        .bet_delay = state.bet_delay,
        .number_of_winners = state.number_of_winners,
        .number_of_active_runners = state.number_of_active_runners,
        .bsp_reconciled = state.bsp_reconciled,
        .complete = state.complete,
        .cross_matching = state.cross_matching,
        .in_play = state.inplay,
        .runners_voidable = state.runners_voidable,
        .status = state.status,
        .version = state.version,
        .market_time_text = state.market_time,
        .open_date_text = state.open_date,
        .suspend_time_text = state.suspend_time,
    });
}

}  // namespace quorvane::definition
