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
