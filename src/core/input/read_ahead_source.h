// Reads another source on a thread of its own, a few pieces ahead of the
// caller, so that decompressing a file, or copying a large one out of the
// file cache, overlaps with reading its lines. The
// first piece is read directly: a file that small is over before handing
// pieces between threads pays. The pieces after it start small, so that the
// caller soon has one, and double up to a megabyte.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

#include "core/input/byte_source.h"

namespace quorvane::input {

class ReadAheadSource final : public ByteSource {
public:
    // Pieces end at the same places whether the thread reads them or, where
    // none can be had, the caller does: a fault of a decoder loses the same
    // bytes either way.
    static constexpr std::size_t kReadDirectly = 128 * 1024;
    static constexpr std::size_t kFirstPieceAhead = 32 * 1024;
    static constexpr std::size_t kBufferSize = 1024 * 1024;  // the largest piece
    static constexpr std::size_t kBuffers = 3;

    // The source must outlive this, and is read by nothing else. Where no
    // thread can be started, it is read directly to the end.
    explicit ReadAheadSource(ByteSource& source) : source_(source) {}
    // Stops the thread, which may first finish the read it is in.
    ~ReadAheadSource() override;
    ReadAheadSource(const ReadAheadSource&) = delete;
    ReadAheadSource& operator=(const ReadAheadSource&) = delete;

    // The source's bytes in order. A fault of the source is thrown after the
    // bytes of the reads before the failed one, and again by every later read.
    std::size_t read(std::span<std::byte> out) override;

private:
    struct Buffer {
        std::unique_ptr<std::byte[]> bytes;
        std::size_t size = 0;
        bool last = false;          // the source ended, or failed, after these bytes
        std::exception_ptr fault;   // what it failed with
    };

    void start();
    std::size_t read_piece(std::span<std::byte> out);
    void fill_buffers();
    const Buffer& next_filled();
    void release_reading();

    ByteSource& source_;
    std::size_t piece_size_ = kReadDirectly;  // the piece read now
    std::size_t piece_read_ = 0;            // bytes of it read
    bool started_ = false;
    std::array<Buffer, kBuffers> buffers_;  // filled and read in turn, round the ring

    std::mutex mutex_;
    std::condition_variable filled_;
    std::condition_variable emptied_;
    // Buffers filled and not yet read through; changed under the mutex,
    // read without it while the reader spins.
    std::atomic<std::size_t> filled_count_ = 0;
    bool stopping_ = false;

    // The reader's side.
    std::size_t reading_ = 0;  // the buffer read from
    std::size_t offset_ = 0;
    bool holding_ = false;     // reading_ is filled and not yet released
    std::exception_ptr fault_;
    bool ended_ = false;

    std::thread worker_;
};

}  // namespace quorvane::input
