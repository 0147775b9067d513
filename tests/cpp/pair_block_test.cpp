// The block classification of number pairs: the SSE2 and the portable
// reading flag exactly the bytes a byte-by-byte look flags.
#include "core/input/pair_block.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace quorvane::input {
namespace {

PairBlock byte_by_byte(const char* at) {
    PairBlock block{};
    for (unsigned i = 0; i < kPairBlockSize; ++i) {
        const std::uint32_t bit = 1u << i;
        if (at[i] == ',') block.commas |= bit;
        if (at[i] == ']') block.closes |= bit;
        if (at[i] >= '0' && at[i] <= '9') block.digits |= bit;
        if (at[i] == '.') block.points |= bit;
    }
    return block;
}

void expect_both_paths_agree(const std::string& bytes) {
    for (std::size_t at = 0; at + kPairBlockSize <= bytes.size(); ++at) {
        const PairBlock expected = byte_by_byte(bytes.data() + at);
        EXPECT_EQ(classify_pair_block_portable(bytes.data() + at), expected) << at;
#if defined(__SSE2__)
        EXPECT_EQ(classify_pair_block_sse2(bytes.data() + at), expected) << at;
#endif
    }
}

TEST(PairBlock, FlagsEveryByteValueAtEveryOffset) {
    std::string bytes;
    for (int value = 0; value < 256; ++value) bytes += static_cast<char>(value);
    bytes += bytes;
    expect_both_paths_agree(bytes);
}

TEST(PairBlock, FlagsLaddersAndRandomBytes) {
    std::mt19937 random(20);
    const std::string alphabet = "[],.0123456789-e\"/:\x7F\x80\xFF";
    std::string bytes = R"("atb":[[1.01,13003.7],[8.6,6.58]],"atl":[[1000,14.04],[0.5,0]])";
    for (int i = 0; i < 4096; ++i) bytes += alphabet[random() % alphabet.size()];
    expect_both_paths_agree(bytes);
}

}  // namespace
}  // namespace quorvane::input
