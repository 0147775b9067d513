#include "core/input/select_line_message.h"

#include <gtest/gtest.h>

#include <string>

#include "oracle/document_message.h"
#include "padded_line.h"
#include "record_dump.h"

namespace quorvane::input {
namespace {

// Through the reader; the parsed document must store the same.
std::string select(const std::string& line) {
    cache::StoredMessages store;
    LineScratch scratch;
    select_line_message(testing::PaddedLine(line).view(), store, scratch);
    const std::string stored = cache::testing::dump(store);
    simdjson::dom::parser parser;
    simdjson::dom::element element;
    EXPECT_EQ(parser.parse(line).get(element), simdjson::SUCCESS) << line;
    const auto parsed = select_document_message(element);
    EXPECT_EQ(parsed ? cache::testing::dump_message(parsed->pt, parsed->changes) : "", stored) << "parsed: " << line;
    return stored;
}

struct LineCase {
    std::string line;
    std::string stored;

    friend void PrintTo(const LineCase& c, std::ostream* os) { *os << c.line; }
};

class SelectLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(SelectLine, StoresWhatTheLineCarries) { EXPECT_EQ(select(GetParam().line), GetParam().stored) << GetParam().line; }

INSTANTIATE_TEST_SUITE_P(
    PublishTime, SelectLine,
    ::testing::Values(
        LineCase{R"({"pt":0,"mc":[{}]})", ""},
        LineCase{R"({"pt":-5,"mc":[{}]})", ""},
        LineCase{R"({"mc":[{}]})", ""},
        LineCase{R"({"pt":1.5e12,"mc":[{}]})", ""},
        LineCase{R"({"pt":7.0,"mc":[{}]})", ""},
        LineCase{R"({"pt":"7","mc":[{}]})", ""},
        LineCase{R"({"pt":null,"mc":[{}]})", ""},
        LineCase{R"({"pt":9223372036854775808,"mc":[{}]})", ""},
        LineCase{R"({"pt":9223372036854775807,"mc":[{}]})", "pt=9223372036854775807 | "},
        LineCase{R"({"pt":1,"mc":[]})", "pt=1"},
        LineCase{R"({"pt":7,"pt":"x","mc":[]})", ""},
        LineCase{R"({"pt":"x","pt":8,"mc":[]})", "pt=8"}));

INSTANTIATE_TEST_SUITE_P(
    MarketChanges, SelectLine,
    ::testing::Values(
        LineCase{R"({"op":"mcm","pt":7,"mc":[{"id":"1.2","tv":3},5,null,[]]})",
                 R"(pt=7 | id="1.2" tv=3 | not-object | not-object | not-object)"},
        LineCase{R"({"pt":5,"id":"1.2","rc":[]})", R"(pt=5 | id="1.2" rc[])"},
        LineCase{R"({"pt":5,"rc":[{"id":3,"ltp":2}]})", "pt=5 | rc[{id=3 ltp=2}]"},
        LineCase{R"({"pt":5,"rc":null})", "pt=5 | "},
        LineCase{R"({"pt":7,"mc":3,"marketDefinition":{"venue":"X"}})", R"(pt=7 | md{venue="X"})"},
        LineCase{R"({"pt":7,"mc":{},"marketDefinition":null})", "pt=7 | marketDefinition=other"},
        LineCase{R"({"pt":7,"mc":[{"id":"a"}],"mc":[]})", "pt=7"},
        LineCase{R"({"pt":7,"mc":[],"mc":5,"rc":[]})", "pt=7 | rc[]"},
        LineCase{R"({"pt":7,"mc":[{"id":"a"}],"rc":[]})", R"(pt=7 | id="a")"},
        LineCase{R"({"pt":7,"mc":{},"tv":1})", ""},
        LineCase{R"({"pt":5})", ""},
        LineCase{R"({"pt":5,"op":"heartbeat"})", ""}));

// Lines that start as the exchange writes them, and near misses of that start.
INSTANTIATE_TEST_SUITE_P(
    UsualHead, SelectLine,
    ::testing::Values(LineCase{R"({"op":"mcm","clk":"AB","pt":7,"mc":[{"id":"1.2"}]})", R"(pt=7 | id="1.2")"},
                      LineCase{R"({"op":"mcm","clk":"","pt":7,"mc":[]})", "pt=7"},
                      LineCase{R"({"op":"mcm","clk":"A\"B","pt":7,"mc":[]})", "pt=7"},
                      LineCase{R"({"op":"mcm","clk":"é","pt":7,"mc":[]})", "pt=7"},
                      LineCase{"{\"op\":\"mcm\",\"clk\":\"\xC3\xA9\",\"pt\":7,\"mc\":[]}", "pt=7"},
                      LineCase{R"({"op":"mcm","clk":"0123456789abcdefXYZ","pt":7,"mc":[]})", "pt=7"},
                      LineCase{R"({"op":"mcm","clk":"A", "pt":7,"mc":[]})", "pt=7"},
                      LineCase{R"({"op":"mcm","clk":"A","pt":7,"mc":[],"pt":9})", "pt=9"},
                      LineCase{R"({"op":"mcm","clk":"A","pt":"7","mc":[{}]})", ""},
                      LineCase{R"({"op":"mcm","clk":"A","pt":7})", ""}));

INSTANTIATE_TEST_SUITE_P(OtherLines, SelectLine,
                         ::testing::Values(LineCase{"[1,2]", ""}, LineCase{"5", ""}, LineCase{"{}", ""},
                                           LineCase{"\"mc\"", ""}, LineCase{"null", ""}));

TEST(SelectLineMessage, AppendsLinesInOrderAndRereadsRecordsFreshly) {
    cache::StoredMessages store;
    LineScratch scratch;  // one for all the lines, as a file's reader keeps
    for (const char* line : {R"({"pt":3,"mc":[{"id":"1.2","img":true,"rc":[{"id":1,"atb":[[2,3]]}]},{"tv":1}]})",
                             R"({"pt":0,"mc":[{"id":"skipped"}]})", R"({"pt":4,"mc":[{"rc":[{"id":2}]}]})"}) {
        select_line_message(testing::PaddedLine(line).view(), store, scratch);
    }
    EXPECT_EQ(cache::testing::dump(store), R"(pt=3 | id="1.2" img rc[{id=1 atb[2:3]}] | tv=1 || pt=4 | rc[{id=2}])");
}

}  // namespace
}  // namespace quorvane::input
