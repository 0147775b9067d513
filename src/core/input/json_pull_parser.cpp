#include "core/input/json_pull_parser.h"

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

}  // namespace

// Texts are views into the line: an escape would need the unescaped copy.
std::string_view JsonPullParser::string() {
    if (peek() != '"') throw Unsupported{};
    const char* const start = next_ + 1;
    for (const char* at = start; at != end_; ++at) {
        const unsigned char c = static_cast<unsigned char>(*at);
        if (c == '"') {
            advance_to(at + 1);
            return std::string_view(start, static_cast<std::size_t>(at - start));
        }
        if (c == '\\' || c < 0x20) break;
    }
    throw Unsupported{};
}

// Up to 15 digits before the point in two words, and up to 7 after it.
JsonPullParser::Number JsonPullParser::wide_number(bool negative, const char* at) {
    const char* const end = end_;
    const auto run_at = [end](const char* from) {
        std::uint64_t word;
        std::memcpy(&word, from, sizeof word);
        const std::ptrdiff_t digits = std::min<std::ptrdiff_t>(pull_detail::leading_digits(word), end - from);
        return std::pair{word, static_cast<int>(digits)};
    };
    // The whole part: up to 15 digits in two words, none of them a leading zero.
    auto [word, count] = run_at(at);
    std::uint64_t whole = 0;
    if (count == 8) {
        const auto [next_word, next_count] = run_at(at + 8);
        if (next_count < 8) {
            constexpr std::uint64_t kScales[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
            whole = pull_detail::digits_value(word, 8) * kScales[next_count] +
                    (next_count ? pull_detail::digits_value(next_word, next_count) : 0);
            count += next_count;
        } else {
            count = 16;  // beyond this reading
        }
    } else if (count > 0) {
        whole = pull_detail::digits_value(word, count);
    }
    if (count > 0 && count < 16 && (count == 1 || *at != '0')) {
        const char* after = at + count;
        if (after == end || *after != '.') return integer_before(after, negative, static_cast<std::int64_t>(whole));
        // A fraction: at most 15 digits in all, so that they are exact as a double.
        const auto [fraction_word, fraction_count] = run_at(after + 1);
        if (fraction_count > 0 && fraction_count < 8 && count + fraction_count <= 15) {
            constexpr std::int64_t kScales[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
            const std::int64_t scale = kScales[fraction_count];
            const auto digits = static_cast<std::int64_t>(whole) * scale +
                                static_cast<std::int64_t>(pull_detail::digits_value(fraction_word, fraction_count));
            return fraction_before(after + 1 + fraction_count, negative, digits, static_cast<double>(scale));
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
    if (!has_fraction) return integer_before(at, negative, static_cast<std::int64_t>(digits));
    if (digits > kExactMantissa) throw Unsupported{};
    return fraction_before(at, negative, static_cast<std::int64_t>(digits), kPowersOfTen[fraction_digits]);
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
    if (static_cast<std::size_t>(end_ - next_) < text.size() || std::memcmp(next_, text.data(), text.size()) != 0)
        throw Unsupported{};
    advance_to(next_ + text.size());
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
