#include "core/input/json_syntax_error.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "core/input/json_number.h"

namespace quorvane::input {

std::string JsonSyntaxError::message() const {
    std::string text(description);
    text += " at line 1 column ";
    text += std::to_string(column);
    return text;
}

namespace {

constexpr int kEnd = -1;
constexpr int kNestingLimit = 128;

constexpr bool is_digit(int c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Recursive descent over the text. A fault is thrown as JsonSyntaxError and
// placed either at the last byte consumed (fail_at_consumed) or at the byte
// looked at but not consumed (fail_at_next).
class SyntaxChecker {
public:
    explicit SyntaxChecker(std::string_view text) : text_(text) {}

    void document() {
        value();
        if (skip_white_space() != kEnd) fail_at_next("trailing characters");
    }

private:
    [[noreturn]] void fail_at_consumed(std::string_view description) const {
        throw JsonSyntaxError{description, pos_};
    }
    [[noreturn]] void fail_at_next(std::string_view description) const {
        throw JsonSyntaxError{description, std::min(pos_ + 1, text_.size())};
    }

    int peek() const {
        return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_]) : kEnd;
    }
    int next() {
        const int c = peek();
        if (c != kEnd) ++pos_;
        return c;
    }

    int skip_white_space() {
        for (;;) {
            const int c = peek();
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return c;
            ++pos_;
        }
    }

    void value() {
        const int c = skip_white_space();
        switch (c) {
            case kEnd: fail_at_next("EOF while parsing a value");
            case 'n': ++pos_; return literal("ull");
            case 't': ++pos_; return literal("rue");
            case 'f': ++pos_; return literal("alse");
            case '-': ++pos_; return number(pos_ - 1);
            case '"': ++pos_; return string();
            case '[': return nested(&SyntaxChecker::array_body);
            case '{': return nested(&SyntaxChecker::object_body);
            default:
                if (is_digit(c)) return number(pos_);
                fail_at_next("expected value");
        }
    }

    void literal(std::string_view rest) {
        for (char expected : rest) {
            const int c = next();
            if (c == kEnd) fail_at_consumed("EOF while parsing a value");
            if (c != expected) fail_at_consumed("expected ident");
        }
    }

    void nested(void (SyntaxChecker::*body)()) {
        if (++depth_ == kNestingLimit) fail_at_next("recursion limit exceeded");
        ++pos_;
        (this->*body)();
        --depth_;
    }

    void array_body() {
        for (bool first = true;; first = false) {
            int c = skip_white_space();
            if (c == kEnd) fail_at_next("EOF while parsing a list");
            if (c == ']') {
                ++pos_;
                return;
            }
            if (!first) {
                if (c != ',') fail_at_next("expected `,` or `]`");
                ++pos_;
                c = skip_white_space();
                if (c == ']') fail_at_next("trailing comma");
                if (c == kEnd) fail_at_next("EOF while parsing a value");
            }
            value();
        }
    }

    void object_body() {
        for (bool first = true;; first = false) {
            int c = skip_white_space();
            if (c == '}') {
                ++pos_;
                return;
            }
            if (c == kEnd) fail_at_next("EOF while parsing an object");
            if (!first) {
                if (c != ',') fail_at_next("expected `,` or `}`");
                ++pos_;
                c = skip_white_space();
            }
            if (c == '}') fail_at_next("trailing comma");
            if (c == kEnd) fail_at_next("EOF while parsing a value");
            if (c != '"') fail_at_next("key must be a string");
            ++pos_;
            string();
            c = skip_white_space();
            if (c == kEnd) fail_at_next("EOF while parsing an object");
            if (c != ':') fail_at_next("expected `:`");
            ++pos_;
            value();
        }
    }

    // The opening quote is consumed.
    void string() {
        for (;;) {
            const int c = next();
            if (c == kEnd) fail_at_consumed("EOF while parsing a string");
            if (c == '"') return;
            if (c == '\\') {
                escape();
            } else if (c < 0x20) {
                fail_at_consumed("control character (\\u0000-\\u001F) found while parsing a string");
            }
        }
    }

