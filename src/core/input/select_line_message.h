// Picks what one line contributes to the stored messages.
#pragma once

#include <string>
#include <string_view>

#include "core/cache/message_encoder.h"
#include "core/cache/stored_messages.h"

namespace quorvane::input {

// The encoding of one line's message and the texts unescaped for it, which
// a reader keeps from one line of a file to the next so that their buffers
// are reused.
struct LineScratch {
    cache::MessageEncoder message;
    std::string unescaped;
};

// Appends the line's message to `out` when the line carries market changes
// and a publish time of at least 1; appends nothing otherwise. Throws
// StreamError, having appended nothing, for a line that is not valid UTF-8
// or not exactly one well-formed JSON document.
//
// Precondition: the JsonPullParser::kReadPastEnd bytes after line.end() are
// readable, the first of them at most ' '.
void select_line_message(std::string_view line, cache::StoredMessages& out, LineScratch& scratch);

}  // namespace quorvane::input
