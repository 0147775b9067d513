// The store's encoding of single values, shared by the readings that write
// it and the store that decodes it. Integers are zigzag varints, texts a
// varint length and their bytes. Most prices and sizes are exact hundredths:
// such a double is kept as the integer k >= 0 and restored bit for bit as
// k / 100.0, one correctly rounded division of exact operands; others keep
// their bits.
//
// A double is a byte count n (a nibble) and n little-endian bytes of a code:
// n < 8 holds k for an exact hundredth k / 100.0 (+0.0 takes no byte at all),
// n = 8 the raw bits. Negative numbers, which no price or size is, keep their
// bits too: decoding a hundredth then takes no sign. Both counts of a price
// pair share one byte; a lone double has a byte of its own.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quorvane::cache::encoding {

constexpr unsigned kRawBytes = 8;
constexpr double kMaxHundredths = 0x1p53;
constexpr std::size_t kMaxVarintBytes = 10;
constexpr std::size_t kMaxDoubleBytes = 1 + kRawBytes;
constexpr std::size_t kMaxPairBytes = 1 + 2 * kRawBytes;

// A code's first `bytes` bytes in memory must be its low bytes.
static_assert(std::endian::native == std::endian::little, "stored doubles keep the low bytes of their code");

struct DoubleCode {
    std::uint64_t code;
    unsigned bytes;
};

inline DoubleCode hundredths_code(std::uint64_t k) { return {k, static_cast<unsigned>(std::bit_width(k) + 7) / 8}; }

inline DoubleCode encode_double(double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const double scaled = value * 100.0;
    if (scaled >= 0.0 && scaled < kMaxHundredths) {
        // Any candidate will do: it is kept only if it restores exactly.
        const auto k = static_cast<std::int64_t>(scaled + 0.5);
        if (std::bit_cast<std::uint64_t>(static_cast<double>(k) / 100.0) == bits)
            return hundredths_code(static_cast<std::uint64_t>(k));
    }
    return {bits, kRawBytes};
}

constexpr unsigned varint_bytes(std::uint64_t value) { return std::max(1u, static_cast<unsigned>(std::bit_width(value) + 6) / 7); }

// Each write stores at `at`, which has room for the value's largest form,
// and returns the position after it.
inline std::uint8_t* write_varint(std::uint8_t* at, std::uint64_t value) {
    while (value >= 0x80) {
        *at++ = static_cast<std::uint8_t>(value | 0x80);
        value >>= 7;
    }
    *at++ = static_cast<std::uint8_t>(value);
    return at;
}

inline std::uint64_t zigzag(std::int64_t value) {
    return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}

// Stores all 8 bytes and keeps `bytes` of them: room for 8 is needed.
inline std::uint8_t* write_code(std::uint8_t* at, const DoubleCode& value) {
    std::memcpy(at, &value.code, sizeof value.code);
    return at + value.bytes;
}

inline std::uint8_t* write_pair(std::uint8_t* at, const DoubleCode& price, const DoubleCode& size) {
    *at++ = static_cast<std::uint8_t>(price.bytes | size.bytes << 4);
    return write_code(write_code(at, price), size);
}

inline std::uint64_t read_varint(const std::uint8_t*& at) {
    std::uint64_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
        const std::uint8_t byte = *at++;
        value |= std::uint64_t{byte & 0x7Fu} << shift;
        if (byte < 0x80) return value;
    }
}

}  // namespace quorvane::cache::encoding
