// The line-feed index: every marking this CPU runs agrees with a byte-by-byte
// look, and next() finds each line feed within the indexed count only.
#include "core/input/line_feed_index.h"

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <string>
#include <vector>

namespace quorvane::input {
namespace {

// Every byte value at every offset of a block, beside line feeds, where a
// word-at-a-time flag could run into its neighbour.
TEST(LineFeedIndex, EveryMarkingAgreesWithByteByByte) {
    for (const MarkLineFeeds mark : line_feed_markings()) {
        for (int value = 0; value < 256; ++value) {
            std::string bytes(2 * kLineFeedBlockSize, '\n');
            for (std::size_t at = 0; at < kLineFeedBlockSize; at += 3) bytes[at] = static_cast<char>(value);
            for (std::size_t at = kLineFeedBlockSize + 1; at < bytes.size(); at += 2) bytes[at] = static_cast<char>(value);
            std::array<std::uint64_t, 2> words{};
            mark(bytes.data(), std::span(words));
            for (std::size_t at = 0; at < bytes.size(); ++at) {
                const bool marked = (words[at / 64] >> at % 64 & 1) != 0;
                ASSERT_EQ(marked, bytes[at] == '\n') << "value " << value << " at " << at;
            }
        }
    }
}

TEST(LineFeedIndex, NextStopsAtTheIndexedCount) {
    std::string bytes(200 + kLineFeedBlockSize, 'x');
    for (const std::size_t at : {0, 63, 64, 130, 150}) bytes[at] = '\n';
    LineFeedIndex index;
    index.index(bytes.data(), 140);
    std::vector<std::size_t> found;
    for (std::size_t at = index.next(0); at != 140; at = index.next(at + 1)) found.push_back(at);
    EXPECT_EQ(found, (std::vector<std::size_t>{0, 63, 64, 130}));
    EXPECT_EQ(index.next(131), 140u);
    EXPECT_EQ(index.next(140), 140u);
    // A smaller index forgets what a larger one marked.
    index.index(bytes.data(), 64);
    EXPECT_EQ(index.next(1), 63u);
    EXPECT_EQ(index.next(64), 64u);
}

}  // namespace
}  // namespace quorvane::input
