#include "oracle/document_message.h"

#include <optional>
#include <vector>

#include "core/cache/market_change_reading.h"
#include "oracle/json_readings.h"

namespace quorvane::input {

using simdjson::dom::element;

void select_document_message(element line, cache::StoredMessages& out) {
    auto members = cache::read_object(line);
    if (!members) return;
    std::optional<element> publish_time, market_changes;
    bool whole_line_is_change = false;
    for (auto [key, value] : *members) {
        if (key == "pt") publish_time = value;
        else if (key == "mc") market_changes = value;
        else if (key == "marketDefinition" || key == "rc") whole_line_is_change = true;
    }
    const std::int64_t pt = publish_time ? cache::read_integer(*publish_time).value_or(0) : 0;
    if (pt < 1) return;

    std::vector<cache::MarketChangeRecord> records;
    if (auto changes = market_changes ? cache::read_array(*market_changes) : std::nullopt) {
        for (element change : *changes) cache::read_market_change(change, records.emplace_back());
    } else if (whole_line_is_change) {
        cache::read_market_change(line, records.emplace_back());
    } else {
        return;
    }
    out.append(pt, {records.data(), records.size()});
}

}  // namespace quorvane::input
