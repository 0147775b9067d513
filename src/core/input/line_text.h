// Checks applied to each line of a stream file before it is parsed.
#pragma once

#include <cstddef>
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

}  // namespace quorvane::input
