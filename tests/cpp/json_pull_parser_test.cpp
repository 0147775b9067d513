// The one-pass line reading against the parsed document: wherever it takes
// a line, it must store exactly what the document gives, and it must leave
// every line the full parser refuses.
#include "core/input/json_pull_parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/input/json_line_parser.h"
#include "core/input/line_text.h"
#include "core/input/select_line_message.h"
#include "core/input/stream_error.h"
#include "line_vectors.h"
#include "padded_line.h"
#include "record_dump.h"

namespace quorvane::input {
namespace {

enum class Taken { Yes, No };

// Whether the one-pass reading took the line; fails the test when it took
// a line the full parser refuses or stored anything else than it.
Taken read_both_ways(JsonLineParser& parser, const std::string& line) {
    const testing::PaddedLine padded(line);
    cache::StoredMessages direct;
    const bool taken = try_select_line_message(padded.view(), direct);
    if (!taken) {
        EXPECT_EQ(direct.size(), 0u) << line;
    }
    cache::StoredMessages parsed;
    try {
        select_line_message(parser.parse(padded.view()), parsed);
    } catch (const StreamError& error) {
        EXPECT_FALSE(taken) << "took a line the parser refuses (" << error.what() << "): " << line;
        return Taken::No;
    }
    if (taken) {
        EXPECT_EQ(cache::testing::dump(direct), cache::testing::dump(parsed)) << line;
    }
    return taken ? Taken::Yes : Taken::No;
}

struct LineCase {
    std::string line;
    Taken taken;

    friend void PrintTo(const LineCase& c, std::ostream* os) { *os << c.line; }
};

class OnePass : public ::testing::TestWithParam<LineCase> {};

TEST_P(OnePass, TakesOnlyWhatItReadsAsTheParserDoes) {
    JsonLineParser parser;
    EXPECT_EQ(read_both_ways(parser, GetParam().line), GetParam().taken) << GetParam().line;
}

constexpr Taken Y = Taken::Yes;
constexpr Taken N = Taken::No;

INSTANTIATE_TEST_SUITE_P(
    Lines, OnePass,
    ::testing::Values(
        LineCase{R"({"op":"mcm","clk":"A","pt":5,"mc":[{"id":"1.2","rc":[{"atb":[[1.01,2.5],[3,4]],"id":7}]}]})", Y},
        LineCase{" \t{\"pt\":5,\"mc\":[ ]}\r ", Y},
        LineCase{R"({"pt":5,"mc":[{"rc":[{"id":1,"atb":[[1,2]],"atb":[[3,4]]}]}]})", Y},
        LineCase{R"({"pt":5,"mc":[{"rc":[{"id":1,"atb":[[1,2]],"atb":null}]}]})", Y},
        LineCase{R"({"pt":5,"mc":[{"rc":[{"id":1}],"rc":[{"id":2}]}]})", Y},
        LineCase{R"({"pt":5,"mc":[{"rc":[{"id":1}],"rc":7}]})", Y},
        LineCase{R"({"pt":5,"mc":[{"marketDefinition":{"venue":"A","runners":[{"id":1}]},
                    "marketDefinition":{"status":"OPEN"}}]})", Y},
        LineCase{R"({"pt":5,"mc":[{"marketDefinition":{"venue":"A"},"marketDefinition":[]}]})", Y},
        LineCase{R"({"pt":5,"mc":[{"marketDefinition":{"regulators":["a",1,"b"],"regulators":["c"],
                    "runners":[{"id":1},2,{"bsp":"x"}],"runners":[{"bsp":3.5,"hc":-0.5}]}}]})", Y},
        LineCase{R"({"pt":5,"mc":[{"rc":[{"id":1,"atb":[[1],[2,3,4],5,[true,"x"],[[1],{}]],"spn":"NaN","spf":{}}]}]})", Y},
        LineCase{R"({"pt":5,"mc":[{"rc":[{"id":1,"atl":[ [ 1.5 , 2 ] ,[3,4 ],[5 ,6,7],[8,"9"],[10,null],[-1.25,0.5],[]],"trd":[[1.01,2]]}]}]})", Y},
        LineCase{R"({"pt":5,"mc":[{"rc":[{"id":1.0},{"id":"1"},{"id":-3,"hc":1}]}]})", Y},
        LineCase{R"({"pt":5,"mc":[{"tv":0.1,"version":12345678901,"lastMatchTime":-9}]})", Y},
        LineCase{R"({"pt":5,"mc":[{"x":{"a":[{"b":[[[]]]}],"c":null,"d":false}}]})", Y},
        LineCase{R"({"pt":0,"mc":[{"id":"1.2"}]})", Y},
        LineCase{R"({"pt":5,"mc":{}})", Y},
        LineCase{R"([{"pt":5}])", Y},
        LineCase{R"({"pt":5,"mc":[],"mc":[]})", N},
        LineCase{R"({"pt":5,"rc":[{"id":1}]})", N},
        LineCase{R"({"pt":5,"marketDefinition":{}})", N},
        // Escapes, exponents, "-0" and numbers beyond an exact reading go to the parser.
        LineCase{R"({"pt":5,"mc":[{"id":"1.\u0032"}]})", N},
        LineCase{R"({"p\u0074":5,"mc":[]})", N},
        LineCase{R"({"pt":5,"mc":[{"tv":1e3}]})", N},
        LineCase{R"({"pt":5,"mc":[{"tv":1.5E-3}]})", N},
        LineCase{R"({"pt":5,"mc":[{"version":-0}]})", N},
        LineCase{R"({"pt":5,"mc":[{"tv":-0.0}]})", Y},
        LineCase{R"({"pt":5,"mc":[{"version":1234567890123456789}]})", N},
        LineCase{R"({"pt":5,"mc":[{"tv":0.12345678901234567}]})", N},
        LineCase{R"({"pt":5,"mc":[{"tv":12345678.123456789}]})", N},
        LineCase{R"({"pt":5,"mc":[{"tv":1234567.1234567}]})", Y},
        LineCase{R"({"pt":5,"mc":[{"tv":123456789012.25}]})", Y},
        LineCase{R"({"pt":5,"mc":[{"tv":0.000000000000000001}]})", Y},
        // Malformed lines, which the parser words.
        LineCase{R"({"pt":5,"mc":[{"tv":01}]})", N},
        LineCase{R"({"pt":5,"mc":[{"tv":1.}]})", N},
        LineCase{R"({"pt":5,"mc":[{"tv":.5}]})", N},
        LineCase{R"({"pt":5,"mc":[{"tv":-}]})", N},
        LineCase{R"({"pt":5,"mc":[{"tv":+1}]})", N},
        LineCase{R"({"pt":5,"mc":[{"tv":1.5.2}]})", N},
        LineCase{R"({"pt":5,"mc":[{"img":tru}]})", N},
        LineCase{R"({"pt":5,"mc":[{"img":truex}]})", N},
        LineCase{R"({"pt":5,"mc":[1,]})", N},
        LineCase{R"({"pt":5,"mc":[,1]})", N},
        LineCase{R"({"pt":5,})", N},
        LineCase{R"({"pt":5 "mc":[]})", N},
        LineCase{R"({"pt":5,"mc":[]} x)", N},
        LineCase{R"({"pt":5,"mc":[]}{})", N},
        LineCase{R"({"pt":5,"mc":[)", N},
        LineCase{"{\"pt\":5,\"mc\":[{\"id\":\"a\tb\"}]}", N},
        LineCase{"{\"pt\":5,\"mc\":[]}\f", N},
        LineCase{R"({"pt":5,"mc":["open)", N},
        LineCase{"5", Y},
        LineCase{"-", N}));

