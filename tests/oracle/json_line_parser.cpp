#include "oracle/json_line_parser.h"

#include <charconv>
#include <cstdint>
#include <new>

#include "core/input/json_syntax_error.h"
#include "core/input/stream_error.h"

namespace quorvane::input {

namespace {

// simdjson refuses a document once its non-empty arrays and objects nest this
// deep; empty ones are not counted. So it never accepts more than the 127
// levels allowed, but it refuses 127 non-empty levels, which the fallback
// parser then takes.
constexpr std::size_t kMaxDepth = 127;
constexpr std::size_t kFallbackMaxDepth = 128;
constexpr std::size_t kInitialCapacity = 1 << 16;

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr bool ends_token(char c) {
    switch (c) {
        case ' ': case '\t': case '\n': case '\r':
        case ',': case ':': case '[': case ']': case '{': case '}': case '"':
            return true;
        default:
            return false;
    }
}

// A cheap over-approximation: "-0" followed by anything that cannot continue
// a number. Matches inside strings only cost the slower path.
bool may_hold_negative_zero(std::string_view line) {
    for (std::size_t i = line.find('-'); i != std::string_view::npos; i = line.find('-', i + 1)) {
        if (i + 1 < line.size() && line[i + 1] == '0') {
            if (i + 2 == line.size()) return true;
            const char after = line[i + 2];
            if (!is_digit(after) && after != '.' && after != 'e' && after != 'E') return true;
        }
    }
    return false;
}

// True for an integer literal that simdjson would not read as required: "-0",
// which must be the double -0.0, and integers beyond the 64-bit ranges, which
// must be doubles.
bool needs_fraction(std::string_view token) {
    const bool negative = token.front() == '-';
    const std::string_view digits = token.substr(negative ? 1 : 0);
    if (digits.empty() || (digits.front() == '0' && digits.size() > 1)) return false;
    for (char c : digits) {
        if (!is_digit(c)) return false;
    }
    if (negative && digits == "0") return true;
    const char* const end = token.data() + token.size();
    if (negative) {
        std::int64_t value;
        return std::from_chars(token.data(), end, value).ec == std::errc::result_out_of_range;
    }
    std::uint64_t value;
    return std::from_chars(token.data(), end, value).ec == std::errc::result_out_of_range;
}

simdjson::dom::parser make_parser(std::size_t max_depth) {
    simdjson::dom::parser parser;
    if (parser.allocate(kInitialCapacity, max_depth) != simdjson::SUCCESS) throw std::bad_alloc();
    return parser;
}

}  // namespace

JsonLineParser::JsonLineParser() : parser_(make_parser(kMaxDepth)) {}

simdjson::dom::element JsonLineParser::parse(std::string_view line) {
    const std::string_view text = may_hold_negative_zero(line) ? with_exact_numbers(line) : line;
    auto result = parser_.parse(text.data(), text.size(), false);
    if (result.error() == simdjson::SUCCESS) return result.value_unsafe();
    return parse_refused(line);
}

// Refused lines are mostly malformed; the rest hold integers beyond 64 bits
// or nest 127 levels deep.
simdjson::dom::element JsonLineParser::parse_refused(std::string_view line) {
    if (auto fault = find_json_syntax_error(line)) throw StreamError(fault->message());
    if (!fallback_parser_) {
        fallback_parser_ = std::make_unique<simdjson::dom::parser>(make_parser(kFallbackMaxDepth));
    }
    const std::string_view text = with_exact_numbers(line);
    auto result = fallback_parser_->parse(text.data(), text.size(), false);
    if (result.error() != simdjson::SUCCESS) throw StreamError(simdjson::error_message(result.error()));
    return result.value_unsafe();
}

// A padded copy of `line` in which every integer literal that needs it gets a
// ".0" appended, so that simdjson reads it as the required double. Strings are
// copied untouched.
std::string_view JsonLineParser::with_exact_numbers(std::string_view line) {
    rewritten_.clear();
    rewritten_.reserve(line.size() + simdjson::SIMDJSON_PADDING + 64);
    bool in_string = false;
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (in_string) {
            rewritten_ += c;
            if (c == '\\' && i + 1 < line.size()) {
                rewritten_ += line[++i];
            } else if (c == '"') {
                in_string = false;
            }
            ++i;
        } else if (c == '"') {
            in_string = true;
            rewritten_ += c;
            ++i;
        } else if (ends_token(c)) {
            rewritten_ += c;
            ++i;
        } else {
            const std::size_t start = i;
            while (i < line.size() && !ends_token(line[i])) ++i;
            const std::string_view token = line.substr(start, i - start);
            rewritten_ += token;
            if (needs_fraction(token)) rewritten_ += ".0";
        }
    }
    const std::size_t size = rewritten_.size();
    rewritten_.append(simdjson::SIMDJSON_PADDING, ' ');
    return std::string_view(rewritten_.data(), size);
}

}  // namespace quorvane::input
