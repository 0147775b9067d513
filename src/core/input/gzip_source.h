// Decompresses gzip data (RFC 1952) read from another source. Every member
// is read in turn, each checked against its own CRC-32 and length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <span>

#include "core/input/byte_source.h"
#include "core/input/raw_inflater.h"

namespace quorvane::input {

inline constexpr std::size_t GZIP_INPUT_BUFFER_SIZE = 32 * 1024;

class GzipSource final : public ByteSource {
public:
    // Reads the first member's header at once; a fault found there is
    // thrown by the first read.
    explicit GzipSource(ByteSource& compressed);
    ~GzipSource() override;
    GzipSource(const GzipSource&) = delete;
    GzipSource& operator=(const GzipSource&) = delete;

    std::size_t read(std::span<std::byte> out) override;

private:
    std::size_t inflate_into(std::span<std::byte> out);
    void read_header(std::size_t magic_bytes_read);
    void finish_member();
    bool next_member_follows();
    bool has_input();
    std::uint8_t next_byte();

    ByteSource& compressed_;
    std::unique_ptr<std::uint8_t[]> input_;
    std::uint8_t* cursor_;
    std::uint8_t* end_;
    bool input_ended_ = false;
    bool members_ended_ = false;
    RawInflater inflater_;
    std::uint32_t crc_ = 0;
    std::uint32_t length_ = 0;
    std::exception_ptr fault_;
};

}  // namespace quorvane::input
