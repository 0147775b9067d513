// Picks what one line contributes to the stored messages.
#pragma once

#include <string_view>

#include <simdjson.h>

#include "core/cache/stored_messages.h"

namespace quorvane::input {

// Appends the line's message to `out` when the line carries market changes
// and a publish time of at least 1; appends nothing otherwise.
void select_line_message(simdjson::dom::element line, cache::StoredMessages& out);

// The same straight from the line's text, in one pass. Returns false, having
// appended nothing, for a line it leaves to the parsed document: a malformed
// one, or one outside what JsonPullParser takes, or one whose market change
// is the line itself.
bool try_select_line_message(std::string_view line, cache::StoredMessages& out);

}  // namespace quorvane::input
