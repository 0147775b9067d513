// Spare instances of one small class, kept after dealloc for the next
// allocation. Ladder objects are made and dropped by the hundred per step;
// reusing their blocks spares the allocator's bookkeeping. The interpreter
// lock guards it, as it guards the objects.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>

namespace quorvane::binding {

template <std::size_t Capacity>
class FreeList {
public:
    // A spare block made a new object of `type` (one reference), or null.
    PyObject* take(PyTypeObject* type) noexcept {
        if (count_ == 0) return nullptr;
        PyObject* object = spare_[--count_];
        return PyObject_Init(object, type);  // references a heap type again
    }

    // Keeps the block of a dead object instead of freeing it, if there is room.
    bool keep(PyObject* object) noexcept {
        if (count_ == Capacity) return false;
        spare_[count_++] = object;
        return true;
    }

private:
    std::array<PyObject*, Capacity> spare_{};
    std::size_t count_ = 0;
};

}  // namespace quorvane::binding
