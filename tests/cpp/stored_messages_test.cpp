#include "core/cache/stored_messages.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "core/cache/message_encoder.h"
#include "oracle/json_readings.h"
#include "record_dump.h"
#include "shared_data.h"

namespace quorvane::cache {
namespace {

namespace fs = std::filesystem;

const fs::path kShared = quorvane::testing::shared_dir();

std::vector<std::string> decoded_dumps(const StoredMessages& store, std::size_t index) {
    std::vector<std::string> dumps;
    MarketChangeRecord scratch;
    store.for_each_market_change(index, scratch, [&](const MarketChangeRecord& change) {
        dumps.push_back(testing::dump(change));
    });
    return dumps;
}

// Stores the JSON values as one message, and returns the dumps of their
// plain readings, which the store must decode to.
std::vector<std::string> store_values(StoredMessages& store, std::int64_t pt, const std::vector<std::string>& values) {
    simdjson::dom::parser parser;
    MessageEncoder message;
    message.start();
    std::vector<std::string> dumps;
    for (const std::string& value : values) {
        simdjson::dom::element element;
        EXPECT_EQ(parser.parse(value).get(element), simdjson::SUCCESS) << value;
        MarketChangeRecord record;
        read_market_change(element, record);
        dumps.push_back(testing::dump(record));
        encode_market_change(element, message);
    }
    store.append(pt, message.finish());
    return dumps;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// --- round trips of every field kind

class RoundTrip : public ::testing::TestWithParam<std::string> {};

TEST_P(RoundTrip, DecodesWhatWasRead) {
    StoredMessages store;
    const auto expected = store_values(store, 42, {GetParam()});
    ASSERT_EQ(store.size(), 1u);
    EXPECT_EQ(store.publish_time(0), 42);
    EXPECT_EQ(decoded_dumps(store, 0), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Records, RoundTrip,
    ::testing::Values(
        "{}", "17", "null",
        R"({"id":"1.197931750","img":true,"status":"OPEN","betDelay":-9223372036854775808,"bspReconciled":false,)"
        R"("complete":true,"crossMatching":false,"inPlay":true,"runnersVoidable":false,"tv":12345.67,)"
        R"("version":9223372036854775807,"lastMatchTime":1650392673420,"rc":[]})",
        R"({"marketDefinition":null,"rc":[{"id":0}]})",
        R"({"marketDefinition":{"status":"","betDelay":4294967301,"bspReconciled":true,"complete":false,)"
        R"("crossMatching":true,"inPlay":false,"runnersVoidable":true,"numberOfWinners":-1,"eventId":"31389771",)"
        R"("eventTypeId":"4339","eventName":"Sheff","marketType":"WIN","marketTime":"2022-04-19T18:26:00.000Z",)"
        R"("countryCode":"GB","venue":"Sheffield","raceType":"Flat","bspMarket":false,"persistenceEnabled":true,)"
        R"("eachWayDivisor":4,"timezone":"Europe/London","turnInPlayEnabled":true,"bettingType":"ODDS",)"
        R"("name":"A3 480m \u00e9\u0000","discountAllowed":false,"marketBaseRate":0.07,"regulators":["MR_INT","",7],)"
        R"("openDate":"2022-04-19T17:19:00.000Z","suspendTime":"x","settledTime":"y","version":4495990919,)"
        R"("runners":[3,{},{"id":44331354,"hc":-0.25,"sortPriority":1,"status":"ACTIVE","name":"Trap 1",)"
        R"("adjustmentFactor":12.3456789,"removalDate":"2022-04-19T17:00:00.000Z","bsp":3.45},)"
        R"({"id":-1,"bsp":"NaN"},{"id":2,"bsp":[]}]}})",
        R"({"marketDefinition":{"regulators":[],"runners":[]}})",
        R"({"rc":[{"id":44331354,"hc":1.5,"status":"REMOVED","adjustmentFactor":0.1,"ltp":1.01,"tv":0.30000000000000004,)"
        R"("removalDate":"2022","spb":[[1000,2.5]],"spl":[],"atb":[[8.8,18.62],[1.01,13002],[1000,0]],)"
        R"("atl":[[-1.25,-0.0],[1e300,5e-324]],"trd":[[2.5,90071992547409.91],[3,100000000000000.01]],)"
        R"("spn":4.2,"spf":"Infinity"},{"id":-7,"hc":-0.0,"spn":null,"spf":12}]})",
        // Keys against the store's order, repeated, and values dropped between others.
        R"({"tv":2,"rc":[{"hc":1,"id":3,"tv":5,"atb":[[1,2]],"ltp":2,"atb":[[3,4],[5,6]],"trd":7}],"id":"x",)"
        R"("marketDefinition":{"runners":[{"bsp":2,"name":"A","id":1,"name":"B"}],"venue":"V","status":"S",)"
        R"("venue":7},"img":true,"rc":[{"ltp":2,"id":1},{"id":"2","atb":[[1,2]]},{"atl":[[1,2]],"id":4}]})",
        R"({"marketDefinition":{"venue":"V"},"id":"y","marketDefinition":5,"tv":1,"id":""})",
        // Out of order with no payload left at all.
        R"({"marketDefinition":5,"rc":5})"));

// The shortest text that reads back as `value`; simdjson takes "-0" for the integer 0.
std::string shortest(double value) {
    if (value == 0.0) return std::signbit(value) ? "-0.0" : "0";
    char text[32];
    return {text, std::to_chars(text, text + sizeof text, value).ptr};
}

TEST(StoredMessages, RestoresEveryDoubleBitForBit) {
    const std::vector<double> values = {
        0.0, -0.0, 0.01, -0.01, 1.01, 1.005, 0.35, -0.69, 8.2, 0.1 + 0.2, 123.45, 1000, 90071992547409.91, 90071992547409.92,
        1e14, 1e300, -1e300, 5e-324, std::numeric_limits<double>::min(), std::numeric_limits<double>::max(),
        -std::numeric_limits<double>::max(), 0x1p53, -0x1p52, 12.3456789, std::nextafter(1.01, 2.0)};
    std::string ladder, changes;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::string value = shortest(values[i]);
        ladder.append(i ? ",[" : "[").append(value).append(",").append(shortest(-values[i])).append("]");
        changes.append(R"(,{"id":)").append(std::to_string(i)).append(R"(,"hc":)").append(value);
        changes.append(R"(,"ltp":)").append(value).append(R"(,"spn":)").append(value).append("}");
    }
    StoredMessages store;
    store_values(store, 1, {R"({"tv":)" + shortest(values[9]) + R"(,"rc":[{"id":99,"atb":[)" + ladder + "]}" + changes + "]}"});

    MarketChangeRecord scratch;
    std::size_t visits = 0;
    store.for_each_market_change(0, scratch, [&](const MarketChangeRecord& decoded) {
        ++visits;
        ASSERT_EQ(decoded.runner_changes.size(), values.size() + 1);
        const PricePairs ladder = *decoded.runner_changes.front().available_to_back;
        ASSERT_EQ(ladder.size(), values.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            const auto bits = std::bit_cast<std::uint64_t>(values[i]);
            EXPECT_EQ(std::bit_cast<std::uint64_t>(ladder[i].price), bits) << values[i];
            EXPECT_EQ(std::bit_cast<std::uint64_t>(ladder[i].size), std::bit_cast<std::uint64_t>(-values[i]));
            const RunnerChangeRecord& change = decoded.runner_changes[i + 1];
            EXPECT_EQ(std::bit_cast<std::uint64_t>(change.hc), bits) << values[i];
            EXPECT_EQ(std::bit_cast<std::uint64_t>(*change.last_price_traded), bits) << values[i];
            EXPECT_EQ(std::bit_cast<std::uint64_t>(change.near_price.number), bits) << values[i];
        }
        EXPECT_EQ(*decoded.total_matched, values[9]);
    });
    EXPECT_EQ(visits, 1u);
}

TEST(StoredMessages, UsualMessageTakesOneMaskBytePerRecord) {
    simdjson::dom::parser parser;
    simdjson::dom::element element;
    ASSERT_EQ(parser.parse(std::string(R"({"id":"1.2","rc":[{"atb":[[1.5,10]],"ltp":1.5,"tv":20,"id":7}],"tv":100.5})"))
                  .get(element),
              simdjson::SUCCESS);
    MessageEncoder message;
    message.start();
    encode_market_change(element, message);
    // Counts 1 + change mask 1 + id 4 + rc (count 1 + runner mask 1 + atb 5 + ltp 2 + tv 3 + id 1) + tv 3.
    EXPECT_EQ(message.finish().size(), 22u);
}

TEST(StoredMessages, KeepsMessagesInOrderWithTheirChanges) {
    StoredMessages store;
    const auto first = store_values(store, 1650392673420, {R"({"id":"a"})", "5", R"({"rc":[{"id":1,"ltp":2}]})"});
    const auto empty = store_values(store, 7, {});
    const auto last = store_values(store, 9223372036854775807, {R"({"id":"b","img":true})"});
    ASSERT_EQ(store.size(), 3u);
    EXPECT_EQ(store.publish_time(0), 1650392673420);
    EXPECT_EQ(store.publish_time(1), 7);
    EXPECT_EQ(store.publish_time(2), 9223372036854775807);
    EXPECT_EQ(decoded_dumps(store, 0), first);
    EXPECT_EQ(decoded_dumps(store, 1), empty);
    EXPECT_EQ(decoded_dumps(store, 2), last);
    EXPECT_EQ(decoded_dumps(store, 0), first);  // decoding twice gives the same
}

TEST(StoredMessages, DecodedTextsOutliveGrowthAndMoves) {
    StoredMessages store;
    const std::string long_text(300, 'x');
    store_values(store, 1, {R"({"id":")" + long_text + R"("})"});
    MarketChangeRecord scratch;
    std::string_view id;
    store.for_each_market_change(0, scratch, [&](const MarketChangeRecord& change) { id = *change.id; });

    // Enough messages to fill several chunks of the arena.
    const std::string ladder = [] {
        std::string text = R"({"rc":[{"id":1,"atb":[)";
        for (int level = 0; level < 2000; ++level) text += (level ? ",[" : "[") + std::to_string(level) + ".5,1.25]";
        return text + "]}]}";
    }();
    for (int i = 0; i < 200; ++i) store_values(store, 2 + i, {ladder});
    StoredMessages moved = std::move(store);
    EXPECT_EQ(id, long_text);
    EXPECT_EQ(moved.size(), 201u);
    EXPECT_EQ(decoded_dumps(moved, 0), std::vector<std::string>{"id=\"" + long_text + "\""});
    EXPECT_GT(moved.memory_bytes(), 200u * 2000u * 2u);  // every pair kept, at two bytes or more
}

TEST(StoredMessages, ShrinkingKeepsEveryMessageAndHoldsLittleMoreThanItsEncoding) {
    StoredMessages store;
    std::vector<std::vector<std::string>> expected;
    const std::vector<std::string> values = {
        R"({"id":"1.5","rc":[{"id":7,"atb":[[1.01,2.5],[3,0]],"ltp":1.01}]})", R"({"img":true,"tv":12.25})"};
    for (int i = 0; i < 3000; ++i) expected.push_back(store_values(store, 1 + i, {values[i % 2]}));
    const std::size_t grown = store.memory_bytes();
    store.shrink_to_fit();
    EXPECT_LT(store.memory_bytes(), grown);
    // Under 40 bytes a message: about 16 of index and the encoded changes.
    EXPECT_LT(store.memory_bytes(), 3000u * 40u);
    ASSERT_EQ(store.size(), 3000u);
    for (std::size_t i = 0; i < store.size(); ++i) {
        EXPECT_EQ(store.publish_time(i), static_cast<std::int64_t>(i + 1));
        EXPECT_EQ(decoded_dumps(store, i), expected[i]) << "message " << i;
    }
}

// --- real recordings and the line corpus

TEST(StoredMessages, RoundTripsTheRealRecordingsCompactly) {
    const fs::path directory = kShared / "data/real";
    if (!fs::exists(directory)) QUORVANE_SHARED_DATA_MISSING() << "no shared recordings at " << directory;
    for (const char* name : {"1.197931750", "BASIC-1.132153978"}) {
        const std::string text = read_file(directory / name);
        StoredMessages store;
        std::vector<std::vector<std::string>> expected;
        simdjson::dom::parser parser;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            simdjson::dom::element element;
            ASSERT_EQ(parser.parse(line).get(element), simdjson::SUCCESS);
            std::vector<std::string> values;
            for (simdjson::dom::element change : element["mc"].get_array()) values.push_back(simdjson::to_string(change));
            expected.push_back(store_values(store, element["pt"].get_int64(), values));
        }
        ASSERT_EQ(store.size(), expected.size()) << name;
        for (std::size_t i = 0; i < store.size(); ++i) EXPECT_EQ(decoded_dumps(store, i), expected[i]) << name << " line " << i;
        EXPECT_LE(static_cast<double>(store.memory_bytes()), 1.5 * static_cast<double>(text.size())) << name;
    }
}

std::string base64_decode(std::string_view text) {
    std::string bytes;
    unsigned buffer = 0;
    int bits = 0;
    for (char c : text) {
        int value;
        if (c >= 'A' && c <= 'Z') value = c - 'A';
        else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
        else if (c >= '0' && c <= '9') value = c - '0' + 52;
        else if (c == '+') value = 62;
        else if (c == '/') value = 63;
        else break;
        buffer = (buffer << 6) | static_cast<unsigned>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return bytes;
}

TEST(StoredMessages, RoundTripsTheLineCorpus) {
    const fs::path vectors = kShared / "data/json/line-vectors.tsv";
    if (!fs::exists(vectors)) QUORVANE_SHARED_DATA_MISSING() << "no shared line vectors at " << vectors;
    std::istringstream rows(read_file(vectors));
    std::size_t stored = 0;
    for (std::string row; std::getline(rows, row);) {
        const auto tab = row.find('\t');
        if (row.compare(tab + 1, 3, "OK ") != 0) continue;
        const std::string line = base64_decode(std::string_view(row).substr(0, tab));
        simdjson::dom::parser parser;
        simdjson::dom::element element;
        if (parser.parse(line).get(element) != simdjson::SUCCESS) continue;  // kinds the parser helper rewrites
        // The whole line as one change, then each element of its "mc".
        std::vector<std::string> values{line};
        simdjson::dom::array changes;
        if (element["mc"].get(changes) == simdjson::SUCCESS)
            for (simdjson::dom::element change : changes) values.push_back(simdjson::to_string(change));
        StoredMessages store;
        const auto expected = store_values(store, 1, values);
        EXPECT_EQ(decoded_dumps(store, 0), expected) << line;
        ++stored;
    }
    EXPECT_GT(stored, 500u);
}

}  // namespace
}  // namespace quorvane::cache
