#include "core/input/line_text.h"

#include <array>

#include <simdjson.h>

namespace quorvane::input {

bool is_valid_utf8(std::string_view line) {
    return simdjson::validate_utf8(line.data(), line.size());
}

namespace {

// UTF-8 encodings of the White_Space characters above U+007F.
constexpr std::array<std::string_view, 19> kWideWhiteSpace = {
    "\u0085", "\u00A0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003",
    "\u2004", "\u2005", "\u2006", "\u2007", "\u2008", "\u2009", "\u200A",
    "\u2028", "\u2029", "\u202F", "\u205F", "\u3000",
};

constexpr bool is_ascii_white_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Length of the wide White_Space character at the start of `rest`, or 0.
std::size_t wide_white_space_length(std::string_view rest) {
    for (std::string_view space : kWideWhiteSpace) {
        if (rest.starts_with(space)) return space.size();
    }
    return 0;
}

}  // namespace

bool is_blank_line(std::string_view line) {
    // Nearly every line of a recording is an object.
    if (!line.empty() && line.front() == '{') return false;
    std::size_t i = 0;
    while (i < line.size()) {
        if (is_ascii_white_space(line[i])) {
            ++i;
            continue;
        }
        const std::size_t length = wide_white_space_length(line.substr(i));
        if (length == 0) return false;
        i += length;
    }
    return true;
}

}  // namespace quorvane::input
