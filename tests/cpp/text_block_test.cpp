// The block scan of texts: the SSE2 and the portable reading find the same
// first byte that needs a closer look as a byte-by-byte look.
#include "core/input/text_block.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane::input {
namespace {

unsigned byte_by_byte(const char* at) {
    for (unsigned i = 0; i < kTextBlockSize; ++i) {
        const auto c = static_cast<unsigned char>(at[i]);
        if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) return i;
    }
    return kTextBlockSize;
}

// Every byte value at every offset of a plain block, and behind another
// special byte, where a word-at-a-time flag may be wrong.
TEST(TextBlock, FindsTheFirstSpecialByteAtEveryOffset) {
    for (int value = 0; value < 256; ++value) {
        for (unsigned at = 0; at < kTextBlockSize; ++at) {
            for (const char before : {'a', '"', '\x01', '\xC3'}) {
                std::string block(kTextBlockSize, 'a');
                block[at] = static_cast<char>(value);
                if (at > 0) block[at - 1] = before;
                const unsigned expected = byte_by_byte(block.data());
                EXPECT_EQ(first_special_byte_portable(block.data()), expected) << value << " at " << at;
#if defined(__SSE2__)
                EXPECT_EQ(first_special_byte_sse2(block.data()), expected) << value << " at " << at;
#endif
            }
        }
    }
}

}  // namespace
}  // namespace quorvane::input
