#include "extension/book/dict_export.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/cache/definition_runner.h"
#include "core/cache/sp_value.h"
#include "extension/binding/borrow_guard.h"
#include "extension/binding/errors.h"
#include "extension/binding/instance.h"
#include "extension/binding/py_ref.h"
#include "extension/book/exchange_prices.h"
#include "extension/book/ladder_snapshot.h"
#include "extension/book/market_book.h"
#include "extension/book/price_size.h"
#include "extension/book/runner.h"
#include "extension/definition/market_definition.h"
#include "extension/definition/market_definition_runner.h"

namespace quorvane::book {
namespace {

using binding::PyRef;

// binding::check, inlined: it runs for every object of the tree.
PyRef check(PyObject* new_reference) {
    if (!new_reference) [[unlikely]] binding::throw_pending_error();
    return PyRef::steal(new_reference);
}

PyObject* intern(const char* text) {
    // Kept for the process: every call reuses the same key objects, whose
    // hashes are then already known to the dicts.
    PyObject* key = PyUnicode_InternFromString(text);
    if (!key) binding::throw_pending_error();
    return key;
}

struct Keys {
    PyObject* market_id = intern("marketId");
    PyObject* status = intern("status");
    PyObject* bet_delay = intern("betDelay");
    PyObject* bsp_reconciled = intern("bspReconciled");
    PyObject* complete = intern("complete");
    PyObject* cross_matching = intern("crossMatching");
    PyObject* inplay = intern("inplay");
    PyObject* number_of_active_runners = intern("numberOfActiveRunners");
    PyObject* number_of_runners = intern("numberOfRunners");
    PyObject* number_of_winners = intern("numberOfWinners");
    PyObject* runners_voidable = intern("runnersVoidable");
    PyObject* total_matched = intern("totalMatched");
    PyObject* version = intern("version");
    PyObject* last_match_time = intern("lastMatchTime");
    PyObject* publish_time = intern("publishTime");
    PyObject* runners = intern("runners");
    PyObject* market_definition = intern("marketDefinition");

    PyObject* selection_id = intern("selectionId");
    PyObject* handicap = intern("handicap");
    PyObject* adjustment_factor = intern("adjustmentFactor");
    PyObject* last_price_traded = intern("lastPriceTraded");
    PyObject* removal_date = intern("removalDate");
    PyObject* ex = intern("ex");
    PyObject* sp = intern("sp");
    PyObject* available_to_back = intern("availableToBack");
    PyObject* available_to_lay = intern("availableToLay");
    PyObject* traded_volume = intern("tradedVolume");
    PyObject* near_price = intern("nearPrice");
    PyObject* far_price = intern("farPrice");
    PyObject* actual_sp = intern("actualSP");
    PyObject* back_stake_taken = intern("backStakeTaken");
    PyObject* lay_liability_taken = intern("layLiabilityTaken");
    PyObject* price = intern("price");
    PyObject* size = intern("size");

    PyObject* betting_type = intern("bettingType");
    PyObject* bsp_market = intern("bspMarket");
    PyObject* country_code = intern("countryCode");
    PyObject* discount_allowed = intern("discountAllowed");
    PyObject* event_id = intern("eventId");
    PyObject* event_name = intern("eventName");
    PyObject* event_type_id = intern("eventTypeId");
    PyObject* in_play = intern("inPlay");
    PyObject* market_base_rate = intern("marketBaseRate");
    PyObject* market_time = intern("marketTime");
    PyObject* market_type = intern("marketType");
    PyObject* name = intern("name");
    PyObject* open_date = intern("openDate");
    PyObject* persistence_enabled = intern("persistenceEnabled");
    PyObject* regulators = intern("regulators");
    PyObject* suspend_time = intern("suspendTime");
    PyObject* timezone = intern("timezone");
    PyObject* turn_in_play_enabled = intern("turnInPlayEnabled");
    PyObject* venue = intern("venue");

