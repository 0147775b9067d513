#include "core/input/line_feed_index.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace quorvane::input {
namespace {

void mark_portable(const char* bytes, std::span<std::uint64_t> words) {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7F, kHigh = 0x8080808080808080;
    for (std::uint64_t& bits : words) {
        bits = 0;
        for (unsigned offset = 0; offset < kLineFeedBlockSize; offset += 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes + offset, sizeof word);
            const std::uint64_t x = word ^ (0x0A * 0x0101010101010101);
            // The high bit of each byte set exactly when the byte is zero: no
            // carry crosses a byte, so every flag is right, not only the first.
            const std::uint64_t zero = ~(((x & kLow7) + kLow7) | x) & kHigh;
            // The eight flags gathered into the top byte, first byte lowest.
            bits |= ((zero >> 7) * 0x0102040810204080 >> 56) << offset;
        }
        bytes += kLineFeedBlockSize;
    }
}

#if defined(__x86_64__)
void mark_sse2(const char* bytes, std::span<std::uint64_t> words) {
    const __m128i feed = _mm_set1_epi8('\n');
    for (std::uint64_t& bits : words) {
        bits = 0;
        for (unsigned lane = 0; lane < kLineFeedBlockSize; lane += 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + lane));
            const auto found = static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, feed)));
            bits |= std::uint64_t{found} << lane;
        }
        bytes += kLineFeedBlockSize;
    }
}

[[gnu::target("avx2")]] void mark_avx2(const char* bytes, std::span<std::uint64_t> words) {
    const __m256i feed = _mm256_set1_epi8('\n');
    for (std::uint64_t& bits : words) {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 32));
        const auto low_found = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, feed)));
        const auto high_found = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, feed)));
        bits = std::uint64_t{high_found} << 32 | low_found;
        bytes += kLineFeedBlockSize;
    }
}

[[gnu::target("avx512bw")]] void mark_avx512(const char* bytes, std::span<std::uint64_t> words) {
    const __m512i feed = _mm512_set1_epi8('\n');
    for (std::uint64_t& bits : words) {
        bits = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(bytes), feed);
        bytes += kLineFeedBlockSize;
    }
}
#endif

struct Markings {
    MarkLineFeeds all[4];
    std::size_t count = 0;

    Markings() {
        all[count++] = mark_portable;
#if defined(__x86_64__)
        all[count++] = mark_sse2;
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2")) all[count++] = mark_avx2;
        if (__builtin_cpu_supports("avx512bw")) all[count++] = mark_avx512;
#endif
    }
};

}  // namespace

std::span<const MarkLineFeeds> line_feed_markings() {
    static const Markings markings;
    return {markings.all, markings.count};
}

void LineFeedIndex::index(const char* bytes, std::size_t count) {
    static const MarkLineFeeds fastest = line_feed_markings().back();
    words_used_ = (count + kLineFeedBlockSize - 1) / kLineFeedBlockSize;
    if (words_.size() < words_used_) words_.resize(words_used_);
    fastest(bytes, std::span(words_.data(), words_used_));
    // The bytes past the count may hold anything.
    if (count % kLineFeedBlockSize != 0) words_[words_used_ - 1] &= (std::uint64_t{1} << count % kLineFeedBlockSize) - 1;
    count_ = count;
}

}  // namespace quorvane::input