    void escape() {
        switch (next()) {
            case kEnd: fail_at_consumed("EOF while parsing a string");
            case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't': return;
            case 'u': return unicode_escape();
            default: fail_at_consumed("invalid escape");
        }
    }

    // Surrogates must come as a leading one escaped right before a trailing one.
    void unicode_escape() {
        const unsigned first = hex_quad();
        if (first >= 0xDC00 && first <= 0xDFFF) fail_at_consumed("lone leading surrogate in hex escape");
        if (first < 0xD800 || first > 0xDBFF) return;
        for (char expected : {'\\', 'u'}) {
            const int c = next();
            if (c == kEnd) fail_at_consumed("EOF while parsing a string");
            if (c != expected) fail_at_consumed("unexpected end of hex escape");
        }
        const unsigned second = hex_quad();
        if (second < 0xDC00 || second > 0xDFFF) fail_at_consumed("lone leading surrogate in hex escape");
    }

    unsigned hex_quad() {
        if (text_.size() - pos_ < 4) {
            pos_ = text_.size();
            fail_at_consumed("EOF while parsing a string");
        }
        unsigned value = 0;
        bool valid = true;
        for (int i = 0; i < 4; ++i) {
            const int digit = hex_value(text_[pos_ + i]);
            valid = valid && digit >= 0;
            value = value << 4 | static_cast<unsigned>(digit);
        }
        pos_ += 4;
        if (!valid) fail_at_consumed("invalid escape");
        return value;
    }

    // At the first digit, any minus sign before it (from `start`) consumed.
    void number(std::size_t start) {
        const int lead = next();
        if (lead == kEnd) fail_at_consumed("EOF while parsing a value");
        if (!is_digit(lead)) fail_at_consumed("invalid number");
        if (lead == '0' && is_digit(peek())) fail_at_next("invalid number");
        bool zero_mantissa = lead == '0';
        while (is_digit(peek())) ++pos_;
        if (peek() == '.') {
            ++pos_;
            if (!is_digit(peek())) fail_at_next(peek() == kEnd ? "EOF while parsing a value" : "invalid number");
            for (; is_digit(peek()); ++pos_) zero_mantissa = zero_mantissa && peek() == '0';
        }
        if (peek() == 'e' || peek() == 'E') {
            ++pos_;
            if (exponent(zero_mantissa)) return;
        }
        check_range(text_.substr(start, pos_ - start));
    }

    // Returns true when the exponent is too long to matter: the number is
    // then zero.
    bool exponent(bool zero_mantissa) {
        bool positive = true;
        if (peek() == '+' || peek() == '-') positive = next() == '+';
        const int lead = next();
        if (lead == kEnd) fail_at_consumed("EOF while parsing a value");
        if (!is_digit(lead)) fail_at_consumed("invalid number");
        std::int64_t exponent = lead - '0';
        while (is_digit(peek())) {
            exponent = exponent * 10 + (next() - '0');
            if (exponent > std::numeric_limits<std::int32_t>::max()) {
                if (!zero_mantissa && positive) fail_at_consumed("number out of range");
                while (is_digit(peek())) ++pos_;
                return true;
            }
        }
        return false;
    }

    // A number whose magnitude rounds beyond the largest double is refused;
    // only an exponent or more than 308 digits can get there.
    void check_range(std::string_view token) const {
        if (token.find_first_of("eE") == std::string_view::npos && token.size() <= 309) return;
        if (!json_number_value(token)) fail_at_consumed("number out of range");
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    int depth_ = 0;
};

}  // namespace

std::optional<JsonSyntaxError> find_json_syntax_error(std::string_view text) {
    try {
        SyntaxChecker(text).document();
    } catch (const JsonSyntaxError& error) {
        return error;
    }
    return std::nullopt;
}

}  // namespace quorvane::input
