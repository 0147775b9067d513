#include "core/input/read_ahead_source.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace quorvane::input {

void ReadAheadSource::start() {
    started_ = true;
    for (Buffer& buffer : buffers_) buffer.bytes = std::make_unique_for_overwrite<std::byte[]>(kBufferSize);
    try {
        worker_ = std::thread(&ReadAheadSource::fill_buffers, this);
    } catch (const std::system_error&) {
        // No thread to be had: the source is read directly to the end.
    }
}

ReadAheadSource::~ReadAheadSource() {
    if (!worker_.joinable()) return;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    emptied_.notify_one();
    worker_.join();
}

void ReadAheadSource::fill_buffers() {
    for (std::size_t index = 0;; index = (index + 1) % kBuffers) {
        {
            std::unique_lock lock(mutex_);
            emptied_.wait(lock, [&] { return stopping_ || filled_count_ < kBuffers; });
            if (stopping_) return;
        }
        Buffer& buffer = buffers_[index];
        buffer.size = 0;
        try {
            while (buffer.size < kBufferSize) {
                const std::size_t got = source_.read({buffer.bytes.get() + buffer.size, kBufferSize - buffer.size});
                if (got == 0) {
                    buffer.last = true;
                    break;
                }
                buffer.size += got;
            }
        } catch (...) {
            buffer.fault = std::current_exception();
            buffer.last = true;
        }
        {
            const std::lock_guard lock(mutex_);
            ++filled_count_;
        }
        filled_.notify_one();
        if (buffer.last) return;
    }
}

const ReadAheadSource::Buffer& ReadAheadSource::next_filled() {
    if (!holding_) {
        std::unique_lock lock(mutex_);
        filled_.wait(lock, [&] { return filled_count_ > 0; });
        holding_ = true;
        offset_ = 0;
    }
    return buffers_[reading_];
}

void ReadAheadSource::release_reading() {
    {
        const std::lock_guard lock(mutex_);
        --filled_count_;
    }
    emptied_.notify_one();
    holding_ = false;
    reading_ = (reading_ + 1) % kBuffers;
}

std::size_t ReadAheadSource::read(std::span<std::byte> out) {
    if (!started_) {
        const std::size_t got = source_.read(out);
        read_directly_ += got;
        if (got != 0 && read_directly_ >= kReadDirectly) start();
        return got;
    }
    if (!worker_.joinable()) return source_.read(out);
    for (;;) {
        if (ended_) {
            if (fault_) std::rethrow_exception(fault_);
            return 0;
        }
        if (out.empty()) return 0;
        const Buffer& buffer = next_filled();
        if (offset_ < buffer.size) {
            const std::size_t count = std::min(out.size(), buffer.size - offset_);
            std::memcpy(out.data(), buffer.bytes.get() + offset_, count);
            offset_ += count;
            return count;
        }
        if (buffer.last) {
            // The thread has stopped after this buffer.
            ended_ = true;
            fault_ = buffer.fault;
        } else {
            release_reading();
        }
    }
}

}  // namespace quorvane::input
