// The test oracle's reading of a line: the same selection as the product's
// select_line_message, over a document parsed by simdjson.
#pragma once

#include <simdjson.h>

#include "core/cache/stored_messages.h"

namespace quorvane::input {

// Appends the message of a parsed line to `out` when it carries market
// changes and a publish time of at least 1; appends nothing otherwise.
void select_document_message(simdjson::dom::element line, cache::StoredMessages& out);

}  // namespace quorvane::input
