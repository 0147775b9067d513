// Shared helpers of the stream reading tests: gzip data built with zlib
// (whichever library the reader inflates with), sources that deliver bytes in small pieces, temporary files.
#pragma once

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/input/byte_source.h"
#include "core/input/stream_error.h"
#include "shared_data.h"

namespace quorvane::testing {

inline std::span<const std::byte> bytes_of(std::string_view text) { return std::as_bytes(std::span(text)); }

// Compresses `text` with zlib; `window_bits` is -MAX_WBITS for a raw body or
// MAX_WBITS + 16 for a whole member with zlib's own header and trailer.
inline std::string zlib_compress(std::string_view text, int window_bits = -MAX_WBITS) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
    return out;
}

inline std::uint32_t crc32_of(std::string_view bytes) {
    return static_cast<std::uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

inline void append_little_endian(std::string& out, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// The optional fields of a hand-written gzip header.
struct GzipHeader {
    std::optional<std::string> extra{};
    std::optional<std::string> name{};
    std::optional<std::string> comment{};
    bool header_crc = false;
    std::uint8_t extra_flags = 0;  // ORed into the flag byte as given
};

inline std::string gzip_header(const GzipHeader& fields = {}) {
    std::uint8_t flags = fields.extra_flags;
    if (fields.header_crc) flags |= 0x02;
    if (fields.extra) flags |= 0x04;
    if (fields.name) flags |= 0x08;
    if (fields.comment) flags |= 0x10;
    std::string header = "\x1F\x8B\x08";
    header.push_back(static_cast<char>(flags));
    header += std::string_view("\x00\x00\x00\x00\x00\xFF", 6);  // mtime, extra flags, OS
    if (fields.extra) {
        append_little_endian(header, static_cast<std::uint32_t>(fields.extra->size()), 2);
        header += *fields.extra;
    }
    for (const auto& text : {fields.name, fields.comment}) {
        if (text) header.append(*text).push_back('\0');
    }
    if (fields.header_crc) append_little_endian(header, crc32_of(header) & 0xFFFF, 2);
    return header;
}

inline std::string gzip_trailer(std::string_view text) {
    std::string trailer;
    append_little_endian(trailer, crc32_of(text), 4);
    append_little_endian(trailer, static_cast<std::uint32_t>(text.size()), 4);
    return trailer;
}

inline std::string gzip_member(std::string_view text, const GzipHeader& fields = {}) {
    return gzip_header(fields) + zlib_compress(text) + gzip_trailer(text);
}

// Text of many short lines, compressible but not trivially.
inline std::string sample_lines(std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += "{\"pt\":" + std::to_string(1000 + i * 37) + ",\"mc\":[{\"id\":\"1." + std::to_string(i * 7919 % 104729) + "\"}]}\n";
    }
    return text;
}

// Delivers a string at most `chunk` bytes per read.
class ChunkedSource final : public input::ByteSource {
public:
    ChunkedSource(std::string_view bytes, std::size_t chunk) : rest_(bytes), chunk_(chunk) {}

    std::size_t read(std::span<std::byte> out) override {
        const std::size_t count = std::min({out.size(), rest_.size(), chunk_});
        std::memcpy(out.data(), rest_.data(), count);
        rest_.remove_prefix(count);
        return count;
    }

private:
    std::string_view rest_;
    std::size_t chunk_;
};

inline std::string read_all(input::ByteSource& source, std::size_t chunk = 1 << 16) {
    std::string out;
    std::string piece(chunk, '\0');
    while (const std::size_t got = source.read(std::as_writable_bytes(std::span(piece)))) out.append(piece, 0, got);
    return out;
}

// Everything a decoding source of type Decoder makes of `compressed`, fed
// and read in pieces of the given sizes.
template <class Decoder>
std::string decode_all(std::string_view compressed, std::size_t in_chunk = SIZE_MAX,
                       std::size_t out_chunk = 1 << 16) {
    ChunkedSource source(compressed, in_chunk);
    Decoder decoder(source);
    return read_all(decoder, out_chunk);
}

// The message of the fault met while decoding, or "" when there is none.
template <class Decoder>
std::string decode_fault(std::string_view compressed, std::size_t in_chunk = SIZE_MAX) {
    try {
        decode_all<Decoder>(compressed, in_chunk);
    } catch (const input::StreamError& error) {
        return error.what();
    }
    return "";
}

// Read sizes on the input and the output side of a decoder.
struct ChunkCase {
    std::size_t in_chunk;
    std::size_t out_chunk;
};

// A file in a directory of this test process, removed with the object.
class TempFile {
public:
    TempFile(std::string_view name, std::string_view content) : path_(next_directory() / name) {
        std::filesystem::create_directories(path_.parent_path());
        std::ofstream(path_, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
    }
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove_all(path_.parent_path(), ignored);
        std::filesystem::remove(path_.parent_path().parent_path(), ignored);  // only once empty
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    std::string path() const { return path_.string(); }

private:
    static std::filesystem::path next_directory() {
        static int count = 0;
        return std::filesystem::temp_directory_path() / ("quorvane-tests-" + std::to_string(::getpid())) /
               std::to_string(++count);
    }

    std::filesystem::path path_;
};

inline std::optional<std::string> read_shared_file(std::string_view relative) {
    std::ifstream in(shared_dir() / relative, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace quorvane::testing
