// The tests' independent parser: one line of a stream file as exactly one
// JSON document, parsed by simdjson into a document the tests compare with
// what the product's one-pass reader makes of the line.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include <simdjson.h>

namespace quorvane::input {

// Numbers come out as: an integer literal that fits an unsigned 64-bit value
// as an integer (int64 tape type up to INT64_MAX, uint64 above), a negative
// one that fits a signed 64-bit value as int64, every other number as a
// double, "-0" included. A repeated key leaves both members in the object;
// readers take the last.
class JsonLineParser {
public:
    JsonLineParser();

    // Parses the whole of `line`, untrimmed. The root element stays valid
    // until the next call. Throws StreamError
    // "<description> at line 1 column <C>" when the line is not one
    // well-formed document.
    //
    // Precondition: the simdjson::SIMDJSON_PADDING bytes after line.end()
    // are readable (their content does not matter); the line is not copied.
    simdjson::dom::element parse(std::string_view line);

private:
    simdjson::dom::element parse_refused(std::string_view line);
    std::string_view with_exact_numbers(std::string_view line);

    simdjson::dom::parser parser_;
    // Created for the first well-formed line the main parser refuses.
    std::unique_ptr<simdjson::dom::parser> fallback_parser_;
    std::string rewritten_;
};

}  // namespace quorvane::input
