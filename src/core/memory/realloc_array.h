// A growable array of trivially copyable elements on malloc and realloc. A
// large one grows and shrinks by remapping its pages, where a vector copies
// them into fresh ones at each doubling and once more to shrink: a load of
// many messages would fault in and copy its index about three times over.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

namespace quorvane::memory {

template <class T>
class ReallocArray {
    static_assert(std::is_trivially_copyable_v<T>, "elements move as bytes");

public:
    ReallocArray() = default;
    ReallocArray(ReallocArray&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)),
          size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    ReallocArray& operator=(ReallocArray&& other) noexcept {
        if (this != &other) {
            std::free(data_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            capacity_ = std::exchange(other.capacity_, 0);
        }
        return *this;
    }
    ~ReallocArray() { std::free(data_); }

    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    T& operator[](std::size_t index) { return data_[index]; }
    const T& operator[](std::size_t index) const { return data_[index]; }

    // Throws std::bad_alloc, the array as it was.
    void push_back(const T& value) {
        if (size_ == capacity_) resize_storage(capacity_ == 0 ? 256 : 2 * capacity_);
        data_[size_++] = value;
    }

    void shrink_to_fit() {
        if (size_ == capacity_) return;
        if (size_ == 0) {
            std::free(std::exchange(data_, nullptr));
            capacity_ = 0;
            return;
        }
        // A shrinking realloc keeps the pages it keeps; should it fail, the
        // array keeps its room, as a loaded store should not fail for it.
        if (void* const kept = std::realloc(data_, size_ * sizeof(T))) {
            data_ = static_cast<T*>(kept);
            capacity_ = size_;
        }
    }

private:
    void resize_storage(std::size_t capacity) {
        if (capacity > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
        void* const moved = std::realloc(data_, capacity * sizeof(T));
        if (moved == nullptr) throw std::bad_alloc();
        data_ = static_cast<T*>(moved);
        capacity_ = capacity;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace quorvane::memory
