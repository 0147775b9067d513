// A one-pass reader of the common stream line: it checks the line as strict
// JSON while the values are read, with no parsed document in between. It
// takes only what it reads exactly as the full parser would, and throws
// Unsupported for everything else (a malformed line, an escape in a string,
// an exponent, more digits than an exact conversion allows, "-0", deep
// nesting); the caller then reads the line with the full parser, which also
// words the error of a malformed one.
#pragma once

#include <cstdint>
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
        enter();
        if (parser_->peek() == '}') {
            parser_->consume('}');
            return true;
        }
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
        enter();
        if (parser_->peek() == ']') {
            parser_->consume(']');
            return true;
        }
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
    void enter() {
        if (depth_ >= JsonPullParser::kMaxDepth) throw JsonPullParser::Unsupported{};
        parser_->consume(parser_->peek());
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
