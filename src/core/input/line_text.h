// The UTF-8 of stream lines: the checks applied to each line before it is
// parsed, and the encoding of the code points that escapes stand for.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane::input {

bool is_valid_utf8(std::string_view line);

// The length of the well-formed UTF-8 sequence that starts `text` (not
// empty): 1 to 4, or 0 when none does (overlong forms, surrogates and code
// points beyond U+10FFFF are not well formed).
std::size_t utf8_sequence_length(std::string_view text);

// True for an empty line or one made only of Unicode White_Space characters;
// such lines are skipped rather than parsed. `line` must be valid UTF-8.
bool is_blank_line(std::string_view line);

// Appends the UTF-8 of `code_point`, a scalar value (no surrogate).
void append_utf8(std::string& out, char32_t code_point);

}  // namespace quorvane::input
