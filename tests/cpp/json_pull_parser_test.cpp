// The one-pass line reading against an independent parser: it must store
// exactly what the parsed document gives, and refuse exactly the lines the
// parser refuses, with the same message.
#include "core/input/json_pull_parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "line_vectors.h"
#include "core/input/line_text.h"
#include "core/input/select_line_message.h"
#include "core/input/stream_error.h"
#include "oracle/document_message.h"
#include "oracle/json_line_parser.h"
#include "padded_line.h"
#include "record_dump.h"

namespace quorvane::input {
namespace {

// ERR and the message, or the dump of what the line stores.
std::string reader_outcome(std::string_view line) {
    cache::StoredMessages store;
    try {
        LineScratch scratch;
        select_line_message(line, store, scratch);
    } catch (const StreamError& error) {
        EXPECT_EQ(store.size(), 0u) << line;
        return std::string("ERR ") + error.what();
    }
    return cache::testing::dump(store);
}

std::string oracle_outcome(JsonLineParser& parser, std::string_view line) {
    try {
        const auto parsed = select_document_message(parser.parse(line));
        return parsed ? cache::testing::dump_message(parsed->pt, parsed->changes) : "";
    } catch (const StreamError& error) {
        return std::string("ERR ") + error.what();
    }
}

// The reader's outcome, checked against the oracle's.
std::string read_both_ways(JsonLineParser& parser, const std::string& line) {
    const testing::PaddedLine padded(line);
    const std::string got = reader_outcome(padded.view());
    EXPECT_EQ(got, oracle_outcome(parser, padded.view())) << line;
    return got;
}

// `line` with `space` before and after every structural byte outside texts,
// and at both ends.
std::string spaced(std::string_view line, std::string_view space) {
    std::string out(space);
    bool in_text = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (in_text) {
            out += c;
            if (c == '\\') out += line[++i];
            else if (c == '"') in_text = false;
        } else if (c == '"') {
            out += c;
            in_text = true;
        } else if (std::string_view("{}[],:").find(c) != std::string_view::npos) {
            out.append(space).append(1, c).append(space);
        } else {
            out += c;
        }
    }
    return out.append(space);
}

// Whitespace is passed where the next token is looked for: anywhere between
// tokens, it must leave every reading as the compact line reads.
TEST(OnePass, ReadsSpacedLinesAsTheirCompactForm) {
    JsonLineParser parser;
    const std::string line =
        R"({"op":"mcm","pt":5,"mc":[{"id":"1.2","img":true,"tv":12.5,"marketDefinition":{"status":"OPEN",)"
        R"("inPlay":false,"regulators":["A\"B"],"runners":[{"id":7,"bsp":null},{}]},)"
        R"("rc":[{"atb":[[1.5,2.25],[3,0]],"trd":[],"spn":"NaN","bdatb":[[0,1.5,2]],"x":{"y":[{}]},"id":7}]}]})";
    const std::string compact = read_both_ways(parser, line);
    ASSERT_EQ(compact.rfind("ERR", 0), std::string::npos) << compact;
    for (const std::string_view space : {" ", "\t", "\r", " \t\r\n "})
        EXPECT_EQ(read_both_ways(parser, spaced(line, space)), compact) << int(space[0]);
}

class OnePass : public ::testing::TestWithParam<std::string> {};

