#include "core/input/gzip_source.h"

#include <gtest/gtest.h>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

#include "core/input/memory_source.h"
#include "core/input/stream_error.h"
#include "stream_test_support.h"

namespace quorvane::input {
namespace {

using testing::ChunkCase;
using testing::GzipHeader;
using testing::gzip_header;
using testing::gzip_member;
using testing::gzip_trailer;
using testing::read_all;
using testing::sample_lines;

std::string decompress(std::string_view compressed, std::size_t in_chunk = SIZE_MAX, std::size_t out_chunk = 1 << 16) {
    return testing::decode_all<GzipSource>(compressed, in_chunk, out_chunk);
}

std::string fault_of(std::string_view compressed, std::size_t in_chunk = SIZE_MAX) {
    return testing::decode_fault<GzipSource>(compressed, in_chunk);
}

class GzipChunking : public ::testing::TestWithParam<ChunkCase> {};

// Small pieces on either side move the end of each deflate body to every
// place relative to the input buffer, including bytes the inflater read ahead.
TEST_P(GzipChunking, DecodesMembersWhateverTheReadSizes) {
    const auto [in_chunk, out_chunk] = GetParam();
    const std::string big = sample_lines(20000);
    const std::string empty;
    const std::string small = "one line\n";
    const std::string members = gzip_member(big) + gzip_member(empty) + gzip_member(small) + gzip_member(big);
    EXPECT_EQ(decompress(members, in_chunk, out_chunk), big + empty + small + big);
}

INSTANTIATE_TEST_SUITE_P(ReadSizes, GzipChunking,
                         ::testing::Values(ChunkCase{1, 1 << 20}, ChunkCase{3, 7}, ChunkCase{7, 1 << 16},
                                           ChunkCase{4096, 1}, ChunkCase{SIZE_MAX, 100},
                                           ChunkCase{SIZE_MAX, 1 << 20}));

TEST(GzipSource, DecodesZlibsOwnGzipMember) {
    const std::string text = sample_lines(3000);
    EXPECT_EQ(decompress(testing::zlib_compress(text, MAX_WBITS + 16)), text);
}

#if defined(__x86_64__)
// Whether the upper halves of vector registers 0-15 are in use, as XGETBV
// with ECX = 1 reports it; nothing where the CPU cannot tell.
std::optional<bool> upper_vector_halves_in_use() {
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid_count(0xD, 1, &eax, &ebx, &ecx, &edx) || (eax & (1u << 2)) == 0) return std::nullopt;
    std::uint32_t low, high;
    asm volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(1));
    constexpr std::uint32_t kYmmHigh128 = 1u << 2, kZmmHigh256 = 1u << 6;
    return (low & (kYmmHigh128 | kZmmHigh256)) != 0;
}

// Left in use, they slow every SSE instruction of the thread that follows.
TEST(GzipSource, LeavesNoUpperVectorHalvesInUse) {
    const std::string text = sample_lines(3000);
    const std::string decoded = decompress(gzip_member(text));
    const std::optional<bool> in_use = upper_vector_halves_in_use();
    if (!in_use) GTEST_SKIP() << "the CPU does not report which vector state is in use";
    EXPECT_FALSE(*in_use);
    EXPECT_EQ(decoded, text);
}
#endif

TEST(GzipSource, DecodesRecordedFileToItsPlainCopyLessCarriageReturns) {
    const auto compressed = testing::read_shared_file("data/real/BASIC-1.132153978.gz");
    const auto plain = testing::read_shared_file("data/real/BASIC-1.132153978");
    if (!compressed || !plain) QUORVANE_SHARED_DATA_MISSING() << "shared recordings not found under " << testing::shared_dir();
    // The compressed copy was recorded with CRLF line ends.
    std::string text = decompress(*compressed);
    std::erase(text, '\r');
    EXPECT_EQ(text, *plain);
}

struct HeaderCase {
    const char* label;
    GzipHeader fields;
};

