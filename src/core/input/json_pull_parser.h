// A one-pass reader of a stream line: it checks the line as strict JSON while
// the values are read, with no parsed document in between, and reads every
// well-formed line. It throws Malformed at the first fault it meets; the
// caller then has the fault worded by find_json_syntax_error.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <optional>
#include <string_view>

#include "core/input/pair_block.h"
#include "core/input/text_block.h"

namespace quorvane::input {

class JsonPullParser {
public:
    struct Malformed {};

    struct Number {
        enum class Kind : std::uint8_t {
            Integer,   // an integer literal in the int64 range: `integer`
            Unsigned,  // one above it in the uint64 range: `integer` holds its bits, `value` its double
            Double,    // any other number: `value`
        };
        Kind kind;
        std::int64_t integer;
        double value;

        bool is_integer() const { return kind == Kind::Integer; }
    };

    // Numbers are read a word at a time, texts and pairs of numbers a block
    // at a time, also across the end of the line.
    static constexpr std::size_t kReadPastEnd = std::max<std::size_t>(kPairBlockSize, kTextBlockSize);

    // Precondition: the kReadPastEnd bytes after line.end() are readable,
    // and the first of them is at most ' ', as the line feed that ends a
    // line or the line reader's zero padding is; the others may hold
    // anything. Texts with escapes are unescaped into `unescaped`, which the
    // caller clears before a line and keeps while the texts are used: it is
    // given room for twice the line once, so appending never moves it, and
    // the line may be read in two passes.
    JsonPullParser(std::string_view line, std::string& unescaped)
        : next_(line.data()), end_(line.data() + line.size()), unescaped_(&unescaped), line_size_(line.size()) {}

    // The first byte of the next token, '\0' at the end. Whitespace is
    // passed here, when a token is looked for, rather than after each one:
    // a byte above ' ' is a token's, and the byte after the line is not, so
    // one comparison looks at nearly every token of a stream line.
    char peek() {
        const char c = *next_;
        if (static_cast<unsigned char>(c) > ' ') return c;
        return peek_past_whitespace();
    }
    // Consumes the byte peek() returned, which must be `expected`.
    [[gnu::always_inline]] void consume(char expected) {
        if (peek() != expected) throw Malformed{};
        ++next_;
    }

    std::string_view string();  // at '"'
    std::string_view key();     // string() of a member's key, at the '"' peek() returned
    void skip_string();         // at '"'
    Number number();            // at '-' or a digit
    // An array of exactly two numbers, the common element of a ladder: true
    // and their values in `first` and `second`; anything else is left unread
    // for the general reading, and both as they were. Out-parameters, as an
    // optional pair returned goes through memory in a way that stalls the
    // loads after it.
    bool number_pair(double& first, double& second);
    // At a number: true and its k, when it is a plain number of at most eight
    // bytes and two decimals, k / 100 exactly; otherwise false, and it is
    // left unread.
    bool hundredths(std::uint64_t& k);
    // Inside an array, at the start of an element: reads the elements that
    // are the usual pair of a ladder, two plain numbers of at most eight
    // bytes and two decimals each, written without whitespace, and gives
    // pair(first, second) the k of each such that the number is k / 100
    // exactly. Stops at the array's end, having consumed its ']', or before
    // an element or a separator that it leaves to the general reading.
    enum class LadderStop : std::uint8_t { Closed, AtElement, AfterElement };
    template <class Pair>
    LadderStop hundredths_pairs(Pair&& pair);
    bool boolean();             // at "true" or "false"
    void skip_value(int depth);
    // At the start of a line: true, past the ':' after "pt", when the line
    // starts as the exchange writes nearly every line, `{"op":"mcm","clk":`
    // and a plain text, then `,"pt":`; false, and nothing read, otherwise.
    // Those members need no reading but the check.
    bool usual_head();

    // After the root value: nothing but whitespace may follow.
    void finish() {
        peek();
        if (next_ != end_) throw Malformed{};
    }

    // The most arrays and objects that may nest, empty ones included.
    static constexpr int kMaxDepth = 127;

