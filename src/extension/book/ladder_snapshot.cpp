#include "extension/book/ladder_snapshot.h"

#include <cstddef>

#include "core/cache/price_ladder.h"
#include "core/texts/caller_texts.h"
#include "extension/binding/errors.h"
#include "extension/binding/heap_type.h"
#include "extension/book/price_size.h"

namespace quorvane::book {
namespace {

// One allocation: the header, then ob_size pairs.
struct Snapshot {
    PyObject_VAR_HEAD
    PyObject* list;  // owned once made
    bool descending;
    bool ordered;  // pairs are copied in table order and sorted on first use
};
static_assert(sizeof(Snapshot) % alignof(cache::PricePair) == 0);

Snapshot* as_snapshot(PyObject* object) { return reinterpret_cast<Snapshot*>(object); }

std::span<cache::PricePair> pairs_of(Snapshot* snapshot) {
    auto* first = reinterpret_cast<cache::PricePair*>(reinterpret_cast<char*>(snapshot) + sizeof(Snapshot));
    return {first, static_cast<std::size_t>(Py_SIZE(snapshot))};
}

void dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    Py_XDECREF(as_snapshot(self)->list);
    PyObject_Free(self);
    Py_DECREF(type);  // instances of heap types own a reference to their type
}

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&binding::no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
    {0, nullptr},
};

constexpr texts::TypeName type_name("LadderSnapshot");

PyType_Spec spec = {type_name.text, sizeof(Snapshot), sizeof(cache::PricePair), Py_TPFLAGS_DEFAULT,
                    slots};

binding::HeapType type(spec);

}  // namespace

PyTypeObject* ladder_snapshot_type() { return type.get(); }

binding::PyRef new_ladder_snapshot(const cache::PriceLevels& levels, bool descending) {
    PyTypeObject* snapshot_type = ladder_snapshot_type();
    const std::size_t count = levels.size();
    // Unzeroed: every field and pair is written below.
    auto* snapshot = static_cast<Snapshot*>(PyObject_Malloc(sizeof(Snapshot) + count * sizeof(cache::PricePair)));
    if (!snapshot) {
        PyErr_NoMemory();
        binding::panic();  // as for the list it stands for
    }
    PyObject_InitVar(reinterpret_cast<PyVarObject*>(snapshot), snapshot_type, static_cast<Py_ssize_t>(count));
    snapshot->list = nullptr;
    snapshot->descending = descending;
    snapshot->ordered = count < 2;
    cache::copy_levels(levels, pairs_of(snapshot));
    return binding::PyRef::steal(reinterpret_cast<PyObject*>(snapshot));
}

std::span<const cache::PricePair> snapshot_pairs(PyObject* object) {
    Snapshot* snapshot = as_snapshot(object);
    const std::span<cache::PricePair> pairs = pairs_of(snapshot);
    if (!snapshot->ordered) {
        cache::order_levels(pairs, snapshot->descending);
        snapshot->ordered = true;
    }
    return pairs;
}

binding::PyRef snapshot_list(PyObject* object) {
    Snapshot* snapshot = as_snapshot(object);
    if (!snapshot->list) {
        binding::PyRef list = new_price_size_list(snapshot_pairs(object));
        // Making the list may have let other code read this snapshot: the
        // first list stored stays the only one.
        if (!snapshot->list) snapshot->list = list.release();
    }
    return binding::PyRef::borrow(snapshot->list);
}

PyObject* made_snapshot_list(PyObject* snapshot) { return as_snapshot(snapshot)->list; }

}  // namespace quorvane::book