TEST(OnePass, LeavesNestingDeeperThanItsLimit) {
    JsonLineParser parser;
    const auto nested = [](int depth) {
        return R"({"pt":5,"mc":[{"x":)" + std::string(depth, '[') + std::string(depth, ']') + "}]}";
    };
    EXPECT_EQ(read_both_ways(parser, nested(JsonPullParser::kMaxDepth - 4)), Taken::Yes);
    EXPECT_EQ(read_both_ways(parser, nested(JsonPullParser::kMaxDepth)), Taken::No);
}

// One byte of each kind at every offset of texts that span several words:
// a quote ends the text there, a backslash or control byte leaves the line,
// anything else is text; a text that runs to the line's end is left too,
// although the padding after it holds quotes.
TEST(OnePass, ReadsTextsUpToTheirFirstSpecialByte) {
    const auto read = [](const std::string& line) -> std::optional<std::string> {
        const testing::PaddedLine padded(line);
        JsonPullParser pull(padded.view());
        try {
            return std::string(pull.string());
        } catch (const JsonPullParser::Unsupported&) {
            return std::nullopt;
        }
    };
    for (int length = 0; length <= 20; ++length) {
        const std::string text(static_cast<std::size_t>(length), 'a');
        EXPECT_EQ(read('"' + text), std::nullopt) << length;
        EXPECT_EQ(read('"' + text + '"'), text) << length;
        // The line ends just before the closing quote.
        const std::string cut = '"' + text + "\"}]         ";
        JsonPullParser pull(std::string_view(cut).substr(0, static_cast<std::size_t>(length) + 1));
        EXPECT_THROW(pull.string(), JsonPullParser::Unsupported) << length;
        for (int at = 0; at < length; ++at) {
            for (const char special : {'"', '\\', '\0', '\x1F', '\n'}) {
                std::string line = '"' + text + '"';
                line[static_cast<std::size_t>(at) + 1] = special;
                const auto expected = special == '"' ? std::optional(text.substr(0, static_cast<std::size_t>(at)))
                                                     : std::nullopt;
                EXPECT_EQ(read(line), expected) << length << " at " << at << " byte " << int(special);
            }
            for (const char plain : {' ', '!', '#', '[', ']', '\x7F', '\x80', '\xA2', '\xDC', '\xFF'}) {
                std::string line = '"' + text + '"';
                line[static_cast<std::size_t>(at) + 1] = plain;
                EXPECT_EQ(read(line), line.substr(1, static_cast<std::size_t>(length))) << length << " at " << at;
            }
        }
    }
}

