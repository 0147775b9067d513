// The readings of the one-pass reader, and the rules by which a market-change
// value is stored: each value is encoded, stored and decoded again.
#include "core/cache/market_change_encoding.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <string>

#include "core/cache/message_encoder.h"
#include "core/cache/stored_messages.h"
#include "core/input/json_pull_parser.h"
#include "padded_line.h"
#include "record_dump.h"

namespace quorvane::cache {
namespace {

using input::JsonPullParser;
using input::PullValue;

// `read` applied to the one value of `json`, which must be read whole.
template <class Read>
auto read_value(const std::string& json, Read read) {
    const quorvane::testing::PaddedLine padded(json);
    std::string unescaped;
    JsonPullParser parser(padded.view(), unescaped);
    auto result = read(PullValue(parser, 0));
    EXPECT_NO_THROW(parser.finish()) << json;
    return result;
}

// The change that `json` stores, decoded; `message` may hold earlier ones.
std::string read_into(const std::string& json, MessageEncoder& message) {
    message.start();
    read_value(json, [&](PullValue value) {
        message.add_market_change(value);
        return true;
    });
    StoredMessages store;
    store.append(1, message.finish());
    std::string dump;
    MarketChangeRecord scratch;
    store.for_each_market_change(0, scratch, [&](const MarketChangeRecord& change) { dump = testing::dump(change); });
    return dump;
}

std::string read_dump(const std::string& json) {
    MessageEncoder message;
    return read_into(json, message);
}

// --- the five readings over single values

struct ReadingCase {
    std::string json;
    std::optional<std::int64_t> integer = {};
    std::optional<double> number = {};
    std::optional<std::string> string = {};
    std::optional<bool> boolean = {};
    bool array = false;
    bool object = false;

    friend void PrintTo(const ReadingCase& c, std::ostream* os) { *os << c.json; }
};

class Readings : public ::testing::TestWithParam<ReadingCase> {};

TEST_P(Readings, AcceptOnlyTheirKind) {
    const ReadingCase& c = GetParam();
    EXPECT_EQ(read_value(c.json, [](PullValue value) { return value.integer(); }), c.integer);
    EXPECT_EQ(read_value(c.json, [](PullValue value) { return value.number(); }), c.number);
    EXPECT_EQ(read_value(c.json,
                         [](PullValue value) {
                             const auto text = value.string();
                             return text ? std::optional<std::string>(*text) : std::nullopt;
                         }),
              c.string);
    EXPECT_EQ(read_value(c.json, [](PullValue value) { return value.boolean(); }), c.boolean);
    EXPECT_EQ(read_value(c.json, [](PullValue value) { return value.elements([](PullValue item) { item.skip(); }); }),
              c.array);
    EXPECT_EQ(read_value(c.json,
                         [](PullValue value) {
                             return value.members([](std::string_view, PullValue field) { field.skip(); });
                         }),
              c.object);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Readings,
    ::testing::Values(
        ReadingCase{"5", 5, 5.0},
        ReadingCase{"-7", -7, -7.0},
        ReadingCase{"9223372036854775807", INT64_MAX, 9223372036854775807.0},
        ReadingCase{"-9223372036854775808", INT64_MIN, -9223372036854775808.0},
        // Above the signed range: a number, never an integer.
        ReadingCase{"9223372036854775808", std::nullopt, 9223372036854775808.0},
        ReadingCase{"18446744073709551615", std::nullopt, 18446744073709551615.0},
        ReadingCase{"3.0", std::nullopt, 3.0},
        ReadingCase{"1.5e12", std::nullopt, 1.5e12},
        ReadingCase{"-0.0", std::nullopt, -0.0},
        ReadingCase{"\"12\"", std::nullopt, std::nullopt, "12"},
        ReadingCase{"\"\"", std::nullopt, std::nullopt, ""},
        ReadingCase{"true", std::nullopt, std::nullopt, std::nullopt, true},
        ReadingCase{"false", std::nullopt, std::nullopt, std::nullopt, false},
        ReadingCase{"null"},
        ReadingCase{"[1]", std::nullopt, std::nullopt, std::nullopt, std::nullopt, true, false},
        ReadingCase{"{}", std::nullopt, std::nullopt, std::nullopt, std::nullopt, false, true}));

// --- every key of every level, with a right and a wrong kind

enum class Level { Change, Definition, DefinitionRunner, RunnerChange };

struct KeyCase {
    Level level;
    std::string key;
    std::string value;     // JSON text
    std::string expected;  // dump of the key's field, empty when absent

