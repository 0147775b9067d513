#include "extension/book/ladder_snapshot.h"

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/cache/price_ladder.h"
#include "core/texts/caller_texts.h"
#include "extension/binding/errors.h"
#include "extension/binding/free_list.h"
#include "extension/binding/heap_type.h"
#include "extension/book/price_size.h"

namespace quorvane::book {
namespace {

// One allocation: the header, then ob_size pairs. Tracked by cyclic GC only
// once it holds its list, which Python code may change.
struct Snapshot {
    PyObject_VAR_HEAD
    PyObject* list;  // owned once made
    std::uint32_t capacity;  // pairs the block has room for, at least ob_size
    bool descending;
    bool ordered;  // pairs are copied in table order and sorted on first use
};
static_assert(sizeof(Snapshot) % alignof(cache::PricePair) == 0);

Snapshot* as_snapshot(PyObject* object) { return reinterpret_cast<Snapshot*>(object); }

std::span<cache::PricePair> pairs_of(Snapshot* snapshot) {
    auto* first = reinterpret_cast<cache::PricePair*>(reinterpret_cast<char*>(snapshot) + sizeof(Snapshot));
    return {first, static_cast<std::size_t>(Py_SIZE(snapshot))};
}

// Blocks of dead snapshots, by room in steps of kClassPairs pairs: a
// changed ladder makes a snapshot at every step, and a kept block spares
// the allocator's and the collector's bookkeeping, which cost more than
// copying the pairs. Kept blocks are untracked, as new ones are.
constexpr std::size_t kClassPairs = 8;
constexpr std::size_t kClasses = 16;
using SpareBlocks = binding::FreeList<16>;
std::array<SpareBlocks, kClasses> spare_blocks;

// The kept blocks of that room; none for a room too large to keep.
SpareBlocks* spare_blocks_of(std::size_t capacity) {
    return capacity <= kClasses * kClassPairs ? &spare_blocks[capacity / kClassPairs - 1] : nullptr;
}

void dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    Py_CLEAR(as_snapshot(self)->list);
    SpareBlocks* spare = spare_blocks_of(as_snapshot(self)->capacity);
    if (!spare || !spare->keep(self)) PyObject_GC_Del(self);
    Py_DECREF(type);  // instances of heap types own a reference to their type
}

int traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(as_snapshot(self)->list);
    return 0;
}

int clear(PyObject* self) noexcept {
    Py_CLEAR(as_snapshot(self)->list);
    return 0;
}

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&binding::no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(&traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(&clear)},
    {0, nullptr},
};

constexpr texts::TypeName type_name("LadderSnapshot");

PyType_Spec spec = {type_name.text, sizeof(Snapshot), sizeof(cache::PricePair),
                    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, slots};

binding::HeapType type(spec);

}  // namespace

PyTypeObject* ladder_snapshot_type() { return type.get(); }

binding::PyRef new_ladder_snapshot(const cache::PriceLevels& levels, bool descending) {
    PyTypeObject* snapshot_type = ladder_snapshot_type();
    const std::size_t count = levels.size();
    // Room rounded up to a class, so that the block can serve another ladder.
    const std::size_t capacity = (count / kClassPairs + 1) * kClassPairs;
    SpareBlocks* spare = spare_blocks_of(capacity);
    PyObject* kept = spare ? spare->take(snapshot_type) : nullptr;
    // Unzeroed and untracked: every field and pair is written below.
    Snapshot* snapshot = kept ? as_snapshot(kept)
                              : PyObject_GC_NewVar(Snapshot, snapshot_type, static_cast<Py_ssize_t>(capacity));
    if (!snapshot) binding::panic();  // as for the list it stands for
    Py_SET_SIZE(snapshot, static_cast<Py_ssize_t>(count));
    snapshot->capacity = static_cast<std::uint32_t>(capacity);
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
        if (!snapshot->list) {
            snapshot->list = list.release();
            if (!PyObject_GC_IsTracked(object)) PyObject_GC_Track(object);
        }
    }
    return binding::PyRef::borrow(snapshot->list);
}

PyObject* made_snapshot_list(PyObject* snapshot) { return as_snapshot(snapshot)->list; }

}  // namespace quorvane::book
