#include "oracle/document_message.h"

#include <optional>
#include <vector>

#include "oracle/json_readings.h"

namespace quorvane::input {

using simdjson::dom::element;

std::optional<DocumentMessage> select_document_message(element line) {
    auto members = cache::read_object(line);
    if (!members) return std::nullopt;
    std::optional<element> publish_time, market_changes;
    bool whole_line_is_change = false;
    for (auto [key, value] : *members) {
        if (key == "pt") publish_time = value;
        else if (key == "mc") market_changes = value;
        else if (key == "marketDefinition" || key == "rc") whole_line_is_change = true;
    }
    const std::int64_t pt = publish_time ? cache::read_integer(*publish_time).value_or(0) : 0;
    if (pt < 1) return std::nullopt;

    DocumentMessage message{pt, {}};
    if (auto changes = market_changes ? cache::read_array(*market_changes) : std::nullopt) {
        for (element change : *changes) cache::read_market_change(change, message.changes.emplace_back());
    } else if (whole_line_is_change) {
        cache::read_market_change(line, message.changes.emplace_back());
    } else {
        return std::nullopt;
    }
    return message;
}

}  // namespace quorvane::input
