#include "core/input/bz2_source.h"

#include <bzlib.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "core/input/path_extension.h"
#include "core/input/stream_error.h"
#include "core/input/stream_reader.h"
#include "stream_test_support.h"

namespace quorvane::input {
namespace {

using testing::ChunkCase;
using testing::ChunkedSource;
using testing::read_all;
using testing::sample_lines;
using testing::TempFile;

std::string bz2_compress(std::string_view text, int block_size = 9) {
    std::string out(text.size() + text.size() / 100 + 600, '\0');
    auto length = static_cast<unsigned>(out.size());
    if (BZ2_bzBuffToBuffCompress(out.data(), &length, const_cast<char*>(text.data()),
                                 static_cast<unsigned>(text.size()), block_size, 0, 0) != BZ_OK) {
        throw std::runtime_error("BZ2_bzBuffToBuffCompress failed");
    }
    out.resize(length);
    return out;
}

std::string decompress(std::string_view compressed, std::size_t in_chunk = SIZE_MAX, std::size_t out_chunk = 1 << 16) {
    return testing::decode_all<Bz2Source>(compressed, in_chunk, out_chunk);
}

std::string fault_of(std::string_view compressed, std::size_t in_chunk = SIZE_MAX) {
    return testing::decode_fault<Bz2Source>(compressed, in_chunk);
}

class Bz2Chunking : public ::testing::TestWithParam<ChunkCase> {};

// Small pieces on either side put every stream boundary at every place
// relative to the input buffer.
TEST_P(Bz2Chunking, DecodesConcatenatedStreamsWhateverTheReadSizes) {
    const auto [in_chunk, out_chunk] = GetParam();
    const std::string big = sample_lines(8000);
    const std::string small = "one line\n";
    const std::string streams = bz2_compress(big, 1) + bz2_compress("") + bz2_compress(small) + bz2_compress(big);
    EXPECT_EQ(decompress(streams, in_chunk, out_chunk), big + small + big);
}

INSTANTIATE_TEST_SUITE_P(ReadSizes, Bz2Chunking,
                         ::testing::Values(ChunkCase{1, 1 << 20}, ChunkCase{3, 7}, ChunkCase{7, 1 << 16},
                                           ChunkCase{4096, 1}, ChunkCase{SIZE_MAX, 100},
                                           ChunkCase{SIZE_MAX, 1 << 20}));

TEST(Bz2Source, IgnoresBytesAfterTheLastStreamThatStartNoOtherOne) {
    const std::string text = sample_lines(500);
    for (const std::string& trailing : {std::string(64, '\0'), std::string("garbage"), std::string("BZh0")}) {
        EXPECT_EQ(decompress(bz2_compress(text) + trailing, 5), text) << trailing.size() << " trailing bytes";
    }
}

struct FaultCase {
    const char* label;
    std::string compressed;
    const char* message;
};

class Bz2Faults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(Bz2Faults, FailWithTheirMessage) {
    for (const std::size_t in_chunk : {std::size_t{1}, std::size_t{1000}, SIZE_MAX}) {
        EXPECT_EQ(fault_of(GetParam().compressed, in_chunk), GetParam().message) << "read " << in_chunk << " at a time";
    }
}

const std::string whole = bz2_compress(sample_lines(3000));

std::string flipped(std::string bytes, std::size_t at) {
    bytes[at] = static_cast<char>(bytes[at] ^ 0x55);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Bz2Faults,
    ::testing::Values(FaultCase{"empty", "", "unexpected end of file"},
                      FaultCase{"magic only", "BZh9", "unexpected end of file"},
                      FaultCase{"cut in the middle", whole.substr(0, whole.size() / 2), "unexpected end of file"},
                      FaultCase{"last byte missing", whole.substr(0, whole.size() - 1), "unexpected end of file"},
                      FaultCase{"second stream cut", whole + whole.substr(0, 100), "unexpected end of file"},
                      FaultCase{"not bzip2", "{\"pt\":1,\"mc\":[]}\n", "corrupt bz2 stream"},
                      FaultCase{"bad block size", "BZh0" + whole.substr(4), "corrupt bz2 stream"},
                      FaultCase{"body damaged", flipped(whole, whole.size() / 2), "corrupt bz2 stream"},
                      FaultCase{"stream checksum damaged", flipped(whole, whole.size() - 2), "corrupt bz2 stream"},
                      FaultCase{"second stream damaged", whole + flipped(whole, 40), "corrupt bz2 stream"}),
    [](const auto& info) {
        std::string name = info.param.label;
        std::erase(name, ' ');
        return name;
    });

TEST(Bz2Source, RepeatsAFaultOnEveryLaterRead) {
    const std::string truncated = whole.substr(0, whole.size() / 2);  // the source only views it
    ChunkedSource source(truncated, SIZE_MAX);
    Bz2Source bz2(source);
    EXPECT_THROW(read_all(bz2), StreamError);
    std::byte byte[1];
    EXPECT_THROW(bz2.read(byte), StreamError);
}

struct Bz2NameCase {
    const char* path;
    bool bz2;
};

class Bz2Names : public ::testing::TestWithParam<Bz2NameCase> {};

TEST_P(Bz2Names, OnlyTheExtensionBz2Decides) { EXPECT_EQ(names_bz2_file(GetParam().path), GetParam().bz2); }

INSTANTIATE_TEST_SUITE_P(Paths, Bz2Names,
                         ::testing::Values(Bz2NameCase{"1.123.bz2", true}, Bz2NameCase{"/data/a.json.bz2", true},
                                           Bz2NameCase{"a.BZ2", false}, Bz2NameCase{"a.bz", false},
                                           Bz2NameCase{"a.bz2.json", false}, Bz2NameCase{".bz2", false},
                                           Bz2NameCase{"dir.bz2/file", false}, Bz2NameCase{"a.tbz2", false}));

TEST(Bz2StreamFile, ReadsTheMessagesOfACompressedRecording) {
    const std::string text = "{\"pt\":5,\"mc\":[{\"id\":\"1.2\"}]}\n\n{\"pt\":6,\"mc\":[]}\n";
    const TempFile file("1.2.bz2", bz2_compress(text) + bz2_compress("{\"pt\":7,\"mc\":[]}"));
    const auto messages = read_stream_file(file.path());
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages.publish_time(0), 5);
    EXPECT_EQ(messages.publish_time(2), 7);
}

TEST(Bz2StreamFile, OtherExtensionsKeepTheirSource) {
    const std::string compressed = bz2_compress("{\"pt\":5,\"mc\":[]}\n");
    for (const char* name : {"1.2.BZ2", "1.2.json", "1.2.gz"}) {
        const TempFile file(name, compressed);
        EXPECT_THROW(read_stream_file(file.path()), StreamError) << name;
    }
}

}  // namespace
}  // namespace quorvane::input
