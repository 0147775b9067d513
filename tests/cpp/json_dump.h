// Canonical text of a parsed value, as the line vectors write it: numbers as
// u64:N, i64:N (negative only) or f64:<16 hex digits of the bits>, object
// keys sorted by bytes with a repeated key kept once, holding the later value.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>

#include <simdjson.h>

namespace quorvane::testing {

inline void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

inline void append_dump(std::string& out, simdjson::dom::element value) {
    using simdjson::dom::element_type;
    switch (value.type()) {
        case element_type::NULL_VALUE: out += "null"; break;
        case element_type::BOOL: out += value.get_bool().value() ? "true" : "false"; break;
        case element_type::INT64: {
            const std::int64_t n = value.get_int64().value();
            out += (n < 0 ? "i64:" : "u64:") + std::to_string(n);
            break;
        }
        case element_type::UINT64: out += "u64:" + std::to_string(value.get_uint64().value()); break;
        case element_type::DOUBLE: {
            char bits[17];
            std::snprintf(bits, sizeof bits, "%016llx",
                          static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(value.get_double().value())));
            out += "f64:";
            out += bits;
            break;
        }
        case element_type::STRING: append_json_string(out, value.get_string().value()); break;
        case element_type::ARRAY: {
            out += '[';
            bool first = true;
            const simdjson::dom::array items = value.get_array().value();
            for (simdjson::dom::element item : items) {
                if (!first) out += ',';
                first = false;
                append_dump(out, item);
            }
            out += ']';
            break;
        }
        case element_type::OBJECT: {
            std::map<std::string_view, simdjson::dom::element> members;
            const simdjson::dom::object fields = value.get_object().value();
            for (auto field : fields) members.insert_or_assign(field.key, field.value);
            out += '{';
            bool first = true;
            for (const auto& [key, member] : members) {
                if (!first) out += ',';
                first = false;
                append_json_string(out, key);
                out += ':';
                append_dump(out, member);
            }
            out += '}';
            break;
        }
    }
}

inline std::string dump(simdjson::dom::element value) {
    std::string out;
    append_dump(out, value);
    return out;
}

}  // namespace quorvane::testing