    static bool starts_number(char c) { return c == '-' || (c >= '0' && c <= '9'); }
    static double value_of(Number number) {
        return number.is_integer() ? static_cast<double>(number.integer) : number.value;
    }

private:
    static bool is_whitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    // peek() at whitespace, the line's end or a control byte.
    char peek_past_whitespace();
    // Moves past a token that ends at `after`.
    void advance_to(const char* after) { next_ = after; }
    // The endings of number(): its last digit is just before `after`. An
    // exponent there, or "-0", is exact_number()'s business.
    Number integer_before(const char* after, bool negative, std::int64_t whole);
    Number fraction_before(const char* after, bool negative, std::int64_t digits, double scale);
    // number() beyond one word, from the first byte after the sign at `at`.
    Number wide_number(bool negative, const char* at);
    // Any number of the grammar, from the number's first byte.
    Number exact_number();
    // The ',' and the ']' of a pair that fits one block, at `at` on its '[',
    // and the points of its two short numbers; false for any other array.
    bool short_pair_shape(const char* at, unsigned& comma, unsigned& close, unsigned& first_point,
                          unsigned& second_point) const;
    // One pair that hundredths_pairs() takes, at `at`; returns the position
    // after it, or null for any other value.
    const char* hundredths_pair_at(const char* at, std::uint64_t& first, std::uint64_t& second) const;
    // number_pair() of a pair that fits one block, at '['.
    bool short_pair(double& first, double& second);
    // number_pair() of any other array, token by token, at '['.
    bool stepped_pair(double& first, double& second);
    // The short numbers of the block at `at`, from byte `start` up to `stop`.
    static unsigned short_number_point(const char* at, const PairBlock& block, unsigned start, unsigned stop);
    static double short_number(const char* at, unsigned start, unsigned stop, unsigned point);
    // The hundredths of such a number, when it has at most two decimals.
    static bool short_hundredths(const char* at, unsigned start, unsigned stop, unsigned point,
                                 std::uint64_t& hundredths);
    // skip_value() of such an array of any count of numbers; false when it
    // is not one, and nothing is read.
    bool skip_short_numbers();
    // The ends of a text's plain run and of the text, from within it.
    [[gnu::always_inline]] const char* plain_end(const char* at) const;
    const char* special_end(const char* at) const;
    // string() from its first byte that needs a closer look, at `stop`.
    std::string_view special_string(const char* start, const char* stop);
    std::string_view unescape(const char* start, const char* quote);
    void literal(std::string_view text);

