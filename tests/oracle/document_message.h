// The test oracle's reading of a line: the same selection as the product's
// select_line_message, over a document parsed by simdjson, read into records
// by the plain readings rather than into the store's encoding.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <simdjson.h>

#include "core/cache/market_change_record.h"

namespace quorvane::input {

struct DocumentMessage {
    std::int64_t pt;
    std::vector<cache::MarketChangeRecord> changes;  // their texts are views into the document
};

// The message of a parsed line when it carries market changes and a publish
// time of at least 1; nullopt otherwise.
std::optional<DocumentMessage> select_document_message(simdjson::dom::element line);

}  // namespace quorvane::input
