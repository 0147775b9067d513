// Locates the first fault of a line that is not one well-formed JSON
// document, described and placed the way the reader reports it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::input {

struct JsonSyntaxError {
    std::string_view description;
    // 1-based byte position where reading stopped; the last byte when the
    // text ended too early.
    std::size_t column;

    // "<description> at line 1 column <column>"
    std::string message() const;
};

// Reads `text` strictly, left to right, as exactly one JSON document
// (whitespace around it: space, tab, line feed, carriage return; at most 127
// nested arrays and objects) and returns the first fault met, or nothing when
// the text is well formed. It builds no values.
std::optional<JsonSyntaxError> find_json_syntax_error(std::string_view text);

}  // namespace quorvane::input
