// Checks applied to each line of a stream file before it is parsed.
#pragma once

#include <string_view>

namespace quorvane::input {

bool is_valid_utf8(std::string_view line);

// True for an empty line or one made only of Unicode White_Space characters;
// such lines are skipped rather than parsed. `line` must be valid UTF-8.
bool is_blank_line(std::string_view line);

}  // namespace quorvane::input
