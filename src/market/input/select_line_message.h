// Picks what one parsed line contributes to the stored messages.
#pragma once

#include <simdjson.h>

#include "market/cache/stored_messages.h"

namespace quorvane::input {

// Appends the line's message to `out` when the line carries market changes
// and a publish time of at least 1; appends nothing otherwise.
void select_line_message(simdjson::dom::element line, cache::StoredMessages& out);

}  // namespace quorvane::input
