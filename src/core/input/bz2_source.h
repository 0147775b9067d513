// Decompresses bzip2 data read from another source. Streams that follow one
// another (as parallel compressors write them) are read in turn.
#pragma once

#include <cstddef>
#include <exception>
#include <memory>
#include <span>

#include "core/input/byte_source.h"

namespace quorvane::input {

struct Bz2Decoder;  // libbz2's stream state, kept out of this header

inline constexpr std::size_t BZ2_INPUT_BUFFER_SIZE = 64 * 1024;

class Bz2Source final : public ByteSource {
public:
    explicit Bz2Source(ByteSource& compressed);
    ~Bz2Source() override;
    Bz2Source(const Bz2Source&) = delete;
    Bz2Source& operator=(const Bz2Source&) = delete;

    std::size_t read(std::span<std::byte> out) override;

private:
    std::size_t decompress_into(std::span<std::byte> out);
    void start_stream();
    void end_stream() noexcept;
    bool has_input();

    ByteSource& compressed_;
    std::unique_ptr<char[]> input_;
    std::unique_ptr<Bz2Decoder> decoder_;
    bool in_stream_ = false;
    bool stream_completed_ = false;
    bool input_ended_ = false;
    bool data_ended_ = false;
    std::exception_ptr fault_;
};

}  // namespace quorvane::input
