#include "market/input/json_pull_parser.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <utility>

namespace quorvane::input {
namespace {

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Each exact as a double, so that one division rounds correctly.
constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                                   1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};

// At most this many digits are read, so the integer never overflows.
constexpr int kMaxDigits = 18;
// Below this a mantissa is exact as a double.
constexpr std::uint64_t kExactMantissa = std::uint64_t{1} << 53;

// The count of digits that start the eight bytes of `word` (first byte
// lowest), 8 when all are: a byte is a digit when both it and it plus 6 have
// 3 for their high nibble. A carry out of a byte only reaches later bytes,
// which no longer count.
int leading_digits(std::uint64_t word) {
    constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0, kThrees = 0x3030303030303030;
    const std::uint64_t misses = ((word & kHigh) ^ kThrees) | (((word + 0x0606060606060606) & kHigh) ^ kThrees);
    return misses == 0 ? 8 : std::countr_zero(misses) / 8;
}

// The value of the first `count` (1 to 8) digits of `word`: the rest are
// shifted out, and the missing ones come in as leading zeros.
std::uint64_t digits_value(std::uint64_t word, int count) {
    std::uint64_t v = (word & 0x0F0F0F0F0F0F0F0F) << (8 * (8 - count));
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FF;
    v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFF;
    return (v * 10000 + (v >> 32)) & 0xFFFFFFFF;
}

}  // namespace

// Texts are views into the line: an escape would need the unescaped copy.
std::string_view JsonPullParser::string() {
    consume('"');
    const char* const start = next_;
    while (next_ != end_) {
        const unsigned char c = static_cast<unsigned char>(*next_);
        if (c == '"') return std::string_view(start, static_cast<std::size_t>(next_++ - start));
        if (c == '\\' || c < 0x20) break;
        ++next_;
    }
    throw Unsupported{};
}

// The grammar's number without exponent. An integer of up to 18 digits is
// the integer itself; a fraction is the digits over a power of ten, which is
// exact whenever the digits are (the full parser rounds the same way).
//
// Nearly every number has fewer than 8 digits before and after the point:
// each run is read eight bytes at a time, which the padding after the line
// allows, and counted only up to the line's end.
JsonPullParser::Number JsonPullParser::number() {
    peek();
    const char* at = next_;
    const char* const end = end_;
    const bool negative = at != end && *at == '-';
    if (negative) ++at;
    const auto run_at = [end](const char* from) {
        std::uint64_t word;
        std::memcpy(&word, from, sizeof word);
        return std::pair{word, static_cast<int>(std::min<std::ptrdiff_t>(leading_digits(word), end - from))};
    };
    if (const auto [word, count] = run_at(at); count > 0 && count < 8 && (count == 1 || *at != '0')) {
        const std::uint64_t whole = digits_value(word, count);
        const char* after = at + count;
        if (after == end || *after != '.') {
            if (after != end && (*after == 'e' || *after == 'E')) throw Unsupported{};
            // "-0" must read as the double -0.0: the full parser's business.
            if (negative && whole == 0) throw Unsupported{};
            next_ = after;
            const auto integer = static_cast<std::int64_t>(whole);
            return {true, negative ? -integer : integer, 0.0};
        }
        if (const auto [fraction_word, fraction_count] = run_at(after + 1); fraction_count > 0 && fraction_count < 8) {
            after += 1 + fraction_count;
            if (after != end && (*after == 'e' || *after == 'E')) throw Unsupported{};
            next_ = after;
            const auto digits = whole * static_cast<std::uint64_t>(kPowersOfTen[fraction_count]) +
                                digits_value(fraction_word, fraction_count);
            const double value = static_cast<double>(digits) / kPowersOfTen[fraction_count];
            return {false, 0, negative ? -value : value};
        }
    }
    return long_number(negative, at);
}

// number() for the rest, digit by digit from the first digit at `at`.
JsonPullParser::Number JsonPullParser::long_number(bool negative, const char* at) {
    const char* const end = end_;
    if (at == end || !is_digit(*at)) throw Unsupported{};
    std::uint64_t digits = 0;
    int count = 0;
    if (*at == '0') {
        ++at;
    } else {
        for (; at != end && is_digit(*at); ++at, ++count) {
            if (count == kMaxDigits) throw Unsupported{};
            digits = digits * 10 + static_cast<std::uint64_t>(*at - '0');
        }
    }
    int fraction_digits = 0;
    const bool has_fraction = at != end && *at == '.';
    if (has_fraction) {
        ++at;
        if (at == end || !is_digit(*at)) throw Unsupported{};
        for (; at != end && is_digit(*at); ++at, ++fraction_digits) {
            if (count + fraction_digits == kMaxDigits) throw Unsupported{};
            digits = digits * 10 + static_cast<std::uint64_t>(*at - '0');
        }
    }
    if (at != end && (*at == 'e' || *at == 'E')) throw Unsupported{};
    next_ = at;
    if (!has_fraction) {
        // "-0" must read as the double -0.0: the full parser's business.
        if (negative && digits == 0) throw Unsupported{};
        const auto integer = static_cast<std::int64_t>(digits);
        return {true, negative ? -integer : integer, 0.0};
    }
    if (digits > kExactMantissa) throw Unsupported{};
    const double value = static_cast<double>(digits) / kPowersOfTen[fraction_digits];
    return {false, 0, negative ? -value : value};
}

bool JsonPullParser::boolean() {
    if (peek() == 't') {
        literal("true");
        return true;
    }
    literal("false");
    return false;
}

void JsonPullParser::literal(std::string_view text) {
    peek();
    if (static_cast<std::size_t>(end_ - next_) < text.size() || std::memcmp(next_, text.data(), text.size()) != 0)
        throw Unsupported{};
    next_ += text.size();
}

void JsonPullParser::skip_value(int depth) {
    PullValue value(*this, depth);
    switch (peek()) {
        case '{':
            value.members([](std::string_view, PullValue field) { field.skip(); });
            return;
        case '[':
            value.elements([](PullValue item) { item.skip(); });
            return;
        case '"':
            string();
            return;
        case 't':
        case 'f':
            boolean();
            return;
        case 'n':
            literal("null");
            return;
        default:
            number();
            return;
    }
}

}  // namespace quorvane::input
