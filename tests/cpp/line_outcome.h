// What the product's reader makes of one line, written the way the line
// vectors write outcomes: SKIP, ERR <message>, or OK <dump of the value>.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>

#include "json_dump.h"
#include "core/cache/stored_messages.h"
#include "core/input/json_pull_parser.h"
#include "core/input/line_text.h"
#include "core/input/select_line_message.h"
#include "core/input/stream_error.h"
#include "padded_line.h"

namespace quorvane::testing {

// The value read through the reader's own readings, each number as the kind
// it was read as.
inline void append_pull_dump(std::string& out, input::PullValue value) {
    using Kind = input::JsonPullParser::Number::Kind;
    if (value.is_string()) {
        append_json_string(out, *value.string());
    } else if (value.is_number()) {
        const auto number = *value.any_number();
        if (number.kind == Kind::Integer) {
            out += (number.integer < 0 ? "i64:" : "u64:") + std::to_string(number.integer);
        } else if (number.kind == Kind::Unsigned) {
            out += "u64:" + std::to_string(static_cast<std::uint64_t>(number.integer));
        } else {
            char bits[17];
            std::snprintf(bits, sizeof bits, "%016llx",
                          static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(number.value)));
            out += "f64:";
            out += bits;
        }
    } else if (value.is_object()) {
        std::map<std::string, std::string> members;
        value.members([&](std::string_view key, input::PullValue field) {
            std::string dumped;
            append_pull_dump(dumped, field);
            members.insert_or_assign(std::string(key), std::move(dumped));
        });
        out += '{';
        for (auto it = members.begin(); it != members.end(); ++it) {
            if (it != members.begin()) out += ',';
            append_json_string(out, it->first);
            out += ':' + it->second;
        }
        out += '}';
    } else if (value.is_array()) {
        out += '[';
        bool first = true;
        value.elements([&](input::PullValue item) {
            if (!std::exchange(first, false)) out += ',';
            append_pull_dump(out, item);
        });
        out += ']';
    } else if (const auto boolean = value.boolean()) {
        out += *boolean ? "true" : "false";
    } else {
        out += "null";  // boolean() checked the literal
    }
}

// Throws JsonPullParser::Malformed for a malformed line.
inline std::string pull_dump(std::string_view padded_line) {
    std::string unescaped;
    input::JsonPullParser parser(padded_line, unescaped);
    std::string out;
    append_pull_dump(out, input::PullValue(parser, 0));
    parser.finish();
    return out;
}

// The reader's own steps: the blank-line skip, then select_line_message,
// whose fault is the outcome; a line it accepts is dumped.
inline std::string product_outcome(std::string_view line) {
    if (input::is_blank_line(line)) return "SKIP";
    const PaddedLine padded(line);
    cache::StoredMessages store;
    try {
        input::LineScratch scratch;
        input::select_line_message(padded.view(), store, scratch);
    } catch (const input::StreamError& error) {
        return std::string("ERR ") + error.what();
    }
    return "OK " + pull_dump(padded.view());
}

}  // namespace quorvane::testing