    friend void PrintTo(const KeyCase& c, std::ostream* os) { *os << c.key << ':' << c.value; }
};

// The key inside a minimal message of its level, and the dump that gives.
std::pair<std::string, std::string> wrap(const KeyCase& c) {
    const std::string member = "\"" + c.key + "\":" + c.value;
    const std::string field = c.expected.empty() ? "" : " " + c.expected;
    switch (c.level) {
    case Level::Change: return {"{" + member + "}", c.expected};
    case Level::Definition: return {"{\"marketDefinition\":{" + member + "}}", "md{" + c.expected + "}"};
    case Level::DefinitionRunner:
        return {"{\"marketDefinition\":{\"runners\":[{" + member + "}]}}", "md{runners[{" + c.expected + "}]}"};
    case Level::RunnerChange: return {"{\"rc\":[{\"id\":1," + member + "}]}", "rc[{id=1" + field + "}]"};
    }
    return {};
}

class Keys : public ::testing::TestWithParam<KeyCase> {};

TEST_P(Keys, ReadByTheirReading) {
    const auto [json, expected] = wrap(GetParam());
    EXPECT_EQ(read_dump(json), expected) << json;
}

INSTANTIATE_TEST_SUITE_P(
    MarketChange, Keys,
    ::testing::Values(
        KeyCase{Level::Change, "id", "\"1.234\"", "id=\"1.234\""},
        KeyCase{Level::Change, "id", "\"\"", ""},
        KeyCase{Level::Change, "id", "1234", ""},
        KeyCase{Level::Change, "img", "true", "img"},
        KeyCase{Level::Change, "img", "false", ""},
        KeyCase{Level::Change, "img", "1", ""},
        KeyCase{Level::Change, "marketDefinition", "{}", "md{}"},
        KeyCase{Level::Change, "marketDefinition", "null", "marketDefinition=other"},
        KeyCase{Level::Change, "marketDefinition", "[{}]", "marketDefinition=other"},
        KeyCase{Level::Change, "status", "\"SUSPENDED\"", "status=\"SUSPENDED\""},
        KeyCase{Level::Change, "status", "null", ""},
        KeyCase{Level::Change, "betDelay", "5", "betDelay=5"},
        KeyCase{Level::Change, "betDelay", "4294967301", "betDelay=4294967301"},
        KeyCase{Level::Change, "betDelay", "5.0", ""},
        KeyCase{Level::Change, "bspReconciled", "true", "bspReconciled=true"},
        KeyCase{Level::Change, "bspReconciled", "\"true\"", ""},
        KeyCase{Level::Change, "complete", "false", "complete=false"},
        KeyCase{Level::Change, "complete", "0", ""},
        KeyCase{Level::Change, "crossMatching", "true", "crossMatching=true"},
        KeyCase{Level::Change, "crossMatching", "null", ""},
        KeyCase{Level::Change, "inPlay", "true", "inPlay=true"},
        KeyCase{Level::Change, "inplay", "true", ""},
        KeyCase{Level::Change, "runnersVoidable", "false", "runnersVoidable=false"},
        KeyCase{Level::Change, "runnersVoidable", "[]", ""},
        KeyCase{Level::Change, "tv", "12", "tv=12"},
        KeyCase{Level::Change, "tv", "1234.56", "tv=1234.56"},
        KeyCase{Level::Change, "tv", "\"1.5\"", ""},
        KeyCase{Level::Change, "version", "4495990919", "version=4495990919"},
        KeyCase{Level::Change, "version", "18446744073709551615", ""},
        KeyCase{Level::Change, "lastMatchTime", "1650392673420", "lastMatchTime=1650392673420"},
        KeyCase{Level::Change, "lastMatchTime", "1.6e12", ""},
        KeyCase{Level::Change, "rc", "[]", "rc[]"},
        KeyCase{Level::Change, "rc", "{}", ""},
        KeyCase{Level::Change, "op", "\"mcm\"", ""},
        KeyCase{Level::Change, "numberOfActiveRunners", "3", ""}));

INSTANTIATE_TEST_SUITE_P(
    MarketDefinition, Keys,
    ::testing::Values(
        KeyCase{Level::Definition, "status", "\"OPEN\"", "status=\"OPEN\""},
        KeyCase{Level::Definition, "status", "1", ""},
        KeyCase{Level::Definition, "betDelay", "4294967301", "betDelay=4294967301"},
        KeyCase{Level::Definition, "betDelay", "5.0", ""},
        KeyCase{Level::Definition, "bspReconciled", "false", "bspReconciled=false"},
        KeyCase{Level::Definition, "complete", "true", "complete=true"},
        KeyCase{Level::Definition, "crossMatching", "false", "crossMatching=false"},
        KeyCase{Level::Definition, "inPlay", "true", "inPlay=true"},
        KeyCase{Level::Definition, "inPlay", "\"yes\"", ""},
        KeyCase{Level::Definition, "runnersVoidable", "true", "runnersVoidable=true"},
        KeyCase{Level::Definition, "numberOfWinners", "-1", "numberOfWinners=-1"},
        KeyCase{Level::Definition, "numberOfWinners", "\"1\"", ""},
        KeyCase{Level::Definition, "eventId", "\"31389771\"", "eventId=\"31389771\""},
        KeyCase{Level::Definition, "eventId", "31389771", ""},
        KeyCase{Level::Definition, "eventTypeId", "\"4339\"", "eventTypeId=\"4339\""},
        KeyCase{Level::Definition, "eventName", "\"Sheff 19th Apr\"", "eventName=\"Sheff 19th Apr\""},
        KeyCase{Level::Definition, "marketType", "\"WIN\"", "marketType=\"WIN\""},
        KeyCase{Level::Definition, "marketTime", "\"2022-04-19T18:26:00.000Z\"", "marketTime=\"2022-04-19T18:26:00.000Z\""},
        KeyCase{Level::Definition, "countryCode", "\"GB\"", "countryCode=\"GB\""},
        KeyCase{Level::Definition, "venue", "\"Sheffield\"", "venue=\"Sheffield\""},
        KeyCase{Level::Definition, "venue", "null", ""},
        KeyCase{Level::Definition, "raceType", "\"Flat\"", "raceType=\"Flat\""},
        KeyCase{Level::Definition, "bspMarket", "true", "bspMarket=true"},
        KeyCase{Level::Definition, "persistenceEnabled", "false", "persistenceEnabled=false"},
        KeyCase{Level::Definition, "eachWayDivisor", "4", "eachWayDivisor=4"},
        KeyCase{Level::Definition, "eachWayDivisor", "\"4\"", ""},
        KeyCase{Level::Definition, "timezone", "\"Europe/London\"", "timezone=\"Europe/London\""},
        KeyCase{Level::Definition, "turnInPlayEnabled", "true", "turnInPlayEnabled=true"},
        KeyCase{Level::Definition, "bettingType", "\"ODDS\"", "bettingType=\"ODDS\""},
        KeyCase{Level::Definition, "name", "\"A3 480m\"", "name=\"A3 480m\""},
        KeyCase{Level::Definition, "discountAllowed", "true", "discountAllowed=true"},
        KeyCase{Level::Definition, "marketBaseRate", "5", "marketBaseRate=5"},
        KeyCase{Level::Definition, "marketBaseRate", "true", ""},
        KeyCase{Level::Definition, "regulators", "[\"A\",1,\"B\"]", "regulators[\"A\",\"B\"]"},
        KeyCase{Level::Definition, "regulators", "[]", "regulators[]"},
        KeyCase{Level::Definition, "regulators", "null", ""},
        KeyCase{Level::Definition, "openDate", "\"2022-04-19T17:19:00.000Z\"", "openDate=\"2022-04-19T17:19:00.000Z\""},
        KeyCase{Level::Definition, "suspendTime", "\"2022-04-19T18:26:00.000Z\"", "suspendTime=\"2022-04-19T18:26:00.000Z\""},
        KeyCase{Level::Definition, "settledTime", "\"2022-04-19T18:30:00.000Z\"", "settledTime=\"2022-04-19T18:30:00.000Z\""},
        KeyCase{Level::Definition, "version", "4495990919", "version=4495990919"},
        KeyCase{Level::Definition, "version", "1.0", ""},
        KeyCase{Level::Definition, "runners", "[]", "runners[]"},
        KeyCase{Level::Definition, "runners", "[5,{}]", "runners[{not-object} {}]"},
        KeyCase{Level::Definition, "runners", "{}", ""},
        KeyCase{Level::Definition, "numberOfActiveRunners", "6", ""},
        KeyCase{Level::Definition, "lastMatchTime", "1650392673420", ""},
        KeyCase{Level::Definition, "totalMatched", "12.5", ""}));

INSTANTIATE_TEST_SUITE_P(
    DefinitionRunner, Keys,
    ::testing::Values(
        KeyCase{Level::DefinitionRunner, "id", "44331354", "id=44331354"},
        KeyCase{Level::DefinitionRunner, "id", "3.0", ""},
        KeyCase{Level::DefinitionRunner, "hc", "-1.5", "hc=-1.5"},
        KeyCase{Level::DefinitionRunner, "hc", "2", "hc=2"},
        KeyCase{Level::DefinitionRunner, "hc", "\"0.5\"", ""},
        KeyCase{Level::DefinitionRunner, "sortPriority", "3", "sortPriority=3"},
        KeyCase{Level::DefinitionRunner, "sortPriority", "3.5", ""},
        KeyCase{Level::DefinitionRunner, "status", "\"REMOVED\"", "status=\"REMOVED\""},
        KeyCase{Level::DefinitionRunner, "status", "false", ""},
        KeyCase{Level::DefinitionRunner, "name", "\"1. Trap\"", "name=\"1. Trap\""},
        KeyCase{Level::DefinitionRunner, "adjustmentFactor", "12.345", "adjustmentFactor=12.345"},
        KeyCase{Level::DefinitionRunner, "adjustmentFactor", "null", ""},
        KeyCase{Level::DefinitionRunner, "removalDate", "\"2022-04-19T17:00:00.000Z\"", "removalDate=\"2022-04-19T17:00:00.000Z\""},
        KeyCase{Level::DefinitionRunner, "removalDate", "1", ""},
        KeyCase{Level::DefinitionRunner, "bsp", "3.45", "bsp=3.45"},
        KeyCase{Level::DefinitionRunner, "bsp", "\"NaN\"", "bsp=\"NaN\""},
        KeyCase{Level::DefinitionRunner, "bsp", "null", "bsp=other"}));

INSTANTIATE_TEST_SUITE_P(
    RunnerChange, Keys,
    ::testing::Values(
        KeyCase{Level::RunnerChange, "hc", "0.25", "hc=0.25"},
        KeyCase{Level::RunnerChange, "hc", "-3", "hc=-3"},
        KeyCase{Level::RunnerChange, "hc", "null", ""},
        KeyCase{Level::RunnerChange, "status", "\"WINNER\"", "status=\"WINNER\""},
        KeyCase{Level::RunnerChange, "status", "[]", ""},
        KeyCase{Level::RunnerChange, "adjustmentFactor", "2.5", "adjustmentFactor=2.5"},
        KeyCase{Level::RunnerChange, "adjustmentFactor", "\"2.5\"", ""},
        KeyCase{Level::RunnerChange, "ltp", "8.8", "ltp=8.8"},
        KeyCase{Level::RunnerChange, "ltp", "\"x\"", ""},
        KeyCase{Level::RunnerChange, "tv", "101", "tv=101"},
        KeyCase{Level::RunnerChange, "tv", "false", ""},
        KeyCase{Level::RunnerChange, "removalDate", "\"2022-04-19T17:00:00.000Z\"", "removalDate=\"2022-04-19T17:00:00.000Z\""},
        KeyCase{Level::RunnerChange, "removalDate", "{}", ""},
        KeyCase{Level::RunnerChange, "spb", "[[1000,2.5]]", "spb[1000:2.5]"},
        KeyCase{Level::RunnerChange, "spb", "5", ""},
        KeyCase{Level::RunnerChange, "spl", "[[1.01,3]]", "spl[1.01:3]"},
        KeyCase{Level::RunnerChange, "spl", "{}", ""},
        KeyCase{Level::RunnerChange, "atb", "[[8.8,18.62],[8.6,4.83]]", "atb[8.8:18.62,8.6:4.83]"},
        KeyCase{Level::RunnerChange, "atb", "null", ""},
        KeyCase{Level::RunnerChange, "atl", "[[9.4,0]]", "atl[9.4:0]"},
        KeyCase{Level::RunnerChange, "atl", "\"[]\"", ""},
        KeyCase{Level::RunnerChange, "trd", "[[7,12.5]]", "trd[7:12.5]"},
        KeyCase{Level::RunnerChange, "trd", "true", ""},
        KeyCase{Level::RunnerChange, "spn", "4.2", "spn=4.2"},
        KeyCase{Level::RunnerChange, "spn", "\"NaN\"", "spn=\"NaN\""},
        KeyCase{Level::RunnerChange, "spn", "null", "spn=other"},
        KeyCase{Level::RunnerChange, "spf", "3", "spf=3"},
        KeyCase{Level::RunnerChange, "spf", "\"Infinity\"", "spf=\"Infinity\""},
        KeyCase{Level::RunnerChange, "spf", "[]", "spf=other"},
        KeyCase{Level::RunnerChange, "bdatb", "[[0,1.5,2]]", ""}));

// --- whole values: element rules, repeated keys, other kinds

struct DumpCase {
    std::string json;
    std::string expected;

