#include "core/cache/byte_arena.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace quorvane::cache {
namespace {

// Writes `text` as one region, in pieces of `piece` bytes as a writer would.
const std::uint8_t* write_region(ByteArena& arena, const std::string& text, std::size_t piece) {
    std::uint8_t* at = arena.region();
    for (std::size_t done = 0; done < text.size(); done += piece) {
        const std::size_t bytes = std::min(piece, text.size() - done);
        at = arena.reserve(at, bytes);
        std::memcpy(at, text.data() + done, bytes);
        at += bytes;
    }
    return arena.close(at);
}

std::string region_text(const std::uint8_t* region, std::size_t size) {
    return {reinterpret_cast<const char*>(region), size};
}

struct ArenaCase {
    const char* name;
    std::vector<std::size_t> sizes;  // of the regions, in order
    std::size_t piece;
};

class ByteArenaRegions : public ::testing::TestWithParam<ArenaCase> {};

TEST_P(ByteArenaRegions, KeepEveryRegionWholeThroughMovesAndTrimming) {
    ByteArena arena;
    std::vector<std::string> texts;
    std::vector<const std::uint8_t*> regions;
    for (std::size_t i = 0; i < GetParam().sizes.size(); ++i) {
        std::string text(GetParam().sizes[i], '\0');
        for (std::size_t j = 0; j < text.size(); ++j) text[j] = static_cast<char>('a' + (i * 7 + j) % 26);
        regions.push_back(write_region(arena, text, GetParam().piece));
        texts.push_back(std::move(text));
    }
    std::size_t total = 0;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(region_text(regions[i], texts[i].size()), texts[i]) << "region " << i;
        total += texts[i].size();
    }
    const std::size_t before = arena.memory_bytes();
    EXPECT_GE(before, total);

    const std::uint8_t* last_chunk = arena.last_chunk();
    std::vector<bool> in_last;
    std::vector<std::ptrdiff_t> offsets;
    for (const std::uint8_t* region : regions) {
        in_last.push_back(arena.in_last_chunk(region));
        offsets.push_back(in_last.back() ? region - last_chunk : 0);
    }
    EXPECT_TRUE(in_last.back());
    const std::uint8_t* moved_to = arena.shrink_to_fit();
    EXPECT_LE(arena.memory_bytes(), before);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::uint8_t* now = in_last[i] ? moved_to + offsets[i] : regions[i];
        EXPECT_EQ(region_text(now, texts[i].size()), texts[i]) << "region " << i;
        if (i + 1 == texts.size()) {
            // The last region is followed by readable zeros only.
            EXPECT_EQ(region_text(now + texts[i].size(), ByteArena::kReadPast), std::string(ByteArena::kReadPast, '\0'));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ByteArenaRegions,
    ::testing::Values(ArenaCase{"one_small", {10}, 3}, ArenaCase{"many_small", std::vector<std::size_t>(5000, 37), 16},
                      ArenaCase{"one_bigger_than_a_chunk", {100000}, 4096},
                      ArenaCase{"big_after_small", {100, 200, 70000, 5, 300000, 9}, 1000},
                      ArenaCase{"empty_regions", {0, 0, 12, 0}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ByteArena, TrimsTheLastChunkToWhatWasWritten) {
    ByteArena arena;
    write_region(arena, std::string(100, 'x'), 100);
    EXPECT_GE(arena.memory_bytes(), 16u * 1024u);  // room to grow first
    arena.shrink_to_fit();
    EXPECT_LE(arena.memory_bytes(), 100 + ByteArena::kReadPast + 64);
    // Writing goes on after a trim, in a new chunk.
    const std::uint8_t* next = write_region(arena, "after", 2);
    EXPECT_EQ(region_text(next, 5), "after");
}

}  // namespace
}  // namespace quorvane::cache
