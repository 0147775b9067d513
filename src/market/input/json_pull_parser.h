// A one-pass reader of the common stream line: it checks the line as strict
// JSON while the values are read, with no parsed document in between. It
// takes only what it reads exactly as the full parser would, and throws
// Unsupported for everything else (a malformed line, an escape in a string,
// an exponent, more digits than an exact conversion allows, "-0", deep
// nesting); the caller then reads the line with the full parser, which also
// words the error of a malformed one.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <optional>
#include <string_view>

namespace quorvane::input {

class JsonPullParser {
public:
    struct Unsupported {};

    struct Number {
        bool is_integer;
        std::int64_t integer;  // when is_integer
        double value;          // when not
    };

    // Precondition: the 8 bytes after line.end() are readable (their content
    // does not matter).
    explicit JsonPullParser(std::string_view line) : next_(line.data()), end_(line.data() + line.size()) {}

    // The first byte of the next token after whitespace, '\0' at the end.
    char peek() {
        while (next_ != end_ && is_whitespace(*next_)) ++next_;
        return next_ == end_ ? '\0' : *next_;
    }
    // Consumes the byte peek() returned, which must be `expected`.
    void consume(char expected) {
        if (peek() != expected) throw Unsupported{};
        ++next_;
    }

    std::string_view string();  // at '"'
    Number number();            // at '-' or a digit
    bool boolean();             // at "true" or "false"
    void skip_value(int depth);

    // After the root value: nothing but whitespace may follow.
    void finish() {
        peek();
        if (next_ != end_) throw Unsupported{};
    }

    // Far below the full parser's limit, and deeper than any stream message.
    static constexpr int kMaxDepth = 32;

private:
    static bool is_whitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    Number long_number(bool negative, const char* at);
    void literal(std::string_view text);

    const char* next_;
    const char* end_;
};

namespace pull_detail {

// The count of digits that start the eight bytes of `word` (first byte
// lowest), 8 when all are: a byte is a digit when both it and it plus 6 have
// 3 for their high nibble. A carry out of a byte only reaches later bytes,
// which no longer count.
inline int leading_digits(std::uint64_t word) {
    constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0, kThrees = 0x3030303030303030;
    const std::uint64_t misses = ((word & kHigh) ^ kThrees) | (((word + 0x0606060606060606) & kHigh) ^ kThrees);
    return misses == 0 ? 8 : std::countr_zero(misses) / 8;
}

// The value of the first `count` (1 to 8) digits of `word`: the rest are
// shifted out, and the missing ones come in as leading zeros.
inline std::uint64_t digits_value(std::uint64_t word, int count) {
    std::uint64_t v = (word & 0x0F0F0F0F0F0F0F0F) << (8 * (8 - count));
    v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FF;
    v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFF;
    return (v * 10000 + (v >> 32)) & 0xFFFFFFFF;
}

}  // namespace pull_detail

// The grammar's number without exponent. An integer of up to 18 digits is
// the integer itself; a fraction is the digits over a power of ten, which is
// exact whenever the digits are (the full parser rounds the same way).
//
// Nearly every number has fewer than 16 digits before the point and 8 after
// it: each run is read eight bytes at a time, which the padding after the
// line allows, and counted only up to the line's end.
inline JsonPullParser::Number JsonPullParser::number() {
    peek();
    const char* at = next_;
    const char* const end = end_;
    const bool negative = at != end && *at == '-';
    if (negative) ++at;
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
        if (after == end || *after != '.') {
            if (after != end && (*after == 'e' || *after == 'E')) throw Unsupported{};
            // "-0" must read as the double -0.0: the full parser's business.
            if (negative && whole == 0) throw Unsupported{};
            next_ = after;
            const auto integer = static_cast<std::int64_t>(whole);
            return {true, negative ? -integer : integer, 0.0};
        }
        // A fraction: at most 15 digits in all, so that they are exact as a double.
        const auto [fraction_word, fraction_count] = run_at(after + 1);
        if (fraction_count > 0 && fraction_count < 8 && count + fraction_count <= 15) {
            after += 1 + fraction_count;
            if (after != end && (*after == 'e' || *after == 'E')) throw Unsupported{};
            next_ = after;
            // Signed, as the conversions of signed integers to double are the cheap ones.
            constexpr std::int64_t kScales[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};
            const std::int64_t scale = kScales[fraction_count];
            const auto digits = static_cast<std::int64_t>(whole) * scale +
                                static_cast<std::int64_t>(pull_detail::digits_value(fraction_word, fraction_count));
            const double value = static_cast<double>(digits) / static_cast<double>(scale);
            return {false, 0, negative ? -value : value};
        }
    }
    return long_number(negative, at);
}

// A value of the line at the parser's position, read the way
// market_change_reading.h reads values: every reading consumes it.
class PullValue {
public:
    PullValue(JsonPullParser& parser, int depth) : parser_(&parser), depth_(depth) {}

    bool is_number() {
        const char c = parser_->peek();
        return c == '-' || (c >= '0' && c <= '9');
    }
    bool is_string() { return parser_->peek() == '"'; }

    std::optional<std::int64_t> integer() {
        if (!is_number()) return skipped();
        const auto number = parser_->number();
        if (!number.is_integer) return std::nullopt;
        return number.integer;
    }
    std::optional<double> number() {
        if (!is_number()) return skipped();
        const auto number = parser_->number();
        return number.is_integer ? static_cast<double>(number.integer) : number.value;
    }
    std::optional<std::string_view> string() {
        if (!is_string()) return skipped();
        return parser_->string();
    }
    std::optional<bool> boolean() {
        const char c = parser_->peek();
        if (c != 't' && c != 'f') return skipped();
        return parser_->boolean();
    }
    void skip() { parser_->skip_value(depth_); }

    template <class Visit>
    bool members(Visit&& visit) {
        if (parser_->peek() != '{') return not_container();
        if (enter_and_close('}')) return true;
        for (;;) {
            if (parser_->peek() != '"') throw JsonPullParser::Unsupported{};
            const std::string_view key = parser_->string();
            parser_->consume(':');
            visit(key, PullValue(*parser_, depth_ + 1));
            if (close_or_next('}')) return true;
        }
    }

    template <class Visit>
    bool elements(Visit&& visit) {
        if (parser_->peek() != '[') return not_container();
        if (enter_and_close(']')) return true;
        for (;;) {
            visit(PullValue(*parser_, depth_ + 1));
            if (close_or_next(']')) return true;
        }
    }

private:
    // Any reading of a value of another kind: the value is still checked.
    std::nullopt_t skipped() {
        skip();
        return std::nullopt;
    }
    bool not_container() {
        skip();
        return false;
    }
    // Steps into the container; true when it is empty and closed at once.
    bool enter_and_close(char close) {
        if (depth_ >= JsonPullParser::kMaxDepth) throw JsonPullParser::Unsupported{};
        parser_->consume(parser_->peek());
        if (parser_->peek() != close) return false;
        parser_->consume(close);
        return true;
    }
    // After a member or element: true at the closing bracket, false at ','.
    bool close_or_next(char close) {
        const char c = parser_->peek();
        if (c == ',') {
            parser_->consume(',');
            return false;
        }
        parser_->consume(close);
        return true;
    }

    JsonPullParser* parser_;
    int depth_;
};

}  // namespace quorvane::input