TEST_P(OnePass, ReadsAsTheParserDoes) {
    JsonLineParser parser;
    read_both_ways(parser, GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Lines, OnePass,
    ::testing::Values(
        R"({"op":"mcm","clk":"A","pt":5,"mc":[{"id":"1.2","rc":[{"atb":[[1.01,2.5],[3,4]],"id":7}]}]})",
        " \t{\"pt\":5,\"mc\":[ ]}\r ",
        R"({"pt":5,"mc":[{"rc":[{"id":1,"atb":[[1,2]],"atb":[[3,4]]}]}]})",
        R"({"pt":5,"mc":[{"rc":[{"id":1,"atb":[[1,2]],"atb":null}]}]})",
        R"({"pt":5,"mc":[{"rc":[{"id":1}],"rc":[{"id":2}]}]})",
        R"({"pt":5,"mc":[{"rc":[{"id":1}],"rc":7}]})",
        R"({"pt":5,"mc":[{"marketDefinition":{"venue":"A","runners":[{"id":1}]},
                    "marketDefinition":{"status":"OPEN"}}]})",
        R"({"pt":5,"mc":[{"marketDefinition":{"venue":"A"},"marketDefinition":[]}]})",
        R"({"pt":5,"mc":[{"marketDefinition":{"regulators":["a",1,"b"],"regulators":["c"],
                    "runners":[{"id":1},2,{"bsp":"x"}],"runners":[{"bsp":3.5,"hc":-0.5}]}}]})",
        R"({"pt":5,"mc":[{"rc":[{"id":1,"atb":[[1],[2,3,4],5,[true,"x"],[[1],{}]],"spn":"NaN","spf":{}}]}]})",
        R"({"pt":5,"mc":[{"rc":[{"id":1,"atl":[ [ 1.5 , 2 ] ,[3,4 ],[5 ,6,7],[8,"9"],[10,null],[-1.25,0.5],[]],"trd":[[1.01,2]]}]}]})",
        R"({"pt":5,"mc":[{"rc":[{"id":1.0},{"id":"1"},{"id":-3,"hc":1}]}]})",
        R"({"pt":5,"mc":[{"tv":0.1,"version":12345678901,"lastMatchTime":-9}]})",
        R"({"pt":5,"mc":[{"x":{"a":[{"b":[[[]]]}],"c":null,"d":false}}]})",
        R"({"pt":0,"mc":[{"id":"1.2"}]})",
        R"({"pt":5,"mc":{}})",
        R"([{"pt":5}])",
        R"({"pt":5,"mc":[],"mc":[]})",
        R"({"pt":5,"rc":[{"id":1}]})",
        R"({"pt":5,"marketDefinition":{}})",
        // Escapes, exponents, "-0" and numbers beyond the quick readings.
        R"({"pt":5,"mc":[{"id":"1.\u0032"}]})",
        R"({"p\u0074":5,"mc":[]})",
        R"({"pt":5,"mc":[{"tv":1e3}]})",
        R"({"pt":5,"mc":[{"tv":1.5E-3}]})",
        R"({"pt":5,"mc":[{"version":-0}]})",
        R"({"pt":5,"mc":[{"tv":-0.0}]})",
        R"({"pt":5,"mc":[{"version":1234567890123456789}]})",
        R"({"pt":5,"mc":[{"tv":0.12345678901234567}]})",
        R"({"pt":5,"mc":[{"tv":12345678.123456789}]})",
        R"({"pt":5,"mc":[{"tv":1234567.1234567}]})",
        R"({"pt":5,"mc":[{"tv":123456789012.25}]})",
        R"({"pt":5,"mc":[{"tv":0.000000000000000001}]})",
        // Malformed lines, which the parser words.
        R"({"pt":5,"mc":[{"tv":01}]})",
        R"({"pt":5,"mc":[{"tv":1.}]})",
        R"({"pt":5,"mc":[{"tv":.5}]})",
        R"({"pt":5,"mc":[{"tv":-}]})",
        R"({"pt":5,"mc":[{"tv":+1}]})",
        R"({"pt":5,"mc":[{"tv":1.5.2}]})",
        R"({"pt":5,"mc":[{"img":tru}]})",
        R"({"pt":5,"mc":[{"img":truex}]})",
        R"({"pt":5,"mc":[1,]})",
        R"({"pt":5,"mc":[,1]})",
        R"({"pt":5,})",
        R"({"pt":5 "mc":[]})",
        R"({"pt":5,"mc":[]} x)",
        R"({"pt":5,"mc":[]}{})",
        R"({"pt":5,"mc":[)",
        "{\"pt\":5,\"mc\":[{\"id\":\"a\tb\"}]}",
        "{\"pt\":5,\"mc\":[]}\f",
        R"({"pt":5,"mc":["open)",
        "5",
        "-"));

TEST(OnePass, ReadsNestingUpToTheLimit) {
    JsonLineParser parser;
    // Three levels around the arrays: the line, "mc" and the change.
    const auto nested = [](int depth) {
        return R"({"pt":5,"mc":[{"x":)" + std::string(depth, '[') + std::string(depth, ']') + "}]}";
    };
    EXPECT_EQ(read_both_ways(parser, nested(JsonPullParser::kMaxDepth - 3)), "pt=5 | ");
    EXPECT_EQ(read_both_ways(parser, nested(JsonPullParser::kMaxDepth - 2)),
              "ERR recursion limit exceeded at line 1 column 144");
}

// One byte of each kind at every offset of texts that span several words:
// a quote ends the text there; a backslash (it escapes the closing quote or
// starts an invalid escape), a control byte or a lone byte beyond ASCII is a
// fault; anything else is text. A text that runs to the line's end is a
// fault too, although the padding after it holds quotes. A member's key is
// read by a path of its own, which must read texts alike.
class TextReading : public ::testing::TestWithParam<std::string_view (JsonPullParser::*)()> {};

