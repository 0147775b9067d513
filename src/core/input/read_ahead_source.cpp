#include "core/input/read_ahead_source.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>

#if defined(__x86_64__)
#include <immintrin.h>
#endif
#if defined(__linux__)
#include <sched.h>
#endif

namespace quorvane::input {

namespace {

std::size_t piece_after(std::size_t piece) { return std::min(2 * piece, ReadAheadSource::kBufferSize); }

// A sleeping thread takes 10-40 us to wake on a virtual machine, as long as
// reading a piece of 32 kB: the reader spins about that long before it sleeps.
// Only where the process has a second core: on one, spinning holds up the
// very thread it waits for.
constexpr std::chrono::microseconds spin_before_sleep{50};

bool has_second_core() {
    static const bool has = [] {
#if defined(__linux__)
        cpu_set_t cores;
        if (sched_getaffinity(0, sizeof cores, &cores) == 0) return CPU_COUNT(&cores) > 1;
#endif
        return std::thread::hardware_concurrency() > 1;
    }();
    return has;
}

void pause_spinning() {
#if defined(__x86_64__)
    _mm_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

}  // namespace

void ReadAheadSource::start() {
    started_ = true;
    for (Buffer& buffer : buffers_) buffer.bytes = std::make_unique_for_overwrite<std::byte[]>(kBufferSize);
    try {
        worker_ = std::thread(&ReadAheadSource::fill_buffers, this);
    } catch (const std::system_error&) {
        // No thread to be had: the source is read directly to the end.
    }
}

std::size_t ReadAheadSource::read_piece(std::span<std::byte> out) {
    const std::size_t got = source_.read(out.first(std::min(out.size(), piece_size_ - piece_read_)));
    piece_read_ += got;
    if (piece_read_ == piece_size_) {
        piece_size_ = started_ ? piece_after(piece_size_) : kFirstPieceAhead;
        piece_read_ = 0;
    }
    return got;
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
        std::byte* const bytes = buffer.bytes.get();
        buffer.size = 0;
        const std::size_t piece = piece_size_;
        piece_size_ = piece_after(piece);
        try {
            while (buffer.size < piece) {
                const std::size_t got = source_.read({bytes + buffer.size, piece - buffer.size});
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
        if (has_second_core()) {
            const auto spin_end = std::chrono::steady_clock::now() + spin_before_sleep;
            while (filled_count_ == 0 && std::chrono::steady_clock::now() < spin_end) pause_spinning();
        }
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
        const std::size_t got = read_piece(out);
        if (got != 0 && piece_read_ == 0) start();  // the piece read directly is whole
        return got;
    }
    if (!worker_.joinable()) return read_piece(out);
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