    const char* next_;
    const char* end_;
    std::string* unescaped_;
    std::size_t line_size_;
};

namespace pull_detail {

// The words below are loaded from memory with their first byte lowest.
static_assert(std::endian::native == std::endian::little, "digit words need little-endian loads");

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

// Nearly every text is short plain ASCII: a block at a time up to the
// closing quote or the first byte that needs a closer look. The padding
// after the line makes every block readable.
inline const char* JsonPullParser::plain_end(const char* at) const {
    for (;;) {
        const unsigned special = first_special_byte(at);
        if (special < kTextBlockSize) {
            const char* const found = at + special;
            if (found >= end_) throw Malformed{};
            return found;
        }
        at += kTextBlockSize;
        if (at >= end_) throw Malformed{};
    }
}

inline void JsonPullParser::skip_string() {
    if (peek() != '"') throw Malformed{};
    const char* const stop = plain_end(next_ + 1);
    advance_to((*stop == '"' ? stop : special_end(stop)) + 1);
}

// Nearly every text is a view into the line, found by one block or two.
inline std::string_view JsonPullParser::string() {
    if (peek() != '"') throw Malformed{};
    const char* const start = next_ + 1;
    const char* const stop = plain_end(start);
    if (*stop != '"') return special_string(start, stop);
    advance_to(stop + 1);
    return std::string_view(start, static_cast<std::size_t>(stop - start));
}

namespace pull_detail {

// `start` + `length` for a length of 1 to 16, through one branch per length;
// null for any other. The CPU predicts the branch, as a line's keys come in
// much the same order from one line to the next, and computes the sum from
// a constant: what comes after a key then need not wait for the search that
// found its length.
inline const char* predicted_end(const char* start, unsigned length) {
    switch (length) {
        case 1: return start + 1;
        case 2: return start + 2;
        case 3: return start + 3;
        case 4: return start + 4;
        case 5: return start + 5;
        case 6: return start + 6;
        case 7: return start + 7;
        case 8: return start + 8;
        case 9: return start + 9;
        case 10: return start + 10;
        case 11: return start + 11;
        case 12: return start + 12;
        case 13: return start + 13;
        case 14: return start + 14;
        case 15: return start + 15;
        case 16: return start + 16;
        default: return nullptr;
    }
}

}  // namespace pull_detail

// Nearly every key is plain ASCII and shorter than a block.
inline std::string_view JsonPullParser::key() {
    const char* const start = next_ + 1;
    const unsigned length = first_special_byte(start);
    const char* const stop = pull_detail::predicted_end(start, length);
    if (stop == nullptr || stop >= end_ || *stop != '"') return string();
    advance_to(stop + 1);
    return std::string_view(start, length);
}

inline JsonPullParser::Number JsonPullParser::integer_before(const char* after, bool negative, std::int64_t whole) {
    // "-0" must read as the double -0.0.
    if ((after != end_ && (*after | 0x20) == 'e') || (negative && whole == 0)) return exact_number();
    advance_to(after);
    return {Number::Kind::Integer, negative ? -whole : whole, 0.0};
}

// `digits` over `scale`, a power of ten: exact operands, so one correctly
// rounded division. Signed, as the conversions of signed integers to double
// are the cheap ones.
inline JsonPullParser::Number JsonPullParser::fraction_before(const char* after, bool negative, std::int64_t digits,
                                                              double scale) {
    if (after != end_ && (*after | 0x20) == 'e') return exact_number();
    advance_to(after);
    const double value = static_cast<double>(digits) / scale;
    return {Number::Kind::Double, 0, negative ? -value : value};
}

// The grammar's number. An integer of up to 15 digits is the integer itself;
// a fraction is the digits over a power of ten, which is exact whenever the
// digits are (correct rounding gives the same); the rest is exact_number()'s.
//
// Nearly every number of a stream has at most eight bytes of digits and
// point: it is read from one eight-byte word, which the padding after the
// line allows, and counted only up to the line's end.
[[gnu::always_inline]] inline JsonPullParser::Number JsonPullParser::number() {
    const char* at = next_;
    const bool negative = at != end_ && *at == '-';
    if (negative) ++at;
    const std::ptrdiff_t room = end_ - at;
    std::uint64_t word;
    std::memcpy(&word, at, sizeof word);
    const int count = static_cast<int>(std::min<std::ptrdiff_t>(pull_detail::leading_digits(word), room));
    // Eight digits may go on in the next word; they are a whole run when they
    // end the line or a non-digit follows.
    const bool whole_run = count < 8 || room == 8 || static_cast<unsigned char>(at[8] - '0') > 9;
    if (count > 0 && whole_run && (count == 1 || *at != '0')) {
        if (count == room || at[count] != '.') {
            return integer_before(at + count, negative,
                                  static_cast<std::int64_t>(pull_detail::digits_value(word, count)));
        }
        if (count < 7) {
            // The point taken out: the whole and the fraction digits as one run,
            // which must end inside the word or just after it.
            const std::uint64_t low = (std::uint64_t{1} << (8 * count)) - 1;
            const std::uint64_t joined = (word & low) | ((word >> 8) & ~low);
            const int digits = static_cast<int>(std::min<std::ptrdiff_t>(pull_detail::leading_digits(joined), room - 1));
            const bool whole_fraction = digits < 7 || room == 8 || static_cast<unsigned char>(at[8] - '0') > 9;
            if (digits > count && whole_fraction) {
                static constexpr double kScales[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6};
                return fraction_before(at + digits + 1, negative,
                                       static_cast<std::int64_t>(pull_detail::digits_value(joined, digits)),
                                       kScales[digits - count]);
            }
        }
    }
    return wide_number(negative, at);
}

inline bool JsonPullParser::hundredths(std::uint64_t& k) {
    const char* const at = next_;
    const std::ptrdiff_t room = end_ - at;
    std::uint64_t word;
    std::memcpy(&word, at, sizeof word);
    const int count = static_cast<int>(std::min<std::ptrdiff_t>(pull_detail::leading_digits(word), room));
    if (count == 0 || count == 8 || (count > 1 && *at == '0')) return false;
    if (count == room || at[count] != '.') {
        if (count < room && (at[count] | 0x20) == 'e') return false;
        k = pull_detail::digits_value(word, count) * 100;
        advance_to(at + count);
        return true;
    }
    // The point taken out, as in number(): at most two decimals, then no digit
    // nor exponent.
    const std::uint64_t low = (std::uint64_t{1} << (8 * count)) - 1;
    const std::uint64_t joined = (word & low) | ((word >> 8) & ~low);
    const int digits = static_cast<int>(std::min<std::ptrdiff_t>(pull_detail::leading_digits(joined), room - 1));
    const int decimals = digits - count;
    if (decimals < 1 || decimals > 2) return false;
    const char* const after = at + digits + 1;
    if (after != end_ && (static_cast<unsigned char>(*after - '0') <= 9 || (*after | 0x20) == 'e')) return false;
    k = pull_detail::digits_value(joined, digits) * (decimals == 1 ? 10 : 1);
    advance_to(after);
    return true;
}

// The shape of a number of the block from byte `start` up to `stop`: up to
// eight digits and at most one point, so that the digits, and with them the
// value, are exact. Returns the point's offset in the number, its length when
// it has none, and 0 for anything else (a sign, an exponent, a leading zero,
// longer numbers), which is left to number().
inline unsigned JsonPullParser::short_number_point(const char* at, const PairBlock& block, unsigned start,
                                                   unsigned stop) {
    const unsigned length = stop - start;
    if (length == 0 || length > 8) return 0;
    const std::uint32_t span = ((1u << length) - 1) << start;
    const std::uint32_t points = block.points & span;
    if (((block.digits | points) & span) != span) return 0;
    const bool leading_zero = at[start] == '0';
    if (points == 0) return length > 1 && leading_zero ? 0 : length;
    const unsigned point = static_cast<unsigned>(std::countr_zero(points)) - start;
    if ((points & (points - 1)) != 0 || point == length - 1 || (leading_zero && point != 1)) return 0;
    return point;
}

// The value of a number that short_number_point() took.
inline double JsonPullParser::short_number(const char* at, unsigned start, unsigned stop, unsigned point) {
    const unsigned length = stop - start;
    std::uint64_t word;
    std::memcpy(&word, at + start, sizeof word);
    if (point == length) return static_cast<double>(pull_detail::digits_value(word, static_cast<int>(length)));
    // The point taken out, as in number().
    const std::uint64_t low = (std::uint64_t{1} << (8 * point)) - 1;
    const std::uint64_t joined = (word & low) | ((word >> 8) & ~low);
    static constexpr double kScales[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6};
    const auto digits = static_cast<std::int64_t>(pull_detail::digits_value(joined, static_cast<int>(length - 1)));
    return static_cast<double>(digits) / kScales[length - 1 - point];
}

inline bool JsonPullParser::short_hundredths(const char* at, unsigned start, unsigned stop, unsigned point,
                                             std::uint64_t& hundredths) {
    const unsigned length = stop - start;
    std::uint64_t word;
    std::memcpy(&word, at + start, sizeof word);
    if (point == length) {
        hundredths = pull_detail::digits_value(word, static_cast<int>(length)) * 100;
        return true;
    }
    const unsigned decimals = length - 1 - point;
    if (decimals > 2) return false;
    // The point taken out, as in number().
    const std::uint64_t low = (std::uint64_t{1} << (8 * point)) - 1;
    const std::uint64_t joined = (word & low) | ((word >> 8) & ~low);
    hundredths = pull_detail::digits_value(joined, static_cast<int>(length - 1)) * (decimals == 1 ? 10 : 1);
    return true;
}

// The ',' and the ']' of the pair found at once, and the bytes between them
// checked as a whole: no stepping from token to token.
inline bool JsonPullParser::short_pair_shape(const char* at, unsigned& comma, unsigned& close, unsigned& first_point,
                                             unsigned& second_point) const {
    const PairBlock block = classify_pair_block(at);
    comma = static_cast<unsigned>(std::countr_zero(block.commas));  // 32 for none
    close = static_cast<unsigned>(std::countr_zero(block.closes));
    if (close >= kPairBlockSize || comma >= close || close >= static_cast<std::size_t>(end_ - at)) return false;
    first_point = short_number_point(at, block, 1, comma);
    second_point = short_number_point(at, block, comma + 1, close);
    return first_point != 0 && second_point != 0;
}

inline bool JsonPullParser::short_pair(double& first, double& second) {
    unsigned comma, close, first_point, second_point;
    if (!short_pair_shape(next_, comma, close, first_point, second_point)) return false;
    first = short_number(next_, 1, comma, first_point);
    second = short_number(next_, comma + 1, close, second_point);
    advance_to(next_ + close + 1);
    return true;
}

inline const char* JsonPullParser::hundredths_pair_at(const char* at, std::uint64_t& first,
                                                      std::uint64_t& second) const {
    unsigned comma, close, first_point, second_point;
    if (*at != '[' || !short_pair_shape(at, comma, close, first_point, second_point) ||
        !short_hundredths(at, 1, comma, first_point, first) ||
        !short_hundredths(at, comma + 1, close, second_point, second))
        return nullptr;
    return at + close + 1;
}

// The position is kept in a local throughout, so that what `pair` stores
// cannot make the compiler load it again.
template <class Pair>
JsonPullParser::LadderStop JsonPullParser::hundredths_pairs(Pair&& pair) {
    const char* at = next_;
    for (;;) {
        std::uint64_t first, second;
        const char* const after = hundredths_pair_at(at, first, second);
        if (after == nullptr) {
            next_ = at;
            return LadderStop::AtElement;
        }
        pair(first, second);
        at = after;
        if (*at == ',') {
            ++at;
            continue;
        }
        if (*at == ']') {
            next_ = at + 1;
            return LadderStop::Closed;
        }
        next_ = at;
        return LadderStop::AfterElement;
    }
}

// An array of short numbers that ends inside the block, as the "bdatb"
// ladders' levels: every byte up to the ']' checked at once.
inline bool JsonPullParser::skip_short_numbers() {
    const PairBlock block = classify_pair_block(next_);
    const auto close = static_cast<unsigned>(std::countr_zero(block.closes));
    if (close >= kPairBlockSize || close >= static_cast<std::size_t>(end_ - next_)) return false;
    const std::uint32_t inside = ((1u << close) - 1) & ~1u;
    if (((block.digits | block.points | block.commas) & inside) != inside) return false;
    std::uint32_t commas = block.commas & inside;
    for (unsigned start = 1;;) {
        const unsigned stop = commas != 0 ? static_cast<unsigned>(std::countr_zero(commas)) : close;
        if (short_number_point(next_, block, start, stop) == 0) return false;
        if (commas == 0) break;
        commas &= commas - 1;
        start = stop + 1;
    }
    advance_to(next_ + close + 1);
    return true;
}

inline bool JsonPullParser::usual_head() {
    static constexpr std::string_view kStart = R"({"op":"mcm","clk":")";
    static constexpr std::string_view kPublishTime = R"(,"pt":)";
    // The byte after the line is at most ' ', which neither text holds: a
    // match never runs past the line.
    const char* const start = next_;
    if (std::memcmp(start, kStart.data(), kStart.size()) != 0) return false;
    const char* const text = start + kStart.size();
    const unsigned special = first_special_byte(text);
    const char* const quote = text + special;
    if (special == kTextBlockSize || *quote != '"' || quote >= end_) return false;
    if (std::memcmp(quote + 1, kPublishTime.data(), kPublishTime.size()) != 0) return false;
    advance_to(quote + 1 + kPublishTime.size());
    return true;
}

inline bool JsonPullParser::number_pair(double& first, double& second) {
    if (peek() != '[') return false;
    return short_pair(first, second) || stepped_pair(first, second);
}

// A value of the line at the parser's position, read the way
// market_change_encoding.h reads values: every reading consumes it.
class PullValue {
public:
    PullValue(JsonPullParser& parser, int depth) : parser_(&parser), depth_(depth) {}