    PyObject* id = intern("id");
    PyObject* sort_priority = intern("sortPriority");
    PyObject* hc = intern("hc");
    PyObject* bsp = intern("bsp");
};

// Made on the first call; a failed attempt is tried again by the next one.
const Keys& keys() {
    static const Keys made;
    return made;
}

// New value objects. Failing to make one (exhausted memory) fails the call
// with the interpreter's error.
PyRef value(bool flag) { return PyRef::borrow(flag ? Py_True : Py_False); }
PyRef value(std::int32_t number) { return check(PyLong_FromLong(number)); }
PyRef value(std::int64_t number) { return check(PyLong_FromLongLong(number)); }
PyRef value(double number) { return check(PyFloat_FromDouble(number)); }
PyRef value(std::string_view text) {
    return check(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}
PyRef value(const std::string& text) { return value(std::string_view(text)); }
template <class T>
PyRef value(const std::optional<T>& optional) {
    return optional ? value(*optional) : PyRef::borrow(Py_None);
}
PyRef value(const cache::SpValue& sp) {
    switch (sp.kind()) {
    case cache::SpValue::Kind::Number: return value(sp.number());
    case cache::SpValue::Kind::Text: return value(sp.text());
    case cache::SpValue::Kind::Absent: break;
    }
    return PyRef::borrow(Py_None);
}

// A dict of fixed keys, in order, with None values. Copying it clones its
// keys table in one go, which for the dicts of nine keys and more costs less
// than inserting them one by one and resizing on the way; smaller dicts are
// cheaper filled from empty. Kept for the process like the keys: a PyRef
// here would be released by the static destructors after the interpreter
// is gone.
class DictTemplate {
public:
    explicit DictTemplate(std::initializer_list<PyObject*> keys) {
        PyRef dict = check(PyDict_New());
        for (PyObject* key : keys) {
            if (PyDict_SetItem(dict.get(), key, Py_None) < 0) binding::throw_pending_error();
        }
        dict_ = dict.release();
    }
    PyRef copy() const { return check(PyDict_Copy(dict_)); }

private:
    PyObject* dict_;
};

// Fills one dict; keys go in in the order of the calls, or stay in the
// template's order, each given its value by a later call.
class Dict {
public:
    Dict() : dict_(check(PyDict_New())) {}
    explicit Dict(const DictTemplate& keys) : dict_(keys.copy()) {}

    void set(PyObject* key, PyObject* object) {
        if (PyDict_SetItem(dict_.get(), key, object) < 0) binding::throw_pending_error();
    }
    void set(PyObject* key, const PyRef& object) { set(key, object.get()); }
    template <class T>
    void put(PyObject* key, const T& field) {
        set(key, value(field));
    }
    template <class T>
    void put_present(PyObject* key, const std::optional<T>& field) {
        if (field) put(key, *field);
    }

    PyRef take() { return std::move(dict_); }

private:
    PyRef dict_;
};

struct Templates {
    explicit Templates(const Keys& k)
        : book{k.market_id, k.status, k.bet_delay, k.bsp_reconciled, k.complete, k.cross_matching,
               k.inplay, k.number_of_active_runners, k.number_of_runners, k.number_of_winners,
               k.runners_voidable, k.total_matched, k.version, k.last_match_time, k.publish_time,
               k.runners},
          runner{k.selection_id, k.handicap, k.status, k.adjustment_factor, k.last_price_traded,
                 k.total_matched, k.removal_date, k.ex, k.sp},
          definition{k.bet_delay, k.betting_type, k.bsp_market, k.bsp_reconciled, k.complete,
                     k.country_code, k.cross_matching, k.discount_allowed, k.event_id, k.event_name,
                     k.event_type_id, k.in_play, k.market_base_rate, k.market_time, k.market_type,
                     k.name, k.number_of_active_runners, k.number_of_winners, k.open_date,
                     k.persistence_enabled, k.regulators, k.runners, k.runners_voidable, k.status,
                     k.suspend_time, k.timezone, k.turn_in_play_enabled, k.venue, k.version} {}

    DictTemplate book;  // "marketDefinition" goes in after them when present
    DictTemplate runner;
    DictTemplate definition;
};

const Templates& templates() {
    static const Templates made(keys());
    return made;
}

[[noreturn]] void conversion_error(PyObject* object, std::string_view target) {
    binding::throw_error(PyExc_TypeError, binding::conversion_message(object, target));
}

// The elements of a list the book holds. Python may have changed the list,
// so every element is checked before it is read as `Type`.
template <class Each>
PyRef map_list(PyObject* list, PyTypeObject* type, std::string_view type_name, Each&& each) {
    if (!PyList_Check(list)) conversion_error(list, "PyList");
    // Nothing below runs Python code, so the list keeps its size meanwhile.
    const Py_ssize_t size = PyList_GET_SIZE(list);
    PyRef result = check(PyList_New(size));
    for (Py_ssize_t i = 0; i < size; ++i) {
        PyObject* element = PyList_GET_ITEM(list, i);
        if (!PyObject_TypeCheck(element, type)) conversion_error(element, type_name);
        PyList_SET_ITEM(result.get(), i, each(element).release());
    }
    return result;
}

PyRef price_dict(const Keys& k, double price, double size) {
    Dict dict;
    dict.put(k.price, price);
    dict.put(k.size, size);
    return dict.take();
}

PyRef price_sizes_to_dicts(const Keys& k, PyObject* list, PyTypeObject* level_type) {
    return map_list(list, level_type, "PriceSize", [&](PyObject* element) {
        const auto& level = binding::value_of<book::PriceSize>(element);
        return price_dict(k, level.price, level.size);
    });
}

PyRef pairs_to_dicts(const Keys& k, std::span<const cache::PricePair> pairs) {
    PyRef list = check(PyList_New(static_cast<Py_ssize_t>(pairs.size())));
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), price_dict(k, pairs[i].price, pairs[i].size).release());
    }
    return list;
}

