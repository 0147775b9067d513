// Reads another source on a thread of its own, a few buffers ahead of the
// caller, so that decompressing a file and reading its lines overlap. The
// first megabyte is read directly: a small file is over before a thread
// would pay for itself. The thread starts once that megabyte is read, and
// reads the next while the caller takes it in.
#pragma once

#include <array>
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
    // A buffer is filled by one read where the source can, as large as the
    // line reader's own, so that a fault of a decoder loses the same bytes
    // read ahead as read directly.
    static constexpr std::size_t kBufferSize = 1024 * 1024;
    static constexpr std::size_t kBuffers = 3;
    static constexpr std::size_t kReadDirectly = 1024 * 1024;

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
    void fill_buffers();
    const Buffer& next_filled();
    void release_reading();

    ByteSource& source_;
    std::size_t read_directly_ = 0;  // bytes read before the thread started
    bool started_ = false;
    std::array<Buffer, kBuffers> buffers_;  // filled and read in turn, round the ring

    std::mutex mutex_;
    std::condition_variable filled_;
    std::condition_variable emptied_;
    std::size_t filled_count_ = 0;  // buffers filled and not yet read through
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
