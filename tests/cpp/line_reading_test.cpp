// Lines the reader must read exactly: numbers that must come out as doubles,
// faults placed beside them, and the nesting limit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "line_outcome.h"

namespace quorvane::input {
namespace {

// The dump of an accepted line, or ERR and the reader's message.
std::string outcome(const std::string& line) {
    const std::string got = testing::product_outcome(line);
    return got.starts_with("OK ") ? got.substr(3) : got;
}

struct Case {
    std::string line;
    std::string expected;
};

std::string nested_arrays(int depth, const std::string& innermost) {
    return std::string(depth, '[') + innermost + std::string(depth, ']');
}

std::string nested_objects(int depth, const std::string& innermost) {
    std::string line;
    for (int i = 0; i < depth; ++i) line += "{\"a\":";
    line += innermost;
    return line + std::string(depth, '}');
}

class LineReading : public ::testing::TestWithParam<Case> {};

TEST_P(LineReading, GivesExpectedValueOrError) { EXPECT_EQ(outcome(GetParam().line), GetParam().expected); }

// Integers that must come out as doubles, at the root and inside, next to
// text that must stay as written.
INSTANTIATE_TEST_SUITE_P(ExactNumbers, LineReading, ::testing::Values(
    Case{"[-0]", "[f64:8000000000000000]"},
    Case{"{\"a\":-0,\"b\":-0.5}", "{\"a\":f64:8000000000000000,\"b\":f64:bfe0000000000000}"},
    Case{"{\"s\":\"-0\",\"t\":\"a\\\"-0\",\"n\":-0}", "{\"n\":f64:8000000000000000,\"s\":\"-0\",\"t\":\"a\\\"-0\"}"},
    Case{"[18446744073709551616,18446744073709551615]", "[f64:43f0000000000000,u64:18446744073709551615]"},
    Case{"[-9223372036854775809,-9223372036854775808]", "[f64:c3e0000000000000,i64:-9223372036854775808]"},
    Case{"{\"s\":\"123456789012345678901234567890\",\"n\":123456789012345678901234567890}",
         "{\"n\":f64:45f8ee90ff6c373e,\"s\":\"123456789012345678901234567890\"}"},
    Case{"[-0,18446744073709551616]", "[f64:8000000000000000,f64:43f0000000000000]"},
    Case{std::string("[").append(400, '9').append("]"), "ERR number out of range at line 1 column 401"}));

// Faults right after numbers that take the exact reading.
INSTANTIATE_TEST_SUITE_P(FaultsBesideExactNumbers, LineReading, ::testing::Values(
    Case{"[-0,]", "ERR trailing comma at line 1 column 5"},
    Case{"{\"a\":-0 \"b\":1}", "ERR expected `,` or `}` at line 1 column 9"},
    Case{"[18446744073709551616 x]", "ERR expected `,` or `]` at line 1 column 23"},
    Case{"[-0]x", "ERR trailing characters at line 1 column 5"}));

// Faults just after the start that nearly every line has.
INSTANTIATE_TEST_SUITE_P(FaultsAfterTheUsualHead, LineReading, ::testing::Values(
    Case{R"({"op":"mcm","clk":"A","pt":})", "ERR expected value at line 1 column 28"},
    Case{R"({"op":"mcm","clk":"A","pt":7)", "ERR EOF while parsing an object at line 1 column 28"},
    Case{R"({"op":"mcm","clk":"A","pt":)", "ERR EOF while parsing a value at line 1 column 27"},
    Case{R"({"op":"mcm","clk":"A)", "ERR EOF while parsing a string at line 1 column 20"}));

// Empty containers count as a level too: 127 levels parse, 128 do not.
INSTANTIATE_TEST_SUITE_P(NestingLimit, LineReading, ::testing::Values(
    Case{nested_arrays(127, "1"), nested_arrays(127, "u64:1")},
    Case{nested_arrays(126, "[]"), nested_arrays(127, "")},
    Case{nested_arrays(127, "[]"), "ERR recursion limit exceeded at line 1 column 128"},
    Case{nested_arrays(127, "{}"), "ERR recursion limit exceeded at line 1 column 128"},
    Case{nested_objects(127, "-0"), nested_objects(127, "f64:8000000000000000")},
    Case{nested_objects(127, "{}"), "ERR recursion limit exceeded at line 1 column 636"},
    Case{nested_arrays(127, "18446744073709551616"), nested_arrays(127, "f64:43f0000000000000")}));

TEST(LineReading, ReadsOnAfterAFaultAndAfterDeepNesting) {
    const std::vector<Case> lines = {
        {"{\"a\":1}", "{\"a\":u64:1}"},
        {"{\"a\":", "ERR EOF while parsing a value at line 1 column 5"},
        {nested_arrays(127, "2"), nested_arrays(127, "u64:2")},
        {"[1,2]", "[u64:1,u64:2]"},
        {"[18446744073709551616]", "[f64:43f0000000000000]"},
        {"\"x\"", "\"x\""},
    };
    for (const Case& c : lines) EXPECT_EQ(outcome(c.line), c.expected) << c.line;
}

}  // namespace
}  // namespace quorvane::input
