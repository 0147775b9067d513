#include "market/input/select_line_message.h"

#include <optional>
#include <vector>

#include "market/cache/json_readings.h"

namespace quorvane::input {

using simdjson::dom::element;

void select_line_message(element line, cache::StoredMessages& out) {
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

    // Records keep their vectors' capacity from one line to the next.
    thread_local std::vector<cache::MarketChangeRecord> records;
    std::size_t count = 0;
    auto next_record = [&]() -> cache::MarketChangeRecord& {
        if (count == records.size()) records.emplace_back();
        return records[count++];
    };
    if (auto changes = market_changes ? cache::read_array(*market_changes) : std::nullopt) {
        for (element change : *changes) cache::read_market_change(change, next_record());
    } else if (whole_line_is_change) {
        cache::read_market_change(line, next_record());
    } else {
        return;
    }
    out.append(pt, {records.data(), count});
}

}  // namespace quorvane::input
