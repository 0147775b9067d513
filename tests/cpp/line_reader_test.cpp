#include "core/input/line_reader.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/input/stream_error.h"
#include "stream_test_support.h"

namespace quorvane::input {
namespace {

using testing::ChunkedSource;

std::vector<std::string> lines_of(std::string_view text, std::size_t chunk) {
    ChunkedSource source(text, chunk);
    LineReader reader(source);
    std::vector<std::string> lines;
    while (const auto line = reader.next_line()) lines.emplace_back(*line);
    return lines;
}

struct SplitCase {
    const char* label;
    std::string text;
    std::vector<std::string> lines;
};

class LineSplitting : public ::testing::TestWithParam<SplitCase> {};

TEST_P(LineSplitting, GivesTheSameLinesForEveryReadSize) {
    for (const std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{3}, SIZE_MAX}) {
        EXPECT_EQ(lines_of(GetParam().text, chunk), GetParam().lines) << "reads of " << chunk;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ends, LineSplitting,
    ::testing::Values(SplitCase{"empty", "", {}},
                      SplitCase{"last_line_without_feed", "a\nbc", {"a", "bc"}},
                      SplitCase{"final_feed", "a\nbc\n", {"a", "bc"}},
                      SplitCase{"empty_lines", "\n\n\nx", {"", "", "", "x"}},
                      SplitCase{"crlf", "a\r\nbc\r\n\r\n", {"a", "bc", ""}},
                      SplitCase{"one_carriage_return_dropped", "a\r\r\n", {"a\r"}},
                      SplitCase{"lone_carriage_return_stays", "a\rb\n\rc\n", {"a\rb", "\rc"}},
                      SplitCase{"carriage_return_without_feed_stays", "a\r\nb\r", {"a", "b\r"}},
                      SplitCase{"nul_bytes", std::string("a\0b\n\0", 5), {std::string("a\0b", 3), std::string(1, '\0')}}),
    [](const auto& info) { return std::string(info.param.label); });

std::string long_text(std::size_t length, char fill) {
    std::string text(length, fill);
    for (std::size_t i = 0; i < length; i += 4093) text[i] = static_cast<char>('a' + i % 26);
    return text;
}

class LongLines : public ::testing::TestWithParam<std::size_t> {};

TEST_P(LongLines, SpanBufferRefills) {
    const std::size_t length = GetParam();
    const std::string first = long_text(length, 'x');
    const std::string second = long_text(length / 2 + 1, 'y');
    const std::string text = "short\n" + first + "\r\n" + second + "\nend\n" + first;
    const std::vector<std::string> expected{"short", first, second, "end", first};
    for (const std::size_t chunk : {std::size_t{100000}, LINE_BUFFER_SIZE, SIZE_MAX}) {
        EXPECT_EQ(lines_of(text, chunk), expected) << "reads of " << chunk;
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongLines,
                         ::testing::Values(LINE_BUFFER_SIZE - 7, LINE_BUFFER_SIZE - 1, LINE_BUFFER_SIZE,
                                           LINE_BUFFER_SIZE + 1, 3 * LINE_BUFFER_SIZE + 5));

TEST(LineReader, CarriageReturnBeforeFeedAfterALongLineRefillIsDropped) {
    // The CR ends one buffer load and the LF starts the next.
    const std::string first = long_text(LINE_BUFFER_SIZE + 9, 'z');
    const std::string text = first + "\r\nnext";
    EXPECT_EQ(lines_of(text, first.size() + 1), (std::vector<std::string>{first, "next"}));
}

// Records the size of every read the reader asks for.
class RecordingSource final : public ByteSource {
public:
    explicit RecordingSource(std::string_view bytes) : inner_(bytes, SIZE_MAX) {}
    std::size_t read(std::span<std::byte> out) override {
        requests.push_back(out.size());
        return inner_.read(out);
    }
    std::vector<std::size_t> requests;

private:
    ChunkedSource inner_;
};

TEST(LineReader, ReadsInPiecesOfAtMostTheBufferSize) {
    const std::string text = testing::sample_lines(60000) + long_text(2 * LINE_BUFFER_SIZE, 'q');
    RecordingSource source(text);
    LineReader reader(source);
    std::size_t total = 0;
    while (const auto line = reader.next_line()) total += line->size() + 1;
    EXPECT_EQ(total, text.size() + 1);
    ASSERT_GE(source.requests.size(), 4u);
    for (const std::size_t request : source.requests) {
        EXPECT_GT(request, 0u);
        EXPECT_LE(request, LINE_BUFFER_SIZE);
    }
}

TEST(LineReader, StaysAtTheEnd) {
    ChunkedSource source("a", SIZE_MAX);
    LineReader reader(source);
    EXPECT_EQ(reader.next_line(), "a");
    EXPECT_EQ(reader.next_line(), std::nullopt);
    EXPECT_EQ(reader.next_line(), std::nullopt);
}

class FailingSource final : public ByteSource {
public:
    std::size_t read(std::span<std::byte> out) override {
        if (served_) throw StreamError("device error (os error 5)");
        served_ = true;
        const std::string_view text = "first\nsecond";
        std::memcpy(out.data(), text.data(), text.size());
        return text.size();
    }

private:
    bool served_ = false;
};

TEST(LineReader, PassesSourceFaultsOn) {
    FailingSource source;
    LineReader reader(source);
    EXPECT_EQ(reader.next_line(), "first");
    EXPECT_THROW(reader.next_line(), StreamError);
}

}  // namespace
}  // namespace quorvane::input
