#include <zlib.h>

#include <algorithm>
#include <limits>
#include <new>

#include "core/input/raw_inflater.h"
#include "core/input/stream_error.h"

namespace quorvane::input {

struct RawInflater::State {
    z_stream stream{};
    bool initialised = false;

    ~State() {
        if (initialised) inflateEnd(&stream);
    }
};

RawInflater::RawInflater() : state_(std::make_unique<State>()) {}
RawInflater::~RawInflater() = default;

void RawInflater::start() {
    State& state = *state_;
    if (state.initialised) {
        if (inflateReset(&state.stream) != Z_OK) throw std::bad_alloc();
        return;
    }
    // Negative window bits: a raw body, with no zlib header or trailer.
    if (inflateInit2(&state.stream, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
    state.initialised = true;
}

RawInflater::Progress RawInflater::inflate(const std::uint8_t* in, std::size_t in_size, std::uint8_t* out,
                                           std::size_t out_size) {
    z_stream& stream = state_->stream;
    stream.next_in = const_cast<Bytef*>(in);
    stream.avail_in = static_cast<uInt>(in_size);
    stream.next_out = out;
    stream.avail_out = static_cast<uInt>(std::min<std::size_t>(out_size, std::numeric_limits<uInt>::max()));
    const int status = ::inflate(&stream, Z_NO_FLUSH);
    if (status == Z_MEM_ERROR) throw std::bad_alloc();
    // Z_BUF_ERROR only says that no progress was possible: the caller judges
    // a lack of input.
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
        throw StreamError("corrupt deflate stream");
    }
    return {static_cast<std::size_t>(stream.next_in - in), static_cast<std::size_t>(stream.next_out - out),
            status == Z_STREAM_END};
}

// zlib stops at the body's last byte: nothing was read beyond it.
std::uint8_t* RawInflater::put_back(std::uint8_t* cursor) { return cursor; }

std::uint32_t RawInflater::crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
    return static_cast<std::uint32_t>(crc32_z(crc, data, size));
}

}  // namespace quorvane::input