// A list that a read has made is what Python sees, changes included; until
// then the snapshot's pairs are.
PyRef ladder_dicts(const Keys& k, const PyRef& snapshot, PyTypeObject* level_type) {
    if (PyObject* list = book::made_snapshot_list(snapshot.get())) return price_sizes_to_dicts(k, list, level_type);
    return pairs_to_dicts(k, book::snapshot_pairs(snapshot.get()));
}

PyRef exchange_dict(const Keys& k, const book::ExchangePrices& ex, PyTypeObject* level_type) {
    Dict dict;
    dict.set(k.available_to_back, ladder_dicts(k, ex.available_to_back, level_type));
    dict.set(k.available_to_lay, ladder_dicts(k, ex.available_to_lay, level_type));
    dict.set(k.traded_volume, ladder_dicts(k, ex.traded_volume, level_type));
    return dict.take();
}

PyRef starting_price_dict(const Keys& k, const book::StartingPrices& sp) {
    Dict dict;
    dict.put(k.near_price, sp.near_price);
    dict.put(k.far_price, sp.far_price);
    dict.put(k.actual_sp, sp.actual_sp);
    dict.set(k.back_stake_taken, pairs_to_dicts(k, book::snapshot_pairs(sp.back_stake_taken.get())));
    dict.set(k.lay_liability_taken, pairs_to_dicts(k, book::snapshot_pairs(sp.lay_liability_taken.get())));
    return dict.take();
}

PyRef runner_dict(const Keys& k, const book::Runner& runner, PyTypeObject* level_type) {
    Dict dict(templates().runner);
    dict.put(k.selection_id, runner.selection_id);
    dict.put(k.handicap, runner.handicap);
    dict.set(k.status, runner.status);  // the runner's own str: it never changes
    dict.put(k.adjustment_factor, runner.adjustment_factor);
    dict.put(k.last_price_traded, runner.last_price_traded);
    dict.put(k.total_matched, runner.total_matched);
    dict.put(k.removal_date, runner.removal_date);
    dict.set(k.ex, exchange_dict(k, binding::value_of<book::ExchangePrices>(runner.ex.get()), level_type));
    dict.set(k.sp, starting_price_dict(k, runner.sp));
    return dict.take();
}

PyRef definition_runner_dict(const Keys& k, const cache::DefinitionRunner& entry) {
    Dict dict;
    dict.put(k.id, entry.selection_id);
    dict.put(k.sort_priority, entry.sort_priority);
    dict.put(k.status, entry.status);
    dict.put_present(k.adjustment_factor, entry.adjustment_factor);
    dict.put_present(k.name, entry.name);
    // NaN is not equal to 0.0 and is shown; -0.0 is equal and is not.
    if (!(entry.handicap == 0.0)) dict.put(k.hc, entry.handicap);
    dict.put_present(k.removal_date, entry.removal_date);
    dict.put_present(k.bsp, entry.bsp);
    return dict.take();
}

