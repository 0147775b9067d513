// The first byte of a 16-byte block inside a text that needs a closer look:
// a quote, a backslash, a control byte or one beyond ASCII. With SSE2 on
// x86-64, which every such CPU has, and a word at a time elsewhere; both are
// compiled everywhere, so that the tests can hold them against each other.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quorvane::input {

inline constexpr unsigned kTextBlockSize = 16;

namespace text_block_detail {

// A flag in the top bit of each byte of `word` that needs a closer look.
// Only a byte after a flagged one may be flagged wrongly (a borrow runs up),
// so the lowest flag is always right.
inline std::uint64_t special_bytes(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101, kHigh = 0x8080808080808080;
    const auto zero_bytes = [](std::uint64_t v) { return (v - kOnes) & ~v & kHigh; };
    const std::uint64_t below_space = (word - 0x20 * kOnes) & ~word & kHigh;
    return zero_bytes(word ^ ('"' * kOnes)) | zero_bytes(word ^ ('\\' * kOnes)) | below_space | (word & kHigh);
}

}  // namespace text_block_detail

// The offset of the first such byte of the kTextBlockSize readable bytes
// from `at`, kTextBlockSize when there is none.
inline unsigned first_special_byte_portable(const char* at) {
    for (unsigned half = 0; half < kTextBlockSize; half += 8) {
        std::uint64_t word;
        std::memcpy(&word, at + half, sizeof word);
        if (const std::uint64_t special = text_block_detail::special_bytes(word))
            return half + static_cast<unsigned>(std::countr_zero(special)) / 8;
    }
    return kTextBlockSize;
}

#if defined(__SSE2__)
inline unsigned first_special_byte_sse2(const char* at) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    // One signed compare takes both the control bytes and those beyond ASCII,
    // which are negative.
    const __m128i special = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('"')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\'))),
        _mm_cmplt_epi8(bytes, _mm_set1_epi8(' ')));
    // The bit above the block stands for "none".
    return static_cast<unsigned>(std::countr_zero(static_cast<std::uint32_t>(_mm_movemask_epi8(special)) | 0x10000u));
}
#endif

inline unsigned first_special_byte(const char* at) {
#if defined(__SSE2__)
    return first_special_byte_sse2(at);
#else
    return first_special_byte_portable(at);
#endif
}

}  // namespace quorvane::input