TEST_P(TextReading, ReadsTextsUpToTheirFirstSpecialByte) {
    const auto reading = GetParam();
    std::string unescaped;
    const auto read = [&](const std::string& line) -> std::optional<std::string> {
        const testing::PaddedLine padded(line);
        JsonPullParser pull(padded.view(), unescaped);
        try {
            return std::string((pull.*reading)());
        } catch (const JsonPullParser::Malformed&) {
            return std::nullopt;
        }
    };
    for (int length = 0; length <= 20; ++length) {
        const std::string text(static_cast<std::size_t>(length), 'a');
        EXPECT_EQ(read('"' + text), std::nullopt) << length;
        EXPECT_EQ(read('"' + text + '"'), text) << length;
        // The line ends just before the closing quote.
        const std::string cut = '"' + text + "\"}]" + std::string(JsonPullParser::kReadPastEnd, ' ');
        JsonPullParser pull(std::string_view(cut).substr(0, static_cast<std::size_t>(length) + 1), unescaped);
        EXPECT_THROW((pull.*reading)(), JsonPullParser::Malformed) << length;
        for (int at = 0; at < length; ++at) {
            for (const char special : {'"', '\\', '\0', '\x1F', '\n', '\x80', '\xA2', '\xDC', '\xFF'}) {
                std::string line = '"' + text + '"';
                line[static_cast<std::size_t>(at) + 1] = special;
                const auto expected = special == '"' ? std::optional(text.substr(0, static_cast<std::size_t>(at)))
                                                     : std::nullopt;
                EXPECT_EQ(read(line), expected) << length << " at " << at << " byte " << int(special);
            }
            for (const char plain : {' ', '!', '#', '[', ']', '\x7F'}) {
                std::string line = '"' + text + '"';
                line[static_cast<std::size_t>(at) + 1] = plain;
                EXPECT_EQ(read(line), line.substr(1, static_cast<std::size_t>(length))) << length << " at " << at;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OnePass, TextReading, ::testing::Values(&JsonPullParser::string, &JsonPullParser::key),
                         [](const auto& info) { return info.index == 0 ? "Value" : "Key"; });

// Escapes and UTF-8 at the start, middle and end of texts, alone and mixed.
TEST(OnePass, UnescapesTexts) {
    JsonLineParser parser;
    for (const char* text : {R"(\"\\\/\b\f\n\r\t)", R"(\u0041\u00e9\u20AC\ud83d\ude00)", "caf\u00e9 \xC3\xA9 \xF0\x9F\x98\x80",
                             R"(ab\u0000cd)", R"(\\u0041)"}) {
        const std::string line = std::string(R"({"pt":5,"mc":[{"id":")") + text + R"(","marketDefinition":{"venue":")" + text +
                                 R"(","name":"n\u0061me"}}]})";
        read_both_ways(parser, line);
    }
}

// Decimal texts of every length, alone, with an exponent, and followed by
// what may follow a number, each the parser's double bit for bit.
TEST(OnePass, ReadsEveryDecimalAsTheParserDoes) {
    std::mt19937_64 random(20261208);
    simdjson::dom::parser reference;
    std::string unescaped;
    const std::string_view followers[] = {"", ",1", "]}", " \t,", "e5", "E-2", "e+300"};
    for (int whole_digits = 1; whole_digits <= 19; ++whole_digits) {
        for (int fraction_digits = 0; fraction_digits <= 19; ++fraction_digits) {
            for (int sample = 0; sample < 20; ++sample) {
                const bool zero = whole_digits == 1 && random() % 3 == 0;
                std::string text = random() % 4 == 0 && !(zero && fraction_digits == 0) ? "-" : "";
                text += zero ? '0' : static_cast<char>('1' + random() % 9);
                for (int i = 1; i < whole_digits; ++i) text += static_cast<char>('0' + random() % 10);
                if (fraction_digits > 0) text += '.';
                for (int i = 0; i < fraction_digits; ++i) text += static_cast<char>('0' + random() % 10);
                for (const std::string_view follower : followers) {
                    const bool exponent = follower.starts_with('e') || follower.starts_with('E');
                    const std::string number = exponent ? text + std::string(follower) : text;
                    double expected = 0.0;
                    if (reference.parse(number).get_double().get(expected) != simdjson::SUCCESS) {
                        continue;  // beyond the largest double
                    }
                    const std::string line = text + std::string(follower);
                    const testing::PaddedLine padded(line);
                    JsonPullParser pull(padded.view(), unescaped);
                    std::optional<double> got;
                    ASSERT_NO_THROW(got = PullValue(pull, 0).number()) << line;
                    EXPECT_EQ(std::bit_cast<std::uint64_t>(*got), std::bit_cast<std::uint64_t>(expected)) << line;
                    const auto next = exponent ? std::string_view::npos : follower.find_first_not_of(" \t");
                    EXPECT_EQ(pull.peek(), next == std::string_view::npos ? '\0' : follower[next]) << line;
                }
            }
        }
    }
}