class GzipHeaderFields : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(GzipHeaderFields, AreSkippedBeforeTheBody) {
    const std::string text = "{\"pt\":1}\n";
    EXPECT_EQ(decompress(gzip_member(text, GetParam().fields), 5), text);
}

INSTANTIATE_TEST_SUITE_P(
    Flags, GzipHeaderFields,
    ::testing::Values(HeaderCase{"text_flag", {.extra_flags = 0x01}},
                      HeaderCase{"extra", {.extra = std::string("AB\x04\x00wxyz", 8)}},
                      HeaderCase{"empty_extra", {.extra = ""}},
                      HeaderCase{"name", {.name = "market.json"}},
                      HeaderCase{"longest_name", {.name = std::string(65535, 'n')}},
                      HeaderCase{"comment", {.comment = "recorded"}},
                      HeaderCase{"longest_comment", {.comment = std::string(65535, 'c')}},
                      HeaderCase{"header_crc", {.header_crc = true}},
                      HeaderCase{"all", {.extra = "xy", .name = "n", .comment = "c", .header_crc = true}}),
    [](const auto& info) { return std::string(info.param.label); });

std::string with_byte(std::string bytes, std::size_t index, std::uint8_t value) {
    bytes[index] = static_cast<char>(value);
    return bytes;
}

struct FaultCase {
    const char* label;
    std::string bytes;
    const char* message;
};

class GzipFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(GzipFaults, FailWithTheirMessage) {
    EXPECT_EQ(fault_of(GetParam().bytes), GetParam().message);
    EXPECT_EQ(fault_of(GetParam().bytes, 1), GetParam().message);
}

const std::string member = gzip_member("a line\n");
const std::string header_crc_member = gzip_member("a line\n", {.name = "n", .header_crc = true});
constexpr const char* invalid_header = "invalid gzip header";
constexpr const char* too_long = "gzip header field too long";
constexpr const char* bad_checksum = "corrupt gzip stream does not have a matching checksum";
constexpr const char* bad_deflate = "corrupt deflate stream";
constexpr const char* early_end = "unexpected end of file";

