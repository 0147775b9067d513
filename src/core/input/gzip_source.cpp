#include "core/input/gzip_source.h"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "core/input/stream_error.h"

namespace quorvane::input {
namespace {

// The inflater reads up to 8 bytes past the end of a deflate body into its
// bit buffer; they are put back in front of the cursor, so the buffer keeps
// that much room before the data read into it.
constexpr std::size_t put_back_room = 8;

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
      end_(cursor_),
      inflater_(std::make_unique<inflate_state>()) {
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
        inflate_state& inflater = *inflater_;
        inflater.next_in = cursor_;
        inflater.avail_in = static_cast<std::uint32_t>(end_ - cursor_);
        inflater.next_out = target;
        inflater.avail_out = static_cast<std::uint32_t>(
            std::min<std::size_t>(out.size() - produced, std::numeric_limits<std::uint32_t>::max()));
        const int status = isal_inflate(&inflater);
        cursor_ = inflater.next_in;
        if (status < 0) fail("corrupt deflate stream");
        const auto written = static_cast<std::size_t>(inflater.next_out - target);
        crc_ = crc32_gzip_refl(crc_, target, written);
        length_ += static_cast<std::uint32_t>(written);
        produced += written;
        if (inflater.block_state == ISAL_BLOCK_FINISH) {
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
        const std::uint32_t expected = crc32_gzip_refl(0, header.data(), header.size()) & 0xFFFF;
        const std::uint8_t check[2] = {next_byte(), next_byte()};
        if (little_endian(check, 2) != expected) fail("corrupt gzip stream does not have a matching checksum");
    }
    isal_inflate_init(inflater_.get());
    inflater_->crc_flag = ISAL_DEFLATE;
    crc_ = 0;
    length_ = 0;
}

void GzipSource::finish_member() {
    inflate_state& inflater = *inflater_;
    const std::size_t read_ahead = inflater.read_in_length / 8;
    const std::uint64_t bits = inflater.read_in >> (inflater.read_in_length % 8);
    cursor_ -= read_ahead;
    for (std::size_t i = 0; i < read_ahead; ++i) cursor_[i] = static_cast<std::uint8_t>(bits >> (8 * i));

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