    friend void PrintTo(const DumpCase& c, std::ostream* os) { *os << c.json; }
};

class Messages : public ::testing::TestWithParam<DumpCase> {};

TEST_P(Messages, StoredAsRead) { EXPECT_EQ(read_dump(GetParam().json), GetParam().expected) << GetParam().json; }

INSTANTIATE_TEST_SUITE_P(
    PricePairs, Messages,
    ::testing::Values(
        DumpCase{R"({"rc":[{"id":1,"atb":[[1.5,10,99,"x"]]}]})", "rc[{id=1 atb[1.5:10]}]"},
        DumpCase{R"({"rc":[{"id":1,"atb":[[1.5],[],5,null,"x",{}]}]})", "rc[{id=1 atb[]}]"},
        DumpCase{R"({"rc":[{"id":1,"atb":[["x",10],[1.5,null],[2,3]]}]})", "rc[{id=1 atb[0:10,1.5:0,2:3]}]"},
        DumpCase{R"({"rc":[{"id":1,"atb":[[1.5,10]],"atb":5}]})", "rc[{id=1}]"},
        DumpCase{R"({"rc":[{"id":1,"atb":5,"atb":[[2,3]]}]})", "rc[{id=1 atb[2:3]}]"}));

INSTANTIATE_TEST_SUITE_P(
    RunnerChanges, Messages,
    ::testing::Values(
        DumpCase{R"({"rc":[5,{"id":"7"},{"id":7.0},{"ltp":2},{"id":18446744073709551615},{"id":2}]})", "rc[{id=2}]"},
        DumpCase{R"({"rc":[{"id":1,"ltp":1.5,"ltp":"x"}]})", "rc[{id=1}]"},
        DumpCase{R"({"rc":[{"id":1,"id":"x","atb":[[1,2]]}]})", "rc[]"},
        DumpCase{R"({"rc":[{"id":-5,"hc":0.004},{"id":6,"spn":1,"spn":"a"}]})", "rc[{id=-5 hc=0.004} {id=6 spn=\"a\"}]"}));

INSTANTIATE_TEST_SUITE_P(
    RepeatedKeys, Messages,
    ::testing::Values(
        DumpCase{R"({"marketDefinition":{},"marketDefinition":null})", "marketDefinition=other"},
        DumpCase{R"({"marketDefinition":null,"marketDefinition":{"venue":"X"}})", "md{venue=\"X\"}"},
        DumpCase{R"({"id":"1.2","id":""})", ""},
        DumpCase{R"({"betDelay":"x","betDelay":2})", "betDelay=2"},
        DumpCase{R"({"img":true,"img":null})", ""},
        DumpCase{R"({"rc":[{"id":1}],"rc":5})", ""},
        DumpCase{R"({"marketDefinition":{"regulators":["A"],"regulators":"B","runners":[{}],"runners":[]}})",
                 "md{runners[]}"},
        DumpCase{R"({"marketDefinition":{"runners":[{"id":1,"bsp":2,"bsp":true}]}})", "md{runners[{id=1 bsp=other}]}"}));

INSTANTIATE_TEST_SUITE_P(
    OtherKinds, Messages,
    ::testing::Values(DumpCase{"5", "not-object"}, DumpCase{"null", "not-object"}, DumpCase{"[{\"id\":\"1\"}]", "not-object"},
                      DumpCase{"\"x\"", "not-object"}, DumpCase{"{}", ""}));

TEST(ReadMarketChange, ReusedEncoderKeepsNothingOfThePreviousValue) {
    MessageEncoder message;
    read_into(R"({"id":"1.2","img":true,"tv":3,"marketDefinition":{"venue":"A","runners":[{}]},)"
              R"("rc":[{"id":1,"atb":[[1,2]]}]})",
              message);
    EXPECT_EQ(read_into(R"({"rc":[{"id":2}]})", message), "rc[{id=2}]");
}

TEST(ReadMarketChange, LaddersOfManyRunnersKeepTheirPairsAcrossStorageBlocks) {
    // Enough pairs that later ladders land in other blocks than earlier ones.
    std::string json = R"({"rc":[)";
    std::string expected = "rc[";
    for (int runner = 1; runner <= 3; ++runner) {
        if (runner > 1) {
            json += ',';
            expected += ' ';
        }
        json.append(R"({"id":)").append(std::to_string(runner)).append(R"(,"atb":[)");
        expected.append("{id=").append(std::to_string(runner)).append(" atb[");
        for (int level = 0; level < 3000; ++level) {
            const std::string price = std::to_string(runner * 10000 + level);
            if (level > 0) {
                json += ',';
                expected += ',';
            }
            json.append("[").append(price).append(",1]");
            expected.append(price).append(":1");
        }
        json += "]}";
        expected += "]}";
    }
    json += "]}";
    expected += "]";
    EXPECT_EQ(read_dump(json), expected);
}

// Numbers that the reader may take as hundredths, and their neighbours that
// it must not: each is stored as the double that strtod reads.
class StoredNumbers : public ::testing::TestWithParam<std::string> {};

TEST_P(StoredNumbers, DecodeToTheDoubleOfTheirText) {
    const std::string& text = GetParam();
    const auto bits = std::bit_cast<std::uint64_t>(std::strtod(text.c_str(), nullptr));
    for (const std::string& ladder : {"[[" + text + "," + text + "]]", "[[1,2],[" + text + "," + text + "],[3,4]]"}) {
        MessageEncoder message;
        message.start();
        read_value(R"({"rc":[{"atb":)" + ladder + R"(,"ltp":)" + text + R"(,"id":1}],"tv":)" + text + "}",
                   [&](PullValue value) {
                       message.add_market_change(value);
                       return true;
                   });
        StoredMessages store;
        store.append(1, message.finish());
        MarketChangeRecord scratch;
        store.for_each_market_change(0, scratch, [&](const MarketChangeRecord& change) {
            ASSERT_EQ(change.runner_changes.size(), 1u);
            const RunnerChangeRecord& runner = change.runner_changes[0];
            const PricePair& pair = (*runner.available_to_back)[runner.available_to_back->size() > 1 ? 1 : 0];
            EXPECT_EQ(std::bit_cast<std::uint64_t>(pair.price), bits) << ladder;
            EXPECT_EQ(std::bit_cast<std::uint64_t>(pair.size), bits) << ladder;
            EXPECT_EQ(std::bit_cast<std::uint64_t>(*runner.last_price_traded), bits);
            EXPECT_EQ(std::bit_cast<std::uint64_t>(*change.total_matched), bits);
        });
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, StoredNumbers,
                         ::testing::Values("0", "0.0", "0.5", "0.05", "0.10", "5.00", "1.01", "10", "1000.5",
                                           "99999.99", "999999.9", "123456.78", "1234567", "12345678",
                                           "123456789", "1.234", "1.005", "1e2", "1.5E1", "7.5e-1", "1.0e0",
                                           "-1.5", "-0", "-0.0", "0.001"));

}  // namespace
}  // namespace quorvane::cache
