#include "core/input/bz2_source.h"

#include <bzlib.h>

#include <algorithm>
#include <limits>
#include <new>

#include "core/input/stream_error.h"

namespace quorvane::input {

struct Bz2Decoder {
    bz_stream stream{};
};

namespace {

[[noreturn]] void fail(const char* message) { throw StreamError(message); }

}  // namespace

Bz2Source::Bz2Source(ByteSource& compressed)
    : compressed_(compressed),
      input_(std::make_unique<char[]>(BZ2_INPUT_BUFFER_SIZE)),
      decoder_(std::make_unique<Bz2Decoder>()) {}

Bz2Source::~Bz2Source() { end_stream(); }

std::size_t Bz2Source::read(std::span<std::byte> out) {
    if (fault_) std::rethrow_exception(fault_);
    try {
        return decompress_into(out);
    } catch (...) {
        // The decoder is left mid-way: every later read repeats the fault.
        fault_ = std::current_exception();
        end_stream();
        throw;
    }
}

std::size_t Bz2Source::decompress_into(std::span<std::byte> out) {
    std::size_t produced = 0;
    while (produced < out.size() && !data_ended_) {
        const bool input_left = has_input();
        if (!in_stream_) {
            if (!input_left) {
                // An empty file holds no stream at all, which is a truncation too.
                if (!stream_completed_) fail("unexpected end of file");
                data_ended_ = true;
                break;
            }
            start_stream();
        }
        bz_stream& stream = decoder_->stream;
        char* target = reinterpret_cast<char*>(out.data() + produced);
        stream.next_out = target;
        stream.avail_out = static_cast<unsigned>(
            std::min<std::size_t>(out.size() - produced, std::numeric_limits<unsigned>::max()));
        const int status = BZ2_bzDecompress(&stream);
        const auto written = static_cast<std::size_t>(stream.next_out - target);
        produced += written;
        if (status == BZ_STREAM_END) {
            end_stream();
            stream_completed_ = true;
        } else if (status == BZ_DATA_ERROR_MAGIC && stream_completed_) {
            // Bytes after the last stream that do not start another one are
            // ignored, as bzip2 itself does.
            end_stream();
            data_ended_ = true;
        } else if (status == BZ_MEM_ERROR) {
            throw std::bad_alloc();
        } else if (status != BZ_OK) {
            fail("corrupt bz2 stream");
        } else if (written == 0 && stream.avail_in == 0 && input_ended_) {
            fail("unexpected end of file");
        }
    }
    return produced;
}

void Bz2Source::start_stream() {
    bz_stream& stream = decoder_->stream;
    char* const next_in = stream.next_in;
    const unsigned avail_in = stream.avail_in;
    stream = bz_stream{};
    if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) throw std::bad_alloc();
    stream.next_in = next_in;
    stream.avail_in = avail_in;
    in_stream_ = true;
}

void Bz2Source::end_stream() noexcept {
    if (!in_stream_) return;
    BZ2_bzDecompressEnd(&decoder_->stream);
    in_stream_ = false;
}

bool Bz2Source::has_input() {
    if (decoder_->stream.avail_in != 0) return true;
    if (input_ended_) return false;
    const std::size_t got = compressed_.read({reinterpret_cast<std::byte*>(input_.get()), BZ2_INPUT_BUFFER_SIZE});
    decoder_->stream.next_in = input_.get();
    decoder_->stream.avail_in = static_cast<unsigned>(got);
    input_ended_ = got == 0;
    return !input_ended_;
}

}  // namespace quorvane::input
