#include "core/memory/recycled_blocks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace quorvane::memory {
namespace {

TEST(RecycledBlocks, ABlockGivenBackIsTakenAgainByTheNextThatFitsIt) {
    void* first = nullptr;
    {
        OwnedBlock block(kRecycledMinBytes * 3);
        first = block.bytes();
    }
    const OwnedBlock again(kRecycledMinBytes * 3 - 100);
    EXPECT_EQ(again.bytes(), first);
    EXPECT_EQ(again.size(), kRecycledMinBytes * 3);
}

TEST(RecycledBlocks, KeepNeitherSmallBlocksNorMoreThanTheirLimit) {
    const std::size_t before = recycled_bytes();
    { OwnedBlock small(kRecycledMinBytes - 1); }
    EXPECT_EQ(recycled_bytes(), before);
    {
        OwnedBlock a(kRecycledKeptBytes / 2 + 1), b(kRecycledKeptBytes / 2 + 1), c(kRecycledKeptBytes + 1);
    }
    EXPECT_LE(recycled_bytes(), kRecycledKeptBytes);
    EXPECT_GE(recycled_bytes(), kRecycledKeptBytes / 2 + 1);
}

TEST(RecycledBlocks, ShrinkingKeepsTheBytesItKeeps) {
    OwnedBlock block(kRecycledMinBytes * 4);
    const std::string text(1000, 'q');
    std::memcpy(block.bytes() + 500, text.data(), text.size());
    block.shrink(1500);
    EXPECT_EQ(block.size(), 1500u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.bytes()) + 500, 1000), text);
}

}  // namespace
}  // namespace quorvane::memory