// Decimal texts of every length, alone and followed by what may follow a
// number, each the parser's double bit for bit where taken; up to 15 digits
// every one is exact, so must be taken. An exponent sends it to the parser.
TEST(OnePass, ReadsEveryDecimalAsTheParserDoes) {
    std::mt19937_64 random(20261208);
    simdjson::dom::parser reference;
    const std::string_view followers[] = {"", ",1", "]}", " \t,", "e5", "E-2"};
    for (int whole_digits = 1; whole_digits <= 19; ++whole_digits) {
        for (int fraction_digits = 0; fraction_digits <= 19; ++fraction_digits) {
            for (int sample = 0; sample < 20; ++sample) {
                const bool zero = whole_digits == 1 && random() % 3 == 0;
                std::string text = random() % 4 == 0 && !(zero && fraction_digits == 0) ? "-" : "";
                text += zero ? '0' : static_cast<char>('1' + random() % 9);
                for (int i = 1; i < whole_digits; ++i) text += static_cast<char>('0' + random() % 10);
                if (fraction_digits > 0) text += '.';
                for (int i = 0; i < fraction_digits; ++i) text += static_cast<char>('0' + random() % 10);
                double expected = 0.0;
                ASSERT_EQ(reference.parse(text).get_double().get(expected), simdjson::SUCCESS) << text;
                for (const std::string_view follower : followers) {
                    const std::string line = text + std::string(follower);
                    const testing::PaddedLine padded(line);
                    JsonPullParser pull(padded.view());
                    std::optional<double> got;
                    try {
                        got = PullValue(pull, 0).number();
                    } catch (const JsonPullParser::Unsupported&) {
                        EXPECT_TRUE(whole_digits + fraction_digits > 15 || follower.starts_with('e') ||
                                    follower.starts_with('E'))
                            << "left " << line;
                        continue;
                    }
                    EXPECT_FALSE(follower.starts_with('e') || follower.starts_with('E')) << "took " << line;
                    EXPECT_EQ(std::bit_cast<std::uint64_t>(*got), std::bit_cast<std::uint64_t>(expected)) << line;
                    const auto next = follower.find_first_not_of(" \t");
                    EXPECT_EQ(pull.peek(), next == std::string_view::npos ? '\0' : follower[next]) << line;
                }
            }
        }
    }
}

// Every vector line, and every line of the recordings, where the one-pass
// reading must take them all.
TEST(OnePass, AgreesWithTheParserOnEveryLineVector) {
    const auto path = testing::line_vectors_path();
    if (!std::filesystem::exists(path)) QUORVANE_SHARED_DATA_MISSING() << "line vectors not found at " << path;
    JsonLineParser parser;
    int taken = 0;
    for (const testing::LineVector& vector : testing::load_line_vectors(path)) {
        if (!is_valid_utf8(vector.line) || is_blank_line(vector.line)) continue;
        if (read_both_ways(parser, vector.line) == Taken::Yes) ++taken;
    }
    EXPECT_GT(taken, 0);
}

TEST(OnePass, TakesEveryLineOfTheRecordings) {
    const std::filesystem::path shared = testing::shared_dir() / "data/real";
    std::vector<std::filesystem::path> files = {std::filesystem::path(QUORVANE_SOURCE_DIR) / "data/sample.jsonl"};
    if (std::filesystem::exists(shared)) {
        for (const auto& entry : std::filesystem::directory_iterator(shared))
            if (entry.path().extension() != ".gz" && entry.path().extension() != ".md") files.push_back(entry.path());
    } else {
        EXPECT_FALSE(testing::shared_data_required()) << "shared recordings not found under " << shared;
    }
    JsonLineParser parser;
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        ASSERT_TRUE(in) << file;
        std::string line;
        int lines = 0;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (is_blank_line(line)) continue;
            ++lines;
            EXPECT_EQ(read_both_ways(parser, line), Taken::Yes) << file << " line " << lines;
        }
        EXPECT_GT(lines, 0) << file;
    }
}

}  // namespace
}  // namespace quorvane::input
