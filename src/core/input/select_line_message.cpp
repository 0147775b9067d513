#include "core/input/select_line_message.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/input/json_pull_parser.h"
#include "core/input/json_syntax_error.h"
#include "core/input/line_text.h"
#include "core/input/stream_error.h"

namespace quorvane::input {
namespace {

// Only a malformed line gets here, so the slower checks that word its fault
// run only then. An invalid byte anywhere in the line outranks any other fault.
[[noreturn]] void fail_for(std::string_view line) {
    if (!is_valid_utf8(line)) throw StreamError("stream did not contain valid UTF-8");
    if (const auto fault = find_json_syntax_error(line)) throw StreamError(fault->message());
    throw std::logic_error("the line reader refused a well-formed line");
}

}  // namespace

void select_line_message(std::string_view line, cache::StoredMessages& out, LineScratch& scratch) {
    scratch.unescaped.clear();
    std::optional<std::int64_t> pt;
    bool has_changes = false;
    bool whole_line_is_change = false;
    try {
        JsonPullParser parser(line, scratch.unescaped);
        const auto member = [&](std::string_view key, PullValue value) {
            if (key == "pt") {
                pt = value.integer();
            } else if (key == "mc") {
                // A later "mc" replaces what an earlier one gave.
                scratch.message.start();
                has_changes = value.elements([&](PullValue change) { scratch.message.add_market_change(change); });
            } else {
                if (key == "marketDefinition" || key == "rc") whole_line_is_change = true;
                value.skip();
            }
        };
        const bool usual_head = parser.usual_head();
        PullValue(parser, 0).members(usual_head ? std::optional<std::string_view>("pt") : std::nullopt, member);
        parser.finish();
        if (pt.value_or(0) < 1) return;
        if (!has_changes) {
            if (!whole_line_is_change) return;
            // Without a usable "mc" the line itself is the market change: a
            // second pass reads it as one.
            scratch.message.start();
            JsonPullParser again(line, scratch.unescaped);
            scratch.message.add_market_change(PullValue(again, 0));
        }
    } catch (const JsonPullParser::Malformed&) {
        fail_for(line);
    }
    out.append(*pt, scratch.message.finish());
}

}  // namespace quorvane::input
