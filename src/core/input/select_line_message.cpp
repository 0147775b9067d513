#include "core/input/select_line_message.h"

#include <optional>
#include <utility>
#include <vector>

#include "core/cache/json_readings.h"
#include "core/cache/market_change_reading.h"
#include "core/input/json_pull_parser.h"

namespace quorvane::input {
namespace {

using simdjson::dom::element;

// The records of one line; they keep their vectors' capacity from one line
// to the next.
class LineRecords {
public:
    cache::MarketChangeRecord& next() {
        if (count_ == records_.size()) records_.emplace_back();
        return records_[count_++];
    }
    void clear() { count_ = 0; }
    void append_to(cache::StoredMessages& out, std::int64_t pt) const {
        out.append(pt, {records_.data(), count_});
    }

private:
    std::vector<cache::MarketChangeRecord> records_;
    std::size_t count_ = 0;
};

thread_local LineRecords line_records;

}  // namespace

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

    LineRecords& records = line_records;
    records.clear();
    if (auto changes = market_changes ? cache::read_array(*market_changes) : std::nullopt) {
        for (element change : *changes) cache::read_market_change(change, records.next());
    } else if (whole_line_is_change) {
        cache::read_market_change(line, records.next());
    } else {
        return;
    }
    records.append_to(out, pt);
}

bool try_select_line_message(std::string_view line, cache::StoredMessages& out) {
    LineRecords& records = line_records;
    records.clear();
    JsonPullParser parser(line);
    std::optional<std::int64_t> pt;
    bool has_changes = false;
    try {
        bool seen_changes = false;
        PullValue(parser, 0).members([&](std::string_view key, PullValue value) {
            if (key == "pt") {
                pt = value.integer();
            } else if (key == "mc") {
                // A later "mc" would replace the records read so far.
                if (std::exchange(seen_changes, true)) throw JsonPullParser::Unsupported{};
                has_changes = value.elements(
                    [&](PullValue change) { cache::read_market_change_value(change, records.next()); });
            } else if (key == "marketDefinition" || key == "rc") {
                throw JsonPullParser::Unsupported{};
            } else {
                value.skip();
            }
        });
        parser.finish();
    } catch (const JsonPullParser::Unsupported&) {
        return false;
    }
    if (has_changes && pt.value_or(0) >= 1) records.append_to(out, *pt);
    return true;
}

}  // namespace quorvane::input
