#include "core/cache/runner_table.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace quorvane::cache {
namespace {

// An Asian handicap market: a few selection ids, each at many handicaps.
std::vector<RunnerKey> handicap_market_keys() {
    std::vector<RunnerKey> keys;
    for (std::int64_t id : {47972, 47973, 58805})
        for (int step = -80; step <= 80; ++step) keys.push_back(RunnerKey::of(id, step * 0.25));
    return keys;
}

TEST(RunnerTableTest, FindsEveryRecordAgainAndNeverMovesOneAsItGrows) {
    RunnerTable table;
    std::vector<RunnerTable::value_type*> made;
    for (const RunnerKey& key : handicap_market_keys()) {
        const auto [record, inserted] = table.try_emplace(key, key.selection_id, key.handicap_key / 100.0);
        ASSERT_TRUE(inserted);
        made.push_back(record);
    }
    ASSERT_EQ(table.size(), made.size());
    std::size_t i = 0;
    for (const RunnerKey& key : handicap_market_keys()) {
        const auto [record, inserted] = table.try_emplace(key, 0, 0.0);
        EXPECT_FALSE(inserted);
        EXPECT_EQ(record, made[i++]);
        EXPECT_EQ(&table.at(key), &record->second);
        EXPECT_EQ(record->second.selection_id, key.selection_id);
    }
    EXPECT_EQ(table.size(), made.size());
}

TEST(RunnerTableTest, ClearLeavesNoRecordAndTakesNewOnes) {
    RunnerTable table;
    for (const RunnerKey& key : handicap_market_keys()) table.try_emplace(key, key.selection_id, 0.0);
    table.clear();
    EXPECT_TRUE(table.empty());
    EXPECT_THROW(table.at(RunnerKey::of(47972, 0.0)), std::out_of_range);
    const auto [record, inserted] = table.try_emplace(RunnerKey::of(47972, 0.0), 47972, 0.0);
    EXPECT_TRUE(inserted);
    EXPECT_EQ(&table.at(RunnerKey::of(47972, 0.0)), &record->second);
    EXPECT_EQ(table.size(), 1u);
    EXPECT_THROW(RunnerTable().at(RunnerKey::of(1, 0.0)), std::out_of_range);
}

}  // namespace
}  // namespace quorvane::cache
