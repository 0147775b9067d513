// Inflates raw deflate bodies for GzipSource, which reads the gzip framing
// around them. Built on ISA-L where the build found it, on zlib otherwise;
// both give the same bytes and the same faults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quorvane::input {

class RawInflater {
public:
    RawInflater();
    ~RawInflater();
    RawInflater(const RawInflater&) = delete;
    RawInflater& operator=(const RawInflater&) = delete;

    // Readies the inflater for a new body.
    void start();

    struct Progress {
        std::size_t consumed;
        std::size_t written;
        bool finished;  // the body's last block is inflated
    };
    // Inflates what it can of `in` into `out`. Throws StreamError
    // "corrupt deflate stream" for data that is no deflate body.
    Progress inflate(const std::uint8_t* in, std::size_t in_size, std::uint8_t* out, std::size_t out_size);

    // After a finished body: moves `cursor`, just past the consumed input,
    // back over any bytes read beyond the body's end, and writes them there
    // again. At most kPutBackRoom bytes before `cursor` are written.
    std::uint8_t* put_back(std::uint8_t* cursor);
    static constexpr std::size_t kPutBackRoom = 8;

    // The gzip CRC-32 of `data` continued from `crc`.
    static std::uint32_t crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace quorvane::input