INSTANTIATE_TEST_SUITE_P(
    Messages, GzipFaults,
    ::testing::Values(
        FaultCase{"first_magic_byte", with_byte(member, 0, 0x1E), invalid_header},
        FaultCase{"second_magic_byte", with_byte(member, 1, 0x8C), invalid_header},
        FaultCase{"method_7", with_byte(member, 2, 7), invalid_header},
        FaultCase{"flag_bit_5", with_byte(member, 3, 0x20), invalid_header},
        FaultCase{"flag_bit_6", with_byte(member, 3, 0x40), invalid_header},
        FaultCase{"flag_bit_7", with_byte(member, 3, 0x80), invalid_header},
        FaultCase{"plain_text", "{\"pt\": 1, \"mc\": []}\n", invalid_header},
        // The fixed ten header bytes are read before any is judged.
        FaultCase{"plain_text_under_ten_bytes", "{\"pt\":1}\n", early_end},
        FaultCase{"name_too_long", gzip_member("x", {.name = std::string(65536, 'n')}), too_long},
        FaultCase{"comment_too_long", gzip_member("x", {.comment = std::string(70000, 'c')}), too_long},
        FaultCase{"header_crc", with_byte(header_crc_member, 12, header_crc_member[12] ^ 1), bad_checksum},
        FaultCase{"header_covered_by_crc", with_byte(header_crc_member, 4, 1), bad_checksum},
        FaultCase{"reserved_block_type", gzip_header() + "\x07" + std::string(20, '\0'), bad_deflate},
        FaultCase{"stored_block_length_check", gzip_header() + std::string("\x01\x05\x00\x00\x00hello", 10), bad_deflate},
        FaultCase{"distance_before_start", gzip_header() + std::string("\x03\x02\x00\x00", 4) + gzip_trailer(""),
                  bad_deflate},
        FaultCase{"empty", "", early_end},
        FaultCase{"extra_longer_than_data", gzip_header({.extra = "xy"}).substr(0, 13), early_end},
        FaultCase{"second_member_header", member + with_byte(member, 2, 9), invalid_header},
        FaultCase{"second_member_body", member + gzip_header() + "\x07" + std::string(20, '\0'), bad_deflate},
        FaultCase{"second_member_trailer", member + with_byte(member, member.size() - 1, 1), bad_checksum},
        FaultCase{"second_member_cut", member + member.substr(0, 12), early_end}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(GzipSource, EveryTrailerByteIsChecked) {
    const std::string text = sample_lines(50);
    const std::string good = gzip_member(text);
    ASSERT_EQ(decompress(good), text);
    for (std::size_t i = good.size() - 8; i < good.size(); ++i) {
        EXPECT_EQ(fault_of(with_byte(good, i, good[i] ^ 0x10)), bad_checksum) << "trailer byte " << i;
    }
}

TEST(GzipSource, EveryTruncationEndsEarly) {
    const std::string whole = gzip_member(sample_lines(20), {.extra = "ex", .name = "nm", .comment = "cm", .header_crc = true});
    ASSERT_EQ(fault_of(whole), "");
    for (std::size_t size = 0; size < whole.size(); ++size) {
        EXPECT_EQ(fault_of(whole.substr(0, size)), early_end) << "prefix of " << size << " bytes";
    }
}

TEST(GzipSource, TruncatedSecondMemberEndsEarlyOnceItsMagicIsThere) {
    const std::string first = gzip_member("first\n");
    const std::string second = gzip_member("second\n");
    const std::string both = first + second;
    for (std::size_t size = first.size(); size < both.size(); ++size) {
        const std::string prefix = both.substr(0, size);
        if (size < first.size() + 2) {
            // A lone 0x1F after a member does not start one: it is ignored.
            EXPECT_EQ(decompress(prefix), "first\n") << "prefix of " << size << " bytes";
        } else {
            EXPECT_EQ(fault_of(prefix), early_end) << "prefix of " << size << " bytes";
        }
    }
}

struct TrailingCase {
    const char* label;
    std::string after;
};

class GzipTrailingBytes : public ::testing::TestWithParam<TrailingCase> {};

TEST_P(GzipTrailingBytes, AfterAMemberAreIgnored) {
    const std::string text = sample_lines(10);
    EXPECT_EQ(decompress(gzip_member(text) + GetParam().after), text);
    EXPECT_EQ(decompress(gzip_member(text) + GetParam().after, 1), text);
}

INSTANTIATE_TEST_SUITE_P(Bytes, GzipTrailingBytes,
                         ::testing::Values(TrailingCase{"zeros", std::string(512, '\0')},
                                           TrailingCase{"text", "not a member\n"},
                                           TrailingCase{"lone_magic_byte", "\x1F"},
                                           TrailingCase{"magic_then_other", "\x1F\x8A\x08\x00"},
                                           TrailingCase{"member_after_garbage", "x" + gzip_member("hidden\n")}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(GzipSource, HeaderFaultWaitsForTheFirstReadAndStays) {
    MemorySource plain(testing::bytes_of("this is no gzip data\n"));
    std::optional<GzipSource> gzip;
    ASSERT_NO_THROW(gzip.emplace(plain));
    std::byte out[16];
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            gzip->read(out);
            FAIL() << "read " << attempt << " did not throw";
        } catch (const StreamError& error) {
            EXPECT_STREQ(error.what(), invalid_header);
        }
    }
}

TEST(GzipSource, KeepsReportingEndOfData) {
    MemorySource compressed(testing::bytes_of(member));
    GzipSource gzip(compressed);
    EXPECT_EQ(read_all(gzip), "a line\n");
    std::byte out[16];
    EXPECT_EQ(gzip.read(out), 0u);
}

}  // namespace
}  // namespace quorvane::input