PyRef text_list(const std::vector<std::string>& texts) {
    PyRef list = check(PyList_New(static_cast<Py_ssize_t>(texts.size())));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), value(texts[i]).release());
    }
    return list;
}

// Keys in alphabetical order.
PyRef definition_dict(const Keys& k, const definition::MarketDefinition& definition) {
    Dict dict(templates().definition);
    dict.put(k.bet_delay, definition.bet_delay);
    dict.put(k.betting_type, definition.betting_type);
    dict.put(k.bsp_market, definition.bsp_market);
    dict.put(k.bsp_reconciled, definition.bsp_reconciled);
    dict.put(k.complete, definition.complete);
    dict.put(k.country_code, definition.country_code);
    dict.put(k.cross_matching, definition.cross_matching);
    dict.put(k.discount_allowed, definition.discount_allowed);
    dict.put(k.event_id, definition.event_id);
    dict.put(k.event_name, definition.event_name);
    dict.put(k.event_type_id, definition.event_type_id);
    dict.put(k.in_play, definition.in_play);
    dict.put(k.market_base_rate, definition.market_base_rate);
    dict.put(k.market_time, definition.market_time_text);
    dict.put(k.market_type, definition.market_type);
    dict.put(k.name, definition.name);
    dict.put(k.number_of_active_runners, definition.number_of_active_runners);
    dict.put(k.number_of_winners, definition.number_of_winners);
    dict.put(k.open_date, definition.open_date_text);
    dict.put(k.persistence_enabled, definition.persistence_enabled);
    dict.set(k.regulators, text_list(definition.regulators));
    dict.set(k.runners, map_list(definition.runners.get(), definition::market_definition_runner_type(),
                                 "MarketDefinitionRunner", [&](PyObject* element) {
                                     return definition_runner_dict(
                                         k, binding::value_of<cache::DefinitionRunner>(element));
                                 }));
    dict.put(k.runners_voidable, definition.runners_voidable);
    dict.put(k.status, definition.status);
    dict.put(k.suspend_time, definition.suspend_time_text);
    dict.put(k.timezone, definition.timezone);
    dict.put(k.turn_in_play_enabled, definition.turn_in_play_enabled);
    dict.put(k.venue, definition.venue);
    dict.put(k.version, definition.version);
    return dict.take();
}

PyRef book_dict(const book::MarketBook& book) {
    const Keys& k = keys();
    PyTypeObject* level_type = book::price_size_type();
    Dict dict(templates().book);
    dict.put(k.market_id, book.market_id);
    dict.put(k.status, book.status);
    dict.put(k.bet_delay, book.bet_delay);
    dict.put(k.bsp_reconciled, book.bsp_reconciled);
    dict.put(k.complete, book.complete);
    dict.put(k.cross_matching, book.cross_matching);
    dict.put(k.inplay, book.inplay);
    dict.put(k.number_of_active_runners, book.number_of_active_runners);
    dict.put(k.number_of_runners, book.number_of_runners);
    dict.put(k.number_of_winners, book.number_of_winners);
    dict.put(k.runners_voidable, book.runners_voidable);
    dict.put(k.total_matched, book.total_matched);
    dict.put(k.version, book.version);
    dict.put(k.last_match_time, book.last_match_time);
    dict.put(k.publish_time, book.publish_time_epoch);
    dict.set(k.runners, map_list(book.runners.get(), book::runner_type(), "Runner", [&](PyObject* element) {
                 return runner_dict(k, binding::value_of<book::Runner>(element), level_type);
             }));
    if (book.market_definition) {
        dict.set(k.market_definition,
                 definition_dict(k, binding::value_of<definition::MarketDefinition>(book.market_definition.get())));
    }
    return dict.take();
}

}  // namespace

PyObject* market_book_to_dict(PyObject* self, PyObject*) noexcept {
    return binding::boundary<PyObject*>(nullptr, [&] {
        book::MarketBook& book = binding::value_of<book::MarketBook>(self);
        binding::SharedBorrow borrow(book.borrow_flag);
        return book_dict(book).release();
    });
}

}  // namespace quorvane::book
