// A growable run of encoded bytes, written through raw positions: a writer
// asks for room for its largest form, writes, and commits where it ended.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace quorvane::cache {

class EncodedBytes {
public:
    std::size_t size() const { return size_; }
    std::uint8_t* data() { return bytes_.get(); }
    const std::uint8_t* data() const { return bytes_.get(); }

    // Where to write `bytes` more.
    std::uint8_t* room(std::size_t bytes) {
        if (capacity_ - size_ < bytes) grow(bytes);
        return bytes_.get() + size_;
    }
    // Ends a write that started at room().
    void commit(std::uint8_t* end) { size_ = static_cast<std::size_t>(end - bytes_.get()); }
    void append(const std::uint8_t* bytes, std::size_t count) {
        if (count == 0) return;  // an empty buffer may have no storage yet
        std::uint8_t* at = room(count);
        std::memcpy(at, bytes, count);
        size_ += count;
    }
    // Drops every byte from `size` on.
    void truncate(std::size_t size) { size_ = size; }
    void clear() { size_ = 0; }

    // Moves the bytes from `at` on by `shift` bytes, up or down: room for a
    // prefix at `at` that turned out longer or shorter than its place.
    void shift_tail(std::size_t at, std::ptrdiff_t shift) {
        if (shift > 0) room(static_cast<std::size_t>(shift));
        std::memmove(bytes_.get() + at + shift, bytes_.get() + at, size_ - at);
        size_ = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(size_) + shift);
    }

private:
    void grow(std::size_t bytes) {
        const std::size_t capacity = std::max({capacity_ * 2, size_ + bytes, std::size_t{4096}});
        auto grown = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
        if (size_ > 0) std::memcpy(grown.get(), bytes_.get(), size_);
        bytes_ = std::move(grown);
        capacity_ = capacity;
    }

    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace quorvane::cache
