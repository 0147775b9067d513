// Picks what one line contributes to the stored messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/cache/stored_messages.h"

namespace quorvane::input {

// The records of one line and the texts unescaped for them, which a reader
// keeps from one line of a file to the next so that their buffers are
// reused.
class LineScratch {
public:
    cache::MarketChangeRecord& next() {
        if (count_ == records_.size()) records_.emplace_back();
        return records_[count_++];
    }
    void clear() { count_ = 0; }
    void append_to(cache::StoredMessages& out, std::int64_t pt) const {
        out.append(pt, {records_.data(), count_});
    }

    std::string unescaped;

private:
    std::vector<cache::MarketChangeRecord> records_;
    std::size_t count_ = 0;
};

// Appends the line's message to `out` when the line carries market changes
// and a publish time of at least 1; appends nothing otherwise. Throws
// StreamError, having appended nothing, for a line that is not valid UTF-8
// or not exactly one well-formed JSON document.
//
// Precondition: the JsonPullParser::kReadPastEnd bytes after line.end() are
// readable, the first of them at most ' '.
void select_line_message(std::string_view line, cache::StoredMessages& out, LineScratch& records);

}  // namespace quorvane::input
