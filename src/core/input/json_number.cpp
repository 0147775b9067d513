#include "core/input/json_number.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <system_error>

namespace quorvane::input {
namespace {

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// from_chars reports both overflow and underflow as out of range. A value
// beyond the largest double is at least 1, one below the smallest is far
// below 1: the place of the first non-zero digit, shifted by the exponent,
// tells them apart.
bool is_at_least_one(std::string_view token) {
    std::size_t at = token.front() == '-' ? 1 : 0;
    std::int64_t place = 0;  // the power of ten of the first non-zero digit, plus one
    bool found = false;
    for (; at < token.size() && is_digit(token[at]); ++at) {
        if (token[at] != '0') found = true;
        if (found) ++place;
    }
    if (at < token.size() && token[at] == '.') {
        for (++at; at < token.size() && is_digit(token[at]); ++at) {
            if (found) continue;
            if (token[at] != '0') found = true;
            else --place;
        }
    }
    if (at < token.size()) {  // the exponent
        ++at;
        const bool negative = token[at] == '-';
        if (token[at] == '-' || token[at] == '+') ++at;
        std::int64_t exponent = 0;
        // Saturated: the place only needs to be compared with zero.
        for (; at < token.size(); ++at) exponent = std::min<std::int64_t>(exponent * 10 + (token[at] - '0'), 1'000'000'000'000);
        place += negative ? -exponent : exponent;
    }
    return place > 0;
}

}  // namespace

std::optional<double> json_number_value(std::string_view token) {
    double value = 0.0;
    const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        if (is_at_least_one(token)) return std::nullopt;
        return token.front() == '-' ? -0.0 : 0.0;
    }
    return value;
}

}  // namespace quorvane::input
