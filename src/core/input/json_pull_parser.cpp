#include "core/input/json_pull_parser.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <limits>
#include <utility>

#include "core/input/json_number.h"
#include "core/input/line_text.h"

namespace quorvane::input {
namespace {

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The four hex digits at `at`, or -1 when there are not four before `end`.
long hex_quad(const char* at, const char* end) {
    if (end - at < 4) return -1;
    long value = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hex_value(at[i]);
        if (digit < 0) return -1;
        value = value << 4 | digit;
    }
    return value;
}

bool is_leading_surrogate(long unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_trailing_surrogate(long unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The length of the valid escape at `at` (its backslash), 0 for none. A
// leading surrogate must be escaped right before a trailing one.
std::size_t escape_length(const char* at, const char* end) {
    if (end - at < 2) return 0;
    switch (at[1]) {
        case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't': return 2;
        case 'u': break;
        default: return 0;
    }
    const long first = hex_quad(at + 2, end);
    if (first < 0 || is_trailing_surrogate(first)) return 0;
    if (!is_leading_surrogate(first)) return 6;
    if (end - at < 8 || at[6] != '\\' || at[7] != 'u' || !is_trailing_surrogate(hex_quad(at + 8, end))) return 0;
    return 12;
}

}  // namespace

// The closing quote of a text that holds escapes or UTF-8 from `at` on, each
// checked.
const char* JsonPullParser::special_end(const char* at) const {
    while (at != end_) {
        const unsigned char c = static_cast<unsigned char>(*at);
        if (c == '"') return at;
        std::size_t length = 1;
        if (c == '\\') length = escape_length(at, end_);
        else if (c < 0x20) length = 0;
        else if (c >= 0x80) length = utf8_sequence_length(std::string_view(at, static_cast<std::size_t>(end_ - at)));
        if (length == 0) throw Malformed{};
        at += length;
    }
    throw Malformed{};
}

// A text without escapes is a view into the line; one with them is
// unescaped into the caller's buffer.
std::string_view JsonPullParser::special_string(const char* start, const char* stop) {
    const char* const quote = special_end(stop);
    advance_to(quote + 1);
    if (std::find(stop, quote, '\\') == quote) return std::string_view(start, static_cast<std::size_t>(quote - start));
    return unescape(start, quote);
}

// The escapes are known to be valid.
std::string_view JsonPullParser::unescape(const char* start, const char* quote) {
    std::string& out = *unescaped_;
    if (out.empty()) out.reserve(2 * line_size_);
    const std::size_t first = out.size();
    for (const char* at = start; at != quote;) {
        const char* const backslash = std::find(at, quote, '\\');
        out.append(at, backslash);
        if (backslash == quote) break;
        at = backslash + 2;
        switch (backslash[1]) {
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                auto code_point = static_cast<std::uint32_t>(hex_quad(at, quote));
                at += 4;
                if (is_leading_surrogate(code_point)) {
                    const auto trailing = static_cast<std::uint32_t>(hex_quad(at + 2, quote));
                    code_point = 0x10000 + ((code_point - 0xD800) << 10) + (trailing - 0xDC00);
                    at += 6;
                }
                append_utf8(out, code_point);
                break;
            }
            default: out += backslash[1]; break;  // '"', '\\' and '/'
        }
    }
    return std::string_view(out).substr(first);
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
            static constexpr std::uint64_t kScales[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
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
            static constexpr std::int64_t kScales[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
            const std::int64_t scale = kScales[fraction_count];
            const auto digits = static_cast<std::int64_t>(whole) * scale +
                                static_cast<std::int64_t>(pull_detail::digits_value(fraction_word, fraction_count));
            return fraction_before(after + 1 + fraction_count, negative, digits, static_cast<double>(scale));
        }
    }
    return exact_number();
}

// The grammar's number checked byte by byte, its value read by from_chars:
// exponents, "-0", long and big numbers.
JsonPullParser::Number JsonPullParser::exact_number() {
    const char* const start = next_;
    const char* at = start;
    const auto digits = [&] {
        if (at == end_ || !is_digit(*at)) throw Malformed{};
        while (at != end_ && is_digit(*at)) ++at;
    };
    const bool negative = at != end_ && *at == '-';
    if (negative) ++at;
    if (at != end_ && *at == '0') ++at;
    else digits();
    bool is_integer = true;
    if (at != end_ && *at == '.') {
        ++at;
        digits();
        is_integer = false;
    }
    if (at != end_ && (*at | 0x20) == 'e') {
        ++at;
        if (at != end_ && (*at == '+' || *at == '-')) ++at;
        digits();
        is_integer = false;
    }
    advance_to(at);
    const std::string_view token(start, static_cast<std::size_t>(at - start));
    if (is_integer) {
        std::uint64_t magnitude;
        // Integers beyond the 64-bit ranges are doubles.
        if (std::from_chars(token.data() + negative, at, magnitude).ec == std::errc{}) {
            constexpr auto kMostPositive = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
            if (negative) {
                if (magnitude == 0) return {Number::Kind::Double, 0, -0.0};
                if (magnitude <= kMostPositive + 1) {
                    return {Number::Kind::Integer, static_cast<std::int64_t>(0 - magnitude), 0.0};
                }
            } else if (magnitude <= kMostPositive) {
                return {Number::Kind::Integer, static_cast<std::int64_t>(magnitude), 0.0};
            } else {
                return {Number::Kind::Unsigned, static_cast<std::int64_t>(magnitude), static_cast<double>(magnitude)};
            }
        }
    }
    const auto value = json_number_value(token);
    if (!value) throw Malformed{};  // beyond the largest double
    return {Number::Kind::Double, 0, *value};
}

bool JsonPullParser::stepped_pair(double& first, double& second) {
    const char* const start = next_;
    consume('[');
    if (starts_number(peek())) {
        const double first_value = value_of(number());
        if (peek() == ',') {
            consume(',');
            if (starts_number(peek())) {
                const double second_value = value_of(number());
                if (peek() == ']') {
                    consume(']');
                    first = first_value;
                    second = second_value;
                    return true;
                }
            }
        }
    }
    next_ = start;
    return false;
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
        throw Malformed{};
    advance_to(next_ + text.size());
}

char JsonPullParser::peek_past_whitespace() {
    while (next_ != end_ && is_whitespace(*next_)) ++next_;
    return next_ != end_ ? *next_ : '\0';
}

void JsonPullParser::skip_value(int depth) {
    PullValue value(*this, depth);
    switch (peek()) {
        case '{':
            value.members([](std::string_view, PullValue field) { field.skip(); });
            return;
        case '[':
            // The general reading refuses an array too deep.
            if (depth < kMaxDepth && skip_short_numbers()) return;
            value.elements([](PullValue item) { item.skip(); });
            return;
        case '"':
            skip_string();
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