// Ladder pairs of every shape of short number, read a block at a time or
// left to the general reading, and pairs that the line's end cuts off just
// before the padding's ']'.
TEST(OnePass, ReadsEveryPairAsTheParserDoes) {
    JsonLineParser parser;
    const char* numbers[] = {"0", "7", "00", "01", "0.5", "0.05", "12.34", "1.234", "0.", ".5", "1.", "1.2.3",
                             "12345678", "123456789", "1234567.8", "1.2345678", "12345678.9", "-1", "1e2", "1,", "",
                             " 1", "1 ", "\"5\""};
    const std::string prefix = R"({"pt":5,"mc":[{"rc":[{"id":1,"atb":[)";
    for (const char* first : numbers) {
        for (const char* second : numbers) {
            const std::string pair = std::string("[") + first + "," + second + "]";
            read_both_ways(parser, prefix + pair + "]}]}]}");
            read_both_ways(parser, prefix + pair + "," + pair + "]}]}]}");
            read_both_ways(parser, prefix + pair.substr(0, pair.size() - 1));
            // Skipped, in a ladder the reader does not keep.
            const std::string level = std::string("[") + first + "," + second + "," + first + "]";
            read_both_ways(parser, R"({"pt":5,"mc":[{"x":[)" + level + "," + pair + "]}]}");
            read_both_ways(parser, R"({"pt":5,"mc":[{"x":[)" + level.substr(0, level.size() - 1));
        }
    }
}

// The padding after these lines begins with "9]": a block that looks past
// the line's end would see a whole pair there.
TEST(OnePass, ReadsNoPairAcrossTheLineEnd) {
    std::string unescaped;
    for (const char* cut : {"[1,2", "[1.5,2", "[1,2,3"}) {
        const testing::PaddedLine padded(cut);
        JsonPullParser pair(padded.view(), unescaped);
        double first = 0.0, second = 0.0;
        EXPECT_FALSE(PullValue(pair, 0).number_pair(first, second)) << cut;
        EXPECT_EQ(pair.peek(), '[') << cut;
        JsonPullParser skipped(padded.view(), unescaped);
        EXPECT_THROW(PullValue(skipped, 0).skip(), JsonPullParser::Malformed) << cut;
    }
}

TEST(OnePass, SkipsShortNumbersOnlyUpToTheNestingLimit) {
    JsonLineParser parser;
    const auto nested = [](int depth) {
        return R"({"pt":5,"mc":[{"x":)" + std::string(depth - 1, '[') + "[1,2.5]" + std::string(depth - 1, ']') + "}]}";
    };
    EXPECT_EQ(read_both_ways(parser, nested(JsonPullParser::kMaxDepth - 3)), "pt=5 | ");
    EXPECT_TRUE(read_both_ways(parser, nested(JsonPullParser::kMaxDepth - 2)).starts_with("ERR recursion limit"));
}

// Every vector line, and every line of the recordings, which the reader
// must accept.
TEST(OnePass, AgreesWithTheParserOnEveryLineVector) {
    const auto path = testing::line_vectors_path();
    if (!std::filesystem::exists(path)) QUORVANE_SHARED_DATA_MISSING() << "line vectors not found at " << path;
    JsonLineParser parser;
    int accepted = 0;
    for (const testing::LineVector& vector : testing::load_line_vectors(path)) {
        if (!is_valid_utf8(vector.line) || is_blank_line(vector.line)) continue;
        if (!read_both_ways(parser, vector.line).starts_with("ERR ")) ++accepted;
    }
    EXPECT_GT(accepted, 0);
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
            EXPECT_FALSE(read_both_ways(parser, line).starts_with("ERR ")) << file << " line " << lines;
        }
        EXPECT_GT(lines, 0) << file;
    }
}

}  // namespace
}  // namespace quorvane::input
