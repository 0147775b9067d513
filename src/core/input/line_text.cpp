#include "core/input/line_text.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace quorvane::input {

std::size_t utf8_sequence_length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto continues = [&](std::size_t i, unsigned char low = 0x80, unsigned char high = 0xBF) {
        return i < text.size() && byte(i) >= low && byte(i) <= high;
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    if (lead < 0xC2) return 0;
    if (lead < 0xE0) return continues(1) ? 2 : 0;
    if (lead < 0xF0) {
        const bool second = lead == 0xE0 ? continues(1, 0xA0) : lead == 0xED ? continues(1, 0x80, 0x9F) : continues(1);
        return second && continues(2) ? 3 : 0;
    }
    if (lead < 0xF5) {
        const bool second = lead == 0xF0 ? continues(1, 0x90) : lead == 0xF4 ? continues(1, 0x80, 0x8F) : continues(1);
        return second && continues(2) && continues(3) ? 4 : 0;
    }
    return 0;
}

// Lines are nearly all ASCII: eight bytes are judged at once.
bool is_valid_utf8(std::string_view line) {
    std::size_t at = 0;
    while (at < line.size()) {
        if (line.size() - at >= 8) {
            std::uint64_t word;
            std::memcpy(&word, line.data() + at, sizeof word);
            if ((word & 0x8080808080808080u) == 0) {
                at += 8;
                continue;
            }
        }
        const std::size_t length = utf8_sequence_length(line.substr(at));
        if (length == 0) return false;
        at += length;
    }
    return true;
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

void append_utf8(std::string& out, char32_t code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | code_point >> 6);
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xE0 | code_point >> 12);
        out += static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code_point >> 18);
        out += static_cast<char>(0x80 | (code_point >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code_point >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

}  // namespace quorvane::input
