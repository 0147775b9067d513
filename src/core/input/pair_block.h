// The bytes of a 16-byte block that shape a short array of two numbers, as
// "[8.6,9.24]" in a price ladder, found a block at a time: with SSE2 on
// x86-64, which every such CPU has, and a word at a time elsewhere. Both are
// compiled everywhere, so that the tests can hold them against each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvane::input {

inline constexpr std::size_t kPairBlockSize = 16;

// Bit i of each mask stands for byte i of the block.
struct PairBlock {
    std::uint32_t commas;
    std::uint32_t closes;  // ']'
    std::uint32_t digits;
    std::uint32_t points;

    bool operator==(const PairBlock&) const = default;
};

namespace pair_block_detail {

constexpr std::uint64_t kOnes = 0x0101010101010101, kHigh = 0x8080808080808080;

// A flag in the top bit of each byte of `word` that equals `byte`; exact, as
// no sum below carries out of its byte.
inline std::uint64_t equal_bytes(std::uint64_t word, unsigned char byte) {
    const std::uint64_t v = word ^ (byte * kOnes);
    return ~(((v & ~kHigh) + ~kHigh) | v) & kHigh;
}

inline std::uint64_t digit_bytes(std::uint64_t word) {
    const std::uint64_t low = word & ~kHigh;
    const std::uint64_t at_least_zero = low + (0x80 - '0') * kOnes;
    const std::uint64_t beyond_nine = low + (0x80 - '9' - 1) * kOnes;
    return at_least_zero & ~beyond_nine & ~word & kHigh;
}

// The top bits of the eight bytes, first byte lowest.
inline std::uint32_t gather(std::uint64_t flags) {
    return static_cast<std::uint32_t>(((flags >> 7) * 0x0102040810204080) >> 56);
}

}  // namespace pair_block_detail

inline PairBlock classify_pair_block_portable(const char* at) {
    using namespace pair_block_detail;
    PairBlock block{};
    for (std::size_t half = 0; half < 2; ++half) {
        std::uint64_t word;
        std::memcpy(&word, at + 8 * half, sizeof word);
        const int shift = static_cast<int>(8 * half);
        block.commas |= gather(equal_bytes(word, ',')) << shift;
        block.closes |= gather(equal_bytes(word, ']')) << shift;
        block.digits |= gather(digit_bytes(word)) << shift;
        block.points |= gather(equal_bytes(word, '.')) << shift;
    }
    return block;
}

#if defined(__SSE2__)
inline PairBlock classify_pair_block_sse2(const char* at) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const auto mask = [](__m128i flags) { return static_cast<std::uint32_t>(_mm_movemask_epi8(flags)); };
    const auto equal = [&](char c) { return mask(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(c))); };
    // Signed compares: a byte beyond ASCII is negative, below '0'.
    const __m128i digits = _mm_and_si128(_mm_cmpgt_epi8(bytes, _mm_set1_epi8('0' - 1)),
                                         _mm_cmplt_epi8(bytes, _mm_set1_epi8('9' + 1)));
    return {equal(','), equal(']'), mask(digits), equal('.')};
}
#endif

// The block of the kPairBlockSize bytes from `at`, all readable.
inline PairBlock classify_pair_block(const char* at) {
#if defined(__SSE2__)
    return classify_pair_block_sse2(at);
#else
    return classify_pair_block_portable(at);
#endif
}

}  // namespace quorvane::input