    bool is_number() { return JsonPullParser::starts_number(parser_->peek()); }
    bool is_string() { return parser_->peek() == '"'; }
    bool is_object() { return parser_->peek() == '{'; }
    bool is_array() { return parser_->peek() == '['; }

    [[gnu::always_inline]] std::optional<std::int64_t> integer() {
        if (!is_number()) return skipped();
        const auto number = parser_->number();
        if (!number.is_integer()) return std::nullopt;
        return number.integer;
    }
    [[gnu::always_inline]] std::optional<double> number() {
        if (!is_number()) return skipped();
        return JsonPullParser::value_of(parser_->number());
    }
    bool number_pair(double& first, double& second) {
        // Too deep for the pair's numbers: the general reading refuses it.
        return depth_ < JsonPullParser::kMaxDepth && parser_->number_pair(first, second);
    }
    std::optional<std::string_view> string() {
        if (!is_string()) return skipped();
        return parser_->string();
    }
    // The k of a plain number that is k / 100 exactly, when the parser's
    // hundredths() takes it; anything else is left unread.
    bool hundredths(std::uint64_t& k) {
        return JsonPullParser::starts_number(parser_->peek()) && parser_->hundredths(k);
    }
    // The number as read, for a caller that keeps its kind.
    std::optional<JsonPullParser::Number> any_number() {
        if (!is_number()) return skipped();
        return parser_->number();
    }
    std::optional<bool> boolean() {
        const char c = parser_->peek();
        if (c != 't' && c != 'f') return skipped();
        return parser_->boolean();
    }
    // A text, as "op" and "clk" of every line, without the general skip's dispatch.
    void skip() {
        if (parser_->peek() == '"') parser_->skip_string();
        else parser_->skip_value(depth_);
    }

