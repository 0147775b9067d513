#include "core/input/read_ahead_source.h"

#include <gtest/gtest.h>

#include <string>

#include "core/input/gzip_source.h"
#include "core/input/stream_reader.h"
#include "stream_test_support.h"

namespace quorvane::input {
namespace {

using testing::bytes_of;
using testing::ChunkedSource;
using testing::gzip_member;
using testing::read_all;

// Bytes that show where they came from: no stretch repeats at a buffer's length.
std::string numbered_bytes(std::size_t size) {
    std::string text;
    for (std::size_t i = 0; text.size() < size; ++i) text += std::to_string(i * 2654435761u % 1000003) + ',';
    text.resize(size);
    return text;
}

// Delivers its bytes, then fails.
class FailingSource final : public ByteSource {
public:
    explicit FailingSource(std::string_view bytes) : good_(bytes, 4096) {}
    std::size_t read(std::span<std::byte> out) override {
        if (const std::size_t got = good_.read(out)) return got;
        throw StreamError("unexpected end of file");
    }

private:
    ChunkedSource good_;
};

struct SizeCase {
    std::size_t bytes;
    std::size_t chunk;  // the reader's read size
};

class ReadAhead : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ReadAhead, DeliversTheSourceInOrderThenItsEnd) {
    const std::string bytes = numbered_bytes(GetParam().bytes);
    ChunkedSource source(bytes, 10'000);
    ReadAheadSource ahead(source);
    EXPECT_EQ(read_all(ahead, GetParam().chunk), bytes);
    std::byte more[8];
    EXPECT_EQ(ahead.read(more), 0u);
}

TEST_P(ReadAhead, ThrowsTheSourceFaultAfterTheBytesBeforeIt) {
    const std::string bytes = numbered_bytes(GetParam().bytes);
    FailingSource source(bytes);
    ReadAheadSource ahead(source);
    std::string got;
    std::string piece(GetParam().chunk, '\0');
    const auto read_piece = [&] { return ahead.read(std::as_writable_bytes(std::span(piece))); };
    try {
        while (const std::size_t count = read_piece()) got.append(piece, 0, count);
        ADD_FAILURE() << "no fault";
    } catch (const StreamError& error) {
        EXPECT_STREQ(error.what(), "unexpected end of file");
    }
    EXPECT_EQ(got, bytes);
    EXPECT_THROW(read_piece(), StreamError);
}

// Within the part read directly, across it, and over many turns of the ring.
INSTANTIATE_TEST_SUITE_P(Sizes, ReadAhead,
                         ::testing::Values(SizeCase{0, 100}, SizeCase{5000, 333},
                                           SizeCase{ReadAheadSource::kReadDirectly + 1, 1 << 16},
                                           SizeCase{ReadAheadSource::kReadDirectly + 9 * ReadAheadSource::kBufferSize + 17,
                                                    100'003},
                                           SizeCase{5'000'000, 1 << 20}));

TEST(ReadAhead, StopsItsThreadWhenLeftEarly) {
    const std::string bytes = numbered_bytes(ReadAheadSource::kReadDirectly + 20 * ReadAheadSource::kBufferSize);
    ChunkedSource source(bytes, 10'000);
    std::string got;
    {
        ReadAheadSource ahead(source);
        std::string piece(1 << 16, '\0');
        while (got.size() < ReadAheadSource::kReadDirectly + 3 * ReadAheadSource::kBufferSize)
            got.append(piece, 0, ahead.read(std::as_writable_bytes(std::span(piece))));
    }
    EXPECT_EQ(got, bytes.substr(0, got.size()));
}

// A large gzip file read ahead: a bad line in the part read ahead is
// reported with its number before the truncation in a later part.
TEST(ReadAhead, ReportsTheFirstFaultOfALargeGzipStream) {
    std::string text = testing::sample_lines(90'000);
    const std::size_t bad_line = 10'000;
    std::size_t at = 0;
    for (std::size_t line = 1; line < bad_line; ++line) at = text.find('\n', at) + 1;
    text.insert(at, "{\"pt\":\n");
    ASSERT_GT(at, ReadAheadSource::kReadDirectly);
    // No piece is longer than a buffer: the truncation lies in a later one.
    ASSERT_GT(text.size(), at + 2 * ReadAheadSource::kBufferSize);
    std::string compressed = gzip_member(text);
    compressed.resize(compressed.size() - 100);
    try {
        read_stream_bytes(bytes_of(compressed), true);
        ADD_FAILURE() << "no fault";
    } catch (const StreamError& error) {
        EXPECT_EQ(error.line_number(), bad_line);
    }
    compressed = gzip_member(testing::sample_lines(90'000));
    EXPECT_EQ(read_stream_bytes(bytes_of(compressed), true).size(), 90'000u);
    compressed.resize(compressed.size() - 100);
    EXPECT_THROW(read_stream_bytes(bytes_of(compressed), true), StreamError);
}

}  // namespace
}  // namespace quorvane::input
