#include "core/input/gzip_source.h"

#include <vector>

#include "core/input/stream_error.h"

namespace quorvane::input {
namespace {

// Bytes the inflater read past the end of a deflate body are put back in
// front of the cursor, so the buffer keeps that much room before the data.
constexpr std::size_t put_back_room = RawInflater::kPutBackRoom;

constexpr std::uint8_t magic_1 = 0x1F;
constexpr std::uint8_t magic_2 = 0x8B;
constexpr std::uint8_t method_deflate = 8;
constexpr std::uint8_t flag_header_crc = 0x02;
constexpr std::uint8_t flag_extra = 0x04;
constexpr std::uint8_t flag_name = 0x08;
constexpr std::uint8_t flag_comment = 0x10;
constexpr std::uint8_t flags_reserved = 0xE0;
constexpr std::size_t fixed_header_size = 10;
constexpr std::size_t max_text_field = 65535;

[[noreturn]] void fail(const char* message) { throw StreamError(message); }

std::uint32_t little_endian(const std::uint8_t* bytes, std::size_t count) {
    std::uint32_t value = 0;
    for (std::size_t i = count; i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

}  // namespace

GzipSource::GzipSource(ByteSource& compressed)
    : compressed_(compressed),
      input_(std::make_unique<std::uint8_t[]>(put_back_room + GZIP_INPUT_BUFFER_SIZE)),
      cursor_(input_.get() + put_back_room),
      end_(cursor_) {
    try {
        read_header(0);
    } catch (...) {
        fault_ = std::current_exception();
    }
}

GzipSource::~GzipSource() = default;

std::size_t GzipSource::read(std::span<std::byte> out) {
    if (fault_) std::rethrow_exception(fault_);
    try {
        return inflate_into(out);
    } catch (...) {
        // A fault leaves the decoder mid-way: every later read repeats it.
        fault_ = std::current_exception();
        throw;
    }
}

std::size_t GzipSource::inflate_into(std::span<std::byte> out) {
    std::size_t produced = 0;
    while (produced < out.size() && !members_ended_) {
        has_input();  // refills a used-up buffer; the end is judged after inflating
        auto* target = reinterpret_cast<std::uint8_t*>(out.data() + produced);
        const RawInflater::Progress progress =
            inflater_.inflate(cursor_, static_cast<std::size_t>(end_ - cursor_), target, out.size() - produced);
        cursor_ += progress.consumed;
        const std::size_t written = progress.written;
        crc_ = RawInflater::crc32(crc_, target, written);
        length_ += static_cast<std::uint32_t>(written);
        produced += written;
        if (progress.finished) {
            finish_member();
        } else if (written == 0 && cursor_ == end_ && input_ended_) {
            fail("unexpected end of file");
        }
    }
    return produced;
}

void GzipSource::read_header(std::size_t magic_bytes_read) {
    // Every header byte is kept for the optional header CRC.
    std::vector<std::uint8_t> header{magic_1, magic_2};
    header.resize(magic_bytes_read);
    auto take = [&] { return header.emplace_back(next_byte()); };
    while (header.size() < fixed_header_size) take();
    const std::uint8_t flags = header[3];
    if (header[0] != magic_1 || header[1] != magic_2 || header[2] != method_deflate || (flags & flags_reserved) != 0) {
        fail("invalid gzip header");
    }
    if (flags & flag_extra) {
        const std::uint32_t low = take();
        std::uint32_t extra_length = low | std::uint32_t{take()} << 8;
        while (extra_length-- > 0) take();
    }
    for (const std::uint8_t text_field : {flag_name, flag_comment}) {
        if (!(flags & text_field)) continue;
        for (std::size_t length = 0; take() != 0; ++length) {
            if (length == max_text_field) fail("gzip header field too long");
        }
    }
    if (flags & flag_header_crc) {
        const std::uint32_t expected = RawInflater::crc32(0, header.data(), header.size()) & 0xFFFF;
        const std::uint8_t check[2] = {next_byte(), next_byte()};
        if (little_endian(check, 2) != expected) fail("corrupt gzip stream does not have a matching checksum");
    }
    inflater_.start();
    crc_ = 0;
    length_ = 0;
}

void GzipSource::finish_member() {
    cursor_ = inflater_.put_back(cursor_);

    std::uint8_t trailer[8];
    for (std::uint8_t& byte : trailer) byte = next_byte();
    if (little_endian(trailer, 4) != crc_ || little_endian(trailer + 4, 4) != length_) {
        fail("corrupt gzip stream does not have a matching checksum");
    }
    if (next_member_follows()) {
        read_header(2);
    } else {
        members_ended_ = true;
    }
}

bool GzipSource::next_member_follows() {
    // Anything after a member that is not another member is ignored.
    for (const std::uint8_t magic : {magic_1, magic_2}) {
        if (!has_input() || *cursor_ != magic) return false;
        ++cursor_;
    }
    return true;
}

bool GzipSource::has_input() {
    if (cursor_ != end_) return true;
    if (input_ended_) return false;
    cursor_ = input_.get() + put_back_room;
    end_ = cursor_ + compressed_.read({reinterpret_cast<std::byte*>(cursor_), GZIP_INPUT_BUFFER_SIZE});
    input_ended_ = cursor_ == end_;
    return !input_ended_;
}

std::uint8_t GzipSource::next_byte() {
    if (!has_input()) fail("unexpected end of file");
    return *cursor_++;
}

}  // namespace quorvane::input