    template <class Visit>
    bool members(Visit&& visit) {
        return members(std::optional<std::string_view>(), visit);
    }
    // members() where the caller may have read the object's start and the
    // key of its first member itself: `first_key` then names the member, and
    // the parser stands at its value.
    template <class Visit>
    bool members(std::optional<std::string_view> first_key, Visit&& visit) {
        if (!first_key) {
            if (parser_->peek() != '{') return not_container();
            if (enter_and_close('}')) return true;
        }
        for (std::string_view key = first_key ? *first_key : next_key();; key = next_key()) {
            visit(key, PullValue(*parser_, depth_ + 1));
            if (close_or_next('}')) return true;
        }
    }

    // elements() of a ladder: each element that the parser's
    // hundredths_pairs() takes goes to pair(first, second), every other to
    // other(item).
    template <class Pair, class Other>
    bool ladder(Pair&& pair, Other&& other) {
        if (parser_->peek() != '[') return not_container();
        if (enter_and_close(']')) return true;
        // Too deep for the pair's numbers: the general reading refuses them.
        const bool pairs = depth_ + 1 < JsonPullParser::kMaxDepth;
        for (;;) {
            const auto stop = pairs ? parser_->hundredths_pairs(pair) : JsonPullParser::LadderStop::AtElement;
            if (stop == JsonPullParser::LadderStop::Closed) return true;
            if (stop == JsonPullParser::LadderStop::AtElement) other(PullValue(*parser_, depth_ + 1));
            if (close_or_next(']')) return true;
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
    // A member's key and the ':' after it.
    std::string_view next_key() {
        if (parser_->peek() != '"') throw JsonPullParser::Malformed{};
        const std::string_view key = parser_->key();
        parser_->consume(':');
        return key;
    }
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
        if (depth_ >= JsonPullParser::kMaxDepth) throw JsonPullParser::Malformed{};
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
