// Blocks of dead instances of one class, kept for the next allocation. Book
// objects are made and dropped by the hundred per step; reusing their blocks
// spares the allocator's bookkeeping. The interpreter lock guards the list,
// as it guards the objects.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>

namespace quorvane::binding {

template <std::size_t Capacity>
class FreeList {
public:
    // A kept block made a new object of `type` (one reference), or null.
    PyObject* take(PyTypeObject* type) noexcept {
        if constexpr (Capacity == 0) {
            return nullptr;
        } else {
            if (count_ == 0) return nullptr;
            return PyObject_Init(spare_[--count_], type);  // references a heap type again
        }
    }

    // Keeps the block of a dead object instead of freeing it, if there is room.
    bool keep(PyObject* object) noexcept {
        if constexpr (Capacity == 0) {
            return false;
        } else {
            if (count_ == Capacity) return false;
            spare_[count_++] = object;
            return true;
        }
    }

private:
    std::array<PyObject*, Capacity> spare_{};
    std::size_t count_ = 0;
};

}  // namespace quorvane::binding
