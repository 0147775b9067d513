// Replays the real recordings through the cache, checking after every market
// change what must hold whatever the stream says, and at the end a few values
// read off the files by hand.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>

#include <gtest/gtest.h>

#include "core/cache/replay.h"
#include "core/input/stream_reader.h"
#include "shared_data.h"

namespace quorvane::cache {
namespace {

const std::filesystem::path recordings = quorvane::testing::shared_dir() / "data" / "real";

struct LevelCounters {
    std::uint64_t runner, back, lay, traded, sp_back, sp_lay;
};

class CheckedReplay {
public:
    explicit CheckedReplay(const std::filesystem::path& file) : messages_(input::read_stream_file(file.string())) {}

    // Applies every message the way the iterator does, checking invariants.
    void run() {
        MarketChangeRecord scratch;
        for (std::size_t index = 0; index < messages_.size(); ++index) {
            const std::int64_t publish_time = messages_.publish_time(index);
            messages_.for_each_market_change(index, scratch, [&](const MarketChangeRecord& change) {
                if (!replay_.apply(change, publish_time)) return;
                ++changes_applied_;
                check(change);
            });
            if (::testing::Test::HasFatalFailure()) return;
        }
    }

    const MarketState& state() const { return *replay_.market(); }
    std::size_t changes_applied() const { return changes_applied_; }

private:
    void check(const MarketChangeRecord& change) {
        const MarketState& state = *replay_.market();
        ASSERT_GE(state.definition_version, definition_version_);
        definition_version_ = state.definition_version;
        std::int32_t active = 0;
        for (const auto& [key, runner] : state.runners) {
            ASSERT_EQ(key, RunnerKey::of(runner.selection_id, runner.handicap));
            active += runner.status == "ACTIVE";
            for (const PriceLevels* levels : {&runner.available_to_back.levels, &runner.available_to_lay.levels,
                                              &runner.traded_volume.levels, &runner.starting_price_back.levels,
                                              &runner.starting_price_lay.levels})
                for (const auto& [price, size] : *levels) ASSERT_NE(size, 0.0);
            const LevelCounters now{runner.version, runner.available_to_back.version, runner.available_to_lay.version,
                                    runner.traded_volume.version, runner.starting_price_back.version,
                                    runner.starting_price_lay.version};
            const auto seen = counters_.find(key);
            if (seen != counters_.end() && !change.image) {
                const LevelCounters& before = seen->second;
                ASSERT_GE(now.runner, before.runner);
                ASSERT_GE(now.back, before.back);
                ASSERT_GE(now.lay, before.lay);
                ASSERT_GE(now.traded, before.traded);
                ASSERT_GE(now.sp_back, before.sp_back);
                ASSERT_GE(now.sp_lay, before.sp_lay);
            }
            counters_.insert_or_assign(key, now);
        }
        ASSERT_EQ(state.number_of_runners, static_cast<std::int32_t>(state.runners.size()));
        ASSERT_EQ(state.number_of_active_runners, active);
    }

    StoredMessages messages_;
    Replay replay_;
    std::size_t changes_applied_ = 0;
    std::uint64_t definition_version_ = 0;
    std::unordered_map<RunnerKey, LevelCounters, RunnerKeyHash> counters_;  // an image restarts a runner's counters
};

std::optional<CheckedReplay> replay(const std::string& name) {
    const auto file = recordings / name;
    if (!std::filesystem::exists(file)) return std::nullopt;
    std::optional<CheckedReplay> replay(std::in_place, file);
    replay->run();
    return replay;
}

TEST(CacheReplayTest, GreyhoundWinMarketWithFullLadders) {
    auto run = replay("1.197931750");
    if (!run) QUORVANE_SHARED_DATA_MISSING() << "recording not found under " << recordings;
    if (HasFatalFailure()) return;
    const MarketState& state = run->state();
    EXPECT_EQ(run->changes_applied(), 166u);
    EXPECT_EQ(state.market_id, "1.197931750");
    EXPECT_EQ(state.status, "CLOSED");
    EXPECT_EQ(state.venue, "Sheffield");
    EXPECT_EQ(state.definition_version, 3u);
    EXPECT_EQ(state.publish_time, 1650392996470);
    EXPECT_DOUBLE_EQ(state.total_matched, 25102.51);
    EXPECT_EQ(state.number_of_runners, 6);
    EXPECT_EQ(state.number_of_active_runners, 0);

    const RunnerState& winner = state.runners.at(RunnerKey::of(37947503, 0.0));
    EXPECT_EQ(winner.status, "WINNER");
    EXPECT_EQ(winner.last_price_traded, 25.0);
    EXPECT_DOUBLE_EQ(winner.total_matched, 547.4);
    EXPECT_EQ(winner.traded_volume.levels.size(), 13u);
    EXPECT_TRUE(winner.available_to_back.levels.empty());

    const RunnerState& favourite = state.runners.at(RunnerKey::of(39823721, 0.0));
    EXPECT_EQ(favourite.status, "LOSER");
    EXPECT_EQ(favourite.last_price_traded, 1.56);
    EXPECT_EQ(favourite.traded_volume.levels.size(), 21u);
    double traded = 0.0;
    for (const PricePair& level : sorted_levels(favourite.traded_volume)) traded += level.size;
    EXPECT_NEAR(traded, 18581.2, 1e-6);
}

TEST(CacheReplayTest, BasicHorseRaceMarket) {
    auto run = replay("BASIC-1.132153978");
    if (!run) QUORVANE_SHARED_DATA_MISSING() << "recording not found under " << recordings;
    if (HasFatalFailure()) return;
    const MarketState& state = run->state();
    EXPECT_EQ(run->changes_applied(), 480u);
    EXPECT_EQ(state.market_id, "1.132153978");
    EXPECT_EQ(state.status, "CLOSED");
    EXPECT_EQ(state.definition_version, 13u);
    EXPECT_EQ(state.number_of_runners, 14);
    ASSERT_EQ(state.runner_definitions.size(), 14u);
    EXPECT_EQ(state.runner_definitions[0].selection_id, 11198538);  // the last definition lists it first
    EXPECT_EQ(state.runner_definitions[0].name, "Hellavashock");

    const RunnerState& winner = state.runners.at(RunnerKey::of(12115648, 0.0));
    EXPECT_EQ(winner.status, "WINNER");
    EXPECT_EQ(winner.last_price_traded, 1.01);
    const RunnerState& removed = state.runners.at(RunnerKey::of(11198538, 0.0));
    EXPECT_EQ(removed.status, "REMOVED");
    EXPECT_EQ(removed.last_price_traded, 16.0);
    EXPECT_EQ(removed.removal_date, "2017-06-14T07:00:50.000Z");
    EXPECT_EQ(removed.adjustment_factor, 7.14);
}

TEST(CacheReplayTest, GzipRecordingEndsSettled) {
    auto run = replay("BASIC-1.132153978.gz");
    if (!run) QUORVANE_SHARED_DATA_MISSING() << "recording not found under " << recordings;
    if (HasFatalFailure()) return;
    const MarketState& state = run->state();
    EXPECT_EQ(run->changes_applied(), 480u);
    EXPECT_EQ(state.market_id, "1.132153978");
    EXPECT_EQ(state.status, "CLOSED");
    EXPECT_EQ(state.number_of_runners, 14);
    EXPECT_EQ(state.runners.at(RunnerKey::of(12115648, 0.0)).status, "WINNER");
}

}  // namespace
}  // namespace quorvane::cache
