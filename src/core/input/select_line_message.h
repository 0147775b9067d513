// Picks what one line contributes to the stored messages.
#pragma once

#include <string_view>

#include "core/cache/stored_messages.h"

namespace quorvane::input {

// Appends the line's message to `out` when the line carries market changes
// and a publish time of at least 1; appends nothing otherwise. Throws
// StreamError, having appended nothing, for a line that is not valid UTF-8
// or not exactly one well-formed JSON document.
//
// Precondition: the JsonPullParser::kReadPastEnd bytes after line.end() are
// readable.
void select_line_message(std::string_view line, cache::StoredMessages& out);

}  // namespace quorvane::input
