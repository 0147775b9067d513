#include "core/cache/apply_market_change.h"

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "release_counter.h"

namespace quorvane::cache {
namespace {

using Pairs = std::vector<PricePair>;

MarketChangeRecord market_change() {
    MarketChangeRecord change;
    change.is_object = true;
    return change;
}

MarketChangeRecord with_runner_changes(std::vector<RunnerChangeRecord> runner_changes) {
    MarketChangeRecord change = market_change();
    change.has_runner_changes = true;
    change.runner_changes = std::move(runner_changes);
    return change;
}

RunnerChangeRecord runner_change(std::int64_t id, double hc = 0.0) {
    RunnerChangeRecord change;
    change.id = id;
    change.hc = hc;
    return change;
}

DefinitionRunnerRecord definition_runner(std::int64_t id, std::string_view status = "ACTIVE", double hc = 0.0) {
    DefinitionRunnerRecord runner;
    runner.is_object = true;
    runner.id = id;
    runner.hc = hc;
    runner.status = status;
    return runner;
}

MarketChangeRecord with_definition(std::vector<DefinitionRunnerRecord> runners) {
    MarketChangeRecord change = market_change();
    change.definition_kind = MarketChangeRecord::Definition::Object;
    change.definition.has_runners = true;
    change.definition.runners = std::move(runners);
    return change;
}

SpInput sp_number(double number) { return {SpInput::Kind::Number, number, {}}; }
SpInput sp_text(std::string_view text) { return {SpInput::Kind::Text, 0.0, text}; }
SpInput sp_other() { return {SpInput::Kind::Other, 0.0, {}}; }

const RunnerState& runner_at(const MarketState& state, std::int64_t id, double hc = 0.0) {
    return state.runners.at(RunnerKey::of(id, hc));
}

std::int32_t count_active(const MarketState& state) {
    std::int32_t active = 0;
    for (const auto& [key, runner] : state.runners) active += runner.status == "ACTIVE";
    return active;
}

TEST(MarketStateTest, StartsWithTheStreamDefaults) {
    const MarketState state("1.23");
    EXPECT_EQ(state.market_id, "1.23");
    EXPECT_EQ(state.status, "OPEN");
    EXPECT_TRUE(state.complete);
    EXPECT_TRUE(state.cross_matching);
    EXPECT_TRUE(state.persistence_enabled);
    EXPECT_FALSE(state.inplay);
    EXPECT_EQ(state.number_of_winners, 1);
    EXPECT_FALSE(state.last_match_time);
    EXPECT_EQ(state.definition_version, 0u);
    EXPECT_TRUE(state.runners.empty());
}

// --- Runner counters --------------------------------------------------------

struct RunnerVersionCase {
    std::string name;
    std::function<void(RunnerChangeRecord&)> edit;
    std::uint64_t version_step;
};

class RunnerVersion : public testing::TestWithParam<RunnerVersionCase> {};

const Pairs resting_back{{1.5, 100}};
const Pairs other_back{{1.6, 100}};
const Pairs no_pairs{};

TEST_P(RunnerVersion, MovesOnlyWhenTheRecordChanged) {
    MarketState state("1.1");
    RunnerChangeRecord seed = runner_change(5);
    seed.status = "ACTIVE";
    seed.last_price_traded = 2.0;
    seed.total_matched = 10.0;
    seed.adjustment_factor = 12.5;
    seed.removal_date = "2017-06-14T07:00:50.000Z";
    seed.available_to_back = resting_back;
    apply_market_change(state, with_runner_changes({seed}), 1);
    const std::uint64_t before = runner_at(state, 5).version;
    ASSERT_EQ(before, 1u);

    RunnerChangeRecord repeat = seed;
    GetParam().edit(repeat);
    apply_market_change(state, with_runner_changes({repeat}), 2);
    EXPECT_EQ(runner_at(state, 5).version, before + GetParam().version_step);
}

INSTANTIATE_TEST_SUITE_P(Cases, RunnerVersion, testing::Values(
    RunnerVersionCase{"RepeatedValues", [](RunnerChangeRecord&) {}, 0},
    RunnerVersionCase{"RepeatedValuesWithNearPrice", [](RunnerChangeRecord& c) { c.near_price = sp_number(3.0); }, 1},
    RunnerVersionCase{"RepeatedValuesWithNullFarPrice", [](RunnerChangeRecord& c) { c.far_price = sp_other(); }, 1},
    RunnerVersionCase{"EmptyLadderArray", [](RunnerChangeRecord& c) { c.available_to_lay = no_pairs; }, 0},
    RunnerVersionCase{"NewLastPrice", [](RunnerChangeRecord& c) { c.last_price_traded = 2.02; }, 1},
    RunnerVersionCase{"NewTotalMatched", [](RunnerChangeRecord& c) { c.total_matched = 11.0; }, 1},
    RunnerVersionCase{"NewAdjustmentFactor", [](RunnerChangeRecord& c) { c.adjustment_factor = 1.0; }, 1},
    RunnerVersionCase{"NewRemovalDate", [](RunnerChangeRecord& c) { c.removal_date = "2017-06-14T09:23:43.000Z"; }, 1},
    RunnerVersionCase{"LowerCaseStatus", [](RunnerChangeRecord& c) { c.status = "active"; }, 1},
    RunnerVersionCase{"LadderMoves", [](RunnerChangeRecord& c) { c.available_to_back = other_back; }, 1},
    RunnerVersionCase{"TradedLadderMoves", [](RunnerChangeRecord& c) { c.traded_volume = other_back; }, 1},
    RunnerVersionCase{"StartingPriceLadderMoves", [](RunnerChangeRecord& c) { c.starting_price_lay = other_back; }, 1},
    RunnerVersionCase{"ManyChangesOneStep",
                      [](RunnerChangeRecord& c) {
                          c.last_price_traded = 3.0;
                          c.total_matched = 20.0;
                          c.status = "REMOVED";
                          c.available_to_back = other_back;
                          c.near_price = sp_text("NaN");
                      },
                      1}),
    [](const auto& info) { return info.param.name; });

TEST(ApplyMarketChangeTest, RunnerChangeStoresStartingPricesAsGiven) {
    MarketState state("1.1");
    RunnerChangeRecord change = runner_change(5);
    change.near_price = sp_text("NaN");
    change.far_price = sp_number(4.5);
    apply_market_change(state, with_runner_changes({change}), 1);
    EXPECT_EQ(runner_at(state, 5).near_price.kind(), SpValue::Kind::Text);
    EXPECT_EQ(runner_at(state, 5).near_price.text(), "NaN");
    EXPECT_EQ(runner_at(state, 5).far_price.number(), 4.5);

    change.near_price = sp_other();
    change.far_price = {};  // missing: left alone
    apply_market_change(state, with_runner_changes({change}), 2);
    EXPECT_TRUE(runner_at(state, 5).near_price.absent());
    EXPECT_EQ(runner_at(state, 5).far_price.number(), 4.5);
}

TEST(ApplyMarketChangeTest, RunnerCreatedByARunnerChangeIsActiveAndKeepsItsHandicap) {
    MarketState state("1.1");
    RunnerChangeRecord change = runner_change(9, 0.004);
    change.last_price_traded = 4.0;
    apply_market_change(state, with_runner_changes({change, runner_change(9, 0.001)}), 1);
    ASSERT_EQ(state.runners.size(), 1u);
    const RunnerState& runner = runner_at(state, 9);
    EXPECT_EQ(runner.handicap, 0.004);
    EXPECT_EQ(runner.status, "ACTIVE");
    EXPECT_EQ(runner.version, 1u);  // creation alone does not count
    EXPECT_EQ(state.number_of_runners, 1);
    EXPECT_EQ(state.number_of_active_runners, 1);
    EXPECT_TRUE(runner.available_to_back.descending);
    EXPECT_FALSE(runner.available_to_lay.descending);
    EXPECT_TRUE(runner.starting_price_back.descending);
    EXPECT_FALSE(runner.starting_price_lay.descending);

    apply_market_change(state, with_runner_changes({runner_change(9, 0.005)}), 2);
    EXPECT_EQ(state.runners.size(), 2u);
    EXPECT_EQ(runner_at(state, 9, 0.005).version, 0u);
}

// --- Definitions -------------------------------------------------------------

TEST(ApplyMarketChangeTest, DefinitionVersionCountsEveryDefinitionKey) {
    MarketState state("1.1");
    apply_market_change(state, with_runner_changes({runner_change(1)}), 1);
    EXPECT_EQ(state.definition_version, 0u);

    MarketChangeRecord null_definition = market_change();
    null_definition.definition_kind = MarketChangeRecord::Definition::NotObject;
    apply_market_change(state, null_definition, 2);
    EXPECT_EQ(state.definition_version, 1u);
    EXPECT_EQ(state.status, "OPEN");
    EXPECT_EQ(runner_at(state, 1).version, 0u);

    MarketChangeRecord empty_definition = market_change();
    empty_definition.definition_kind = MarketChangeRecord::Definition::Object;
    apply_market_change(state, empty_definition, 3);
    apply_market_change(state, empty_definition, 4);
    EXPECT_EQ(state.definition_version, 3u);
}

TEST(ApplyMarketChangeTest, DefinitionRunnersAlwaysCountAsAChange) {
    MarketState state("1.1");
    const MarketChangeRecord definition = with_definition({definition_runner(1), definition_runner(2)});
    apply_market_change(state, definition, 1);
    apply_market_change(state, definition, 2);
    EXPECT_EQ(runner_at(state, 1).version, 2u);
    EXPECT_EQ(runner_at(state, 2).version, 2u);
}

TEST(ApplyMarketChangeTest, DefinitionRunnersWithOneHandicapKeyShareARecord) {
    MarketState state("1.1");
    apply_market_change(state, with_definition({definition_runner(4, "ACTIVE", 0.001), definition_runner(4, "ACTIVE", 0.002)}), 1);
    ASSERT_EQ(state.runner_definitions.size(), 2u);
    EXPECT_EQ(state.runner_definitions[1].handicap, 0.002);
    ASSERT_EQ(state.runners.size(), 1u);
    EXPECT_EQ(runner_at(state, 4).version, 2u);
    EXPECT_EQ(runner_at(state, 4).handicap, 0.001);
}

TEST(ApplyMarketChangeTest, DefinitionRunnerWithoutIntegerIdOnlyAddsAnEntry) {
    MarketState state("1.1");
    DefinitionRunnerRecord float_id = definition_runner(0, "LOSER");
    float_id.id.reset();  // "id": 3.0
    float_id.name = "Nameless";
    apply_market_change(state, with_definition({float_id, DefinitionRunnerRecord{}}), 1);
    ASSERT_EQ(state.runner_definitions.size(), 2u);
    EXPECT_EQ(state.runner_definitions[0].selection_id, 0);
    EXPECT_EQ(state.runner_definitions[0].status, "LOSER");
    EXPECT_EQ(state.runner_definitions[0].name, "Nameless");
    EXPECT_EQ(state.runner_definitions[1].status, "ACTIVE");  // not an object: all defaults
    EXPECT_FALSE(state.runner_definitions[1].name);
    EXPECT_TRUE(state.runners.empty());
}

TEST(ApplyMarketChangeTest, DefinitionRunnerOverwritesBspAndMergesTheRest) {
    MarketState state("1.1");
    DefinitionRunnerRecord first = definition_runner(1);
    first.bsp = sp_number(3.75);
    first.adjustment_factor = 20.0;
    first.removal_date = "2017-06-14T07:00:50.000Z";
    first.sort_priority = 1;
    first.name = "Brother Mcgonagall";
    apply_market_change(state, with_definition({first}), 1);
    EXPECT_EQ(runner_at(state, 1).bsp.number(), 3.75);
    EXPECT_EQ(state.runner_definitions[0].bsp, 3.75);

    DefinitionRunnerRecord second = definition_runner(1, "REMOVED");
    second.bsp = sp_text("3.75");
    apply_market_change(state, with_definition({second}), 2);
    const RunnerState& runner = runner_at(state, 1);
    EXPECT_EQ(runner.bsp.text(), "3.75");
    EXPECT_EQ(runner.adjustment_factor, 20.0);
    EXPECT_EQ(runner.removal_date, "2017-06-14T07:00:50.000Z");
    EXPECT_EQ(runner.status, "REMOVED");
    // The entry list is rebuilt whole: nothing of the first entry survives.
    EXPECT_FALSE(state.runner_definitions[0].bsp);
    EXPECT_FALSE(state.runner_definitions[0].adjustment_factor);
    EXPECT_FALSE(state.runner_definitions[0].removal_date);
    EXPECT_EQ(state.runner_definitions[0].sort_priority, 0);
    EXPECT_FALSE(state.runner_definitions[0].name);

    apply_market_change(state, with_definition({definition_runner(1)}), 3);
    EXPECT_TRUE(runner_at(state, 1).bsp.absent());
}

TEST(ApplyMarketChangeTest, DefinitionsMergeFieldByField) {
    MarketState state("1.1");
    MarketChangeRecord first = with_definition({definition_runner(1), definition_runner(2)});
    first.definition.venue = "Sheffield";
    first.definition.bet_delay = (std::int64_t{1} << 32) + 5;
    first.definition.number_of_winners = -1;
    first.definition.each_way_divisor = 4.0;
    first.definition.has_regulators = true;
    first.definition.regulators = {"A", "B"};
    first.definition.in_play = true;
    apply_market_change(state, first, 1);
    EXPECT_EQ(state.bet_delay, 5);
    EXPECT_EQ(state.number_of_winners, -1);
    EXPECT_EQ(state.regulators, (std::vector<std::string>{"A", "B"}));
    EXPECT_TRUE(state.inplay);

    MarketChangeRecord second = market_change();
    second.definition_kind = MarketChangeRecord::Definition::Object;
    second.definition.event_name = "Sheffield 19th Apr";
    apply_market_change(state, second, 2);
    EXPECT_EQ(state.venue, "Sheffield");
    EXPECT_EQ(state.event_name, "Sheffield 19th Apr");
    EXPECT_EQ(state.each_way_divisor, 4.0);
    EXPECT_EQ(state.regulators.size(), 2u);
    EXPECT_EQ(state.runner_definitions.size(), 2u);  // no "runners" array: list kept

    MarketChangeRecord third = with_definition({});
    third.definition.has_regulators = true;
    third.definition.regulators = {"C"};
    apply_market_change(state, third, 3);
    EXPECT_EQ(state.regulators, std::vector<std::string>{"C"});
    EXPECT_TRUE(state.runner_definitions.empty());
    EXPECT_EQ(state.runners.size(), 2u);  // records outlive their entries

    MarketChangeRecord fourth = market_change();
    fourth.definition_kind = MarketChangeRecord::Definition::Object;
    fourth.definition.has_regulators = true;
    apply_market_change(state, fourth, 4);
    EXPECT_TRUE(state.regulators.empty());
}

TEST(ApplyMarketChangeTest, MarketChangeFieldsWinOverTheDefinition) {
    MarketState state("1.1");
    MarketChangeRecord change = market_change();
    change.definition_kind = MarketChangeRecord::Definition::Object;
    change.definition.status = "SUSPENDED";
    change.definition.bet_delay = 1;
    change.definition.in_play = false;
    change.definition.version = 10;
    change.definition.complete = false;
    change.status = "OPEN";
    change.bet_delay = 2;
    change.in_play = true;
    change.version = 11;
    change.total_matched = 25.5;
    change.last_match_time = 1650392673420;
    apply_market_change(state, change, 1);
    EXPECT_EQ(state.status, "OPEN");
    EXPECT_EQ(state.bet_delay, 2);
    EXPECT_TRUE(state.inplay);
    EXPECT_EQ(state.version, 11);
    EXPECT_FALSE(state.complete);  // only in the definition
    EXPECT_EQ(state.total_matched, 25.5);
    EXPECT_EQ(state.last_match_time, 1650392673420);
}

TEST(ApplyMarketChangeTest, SecondMarketIsMergedIntoTheFirst) {
    MarketState state("1.1");
    MarketChangeRecord first = with_definition({definition_runner(1), definition_runner(2)});
    first.id = "1.1";
    first.definition.market_type = "WIN";
    first.definition.venue = "Sheffield";
    apply_market_change(state, first, 1);

    MarketChangeRecord second = with_definition({definition_runner(3), definition_runner(2, "LOSER")});
    second.id = "1.2";
    second.definition.market_type = "PLACE";
    apply_market_change(state, second, 2);
    EXPECT_EQ(state.market_id, "1.1");
    EXPECT_EQ(state.market_type, "PLACE");
    EXPECT_EQ(state.venue, "Sheffield");
    EXPECT_EQ(state.runners.size(), 3u);
    EXPECT_EQ(state.runner_definitions.size(), 2u);
    EXPECT_EQ(state.number_of_active_runners, 2);
}

// --- Images --------------------------------------------------------------------

TEST(ApplyMarketChangeTest, ImageWithDefinitionRecreatesItsRunnersFresh) {
    MarketState state("1.1");
    RunnerChangeRecord priced = runner_change(1);
    priced.available_to_back = resting_back;
    priced.last_price_traded = 2.0;
    MarketChangeRecord first = with_definition({definition_runner(1), definition_runner(2)});
    first.total_matched = 99.0;
    apply_market_change(state, first, 1);
    apply_market_change(state, with_runner_changes({priced, runner_change(7)}), 2);
    ASSERT_EQ(state.runners.size(), 3u);

    MarketChangeRecord image = with_definition({definition_runner(1), definition_runner(2)});
    image.image = true;
    apply_market_change(state, image, 3);
    ASSERT_EQ(state.runners.size(), 2u);
    const RunnerState& runner = runner_at(state, 1);
    EXPECT_EQ(runner.version, 1u);
    EXPECT_TRUE(runner.available_to_back.levels.empty());
    EXPECT_EQ(runner.available_to_back.version, 0u);
    EXPECT_FALSE(runner.last_price_traded);
    EXPECT_EQ(state.definition_version, 2u);
    EXPECT_EQ(state.total_matched, 99.0);
    EXPECT_EQ(state.number_of_runners, 2);
    EXPECT_EQ(state.number_of_active_runners, 2);
}

TEST(ApplyMarketChangeTest, ImageWithoutDefinitionOnlyEmptiesTheTable) {
    MarketState state("1.1");
    MarketChangeRecord first = with_definition({definition_runner(1, "WINNER"), definition_runner(2)});
    first.definition.venue = "Sheffield";
    apply_market_change(state, first, 1);

    MarketChangeRecord image = with_runner_changes({runner_change(1)});
    image.image = true;
    apply_market_change(state, image, 2);
    ASSERT_EQ(state.runners.size(), 1u);
    EXPECT_EQ(runner_at(state, 1).status, "ACTIVE");  // a new record, not the definition's
    EXPECT_EQ(state.runner_definitions.size(), 2u);
    EXPECT_EQ(state.venue, "Sheffield");
    EXPECT_EQ(state.definition_version, 1u);
    EXPECT_EQ(state.number_of_runners, 1);
    EXPECT_EQ(state.number_of_active_runners, 1);

    MarketChangeRecord bare_image = market_change();
    bare_image.image = true;
    apply_market_change(state, bare_image, 3);
    EXPECT_EQ(state.number_of_runners, 0);
    EXPECT_EQ(state.number_of_active_runners, 0);
}

// The book keeps its runner order while this counter holds, so it must move
// on every record that joins or leaves the table, and only then.
TEST(ApplyMarketChangeTest, TableVersionMovesWhenRecordsJoinOrLeave) {
    MarketState state("1.1");
    struct Step {
        MarketChangeRecord change;
        std::uint64_t expected_version;
    };
    MarketChangeRecord image = with_runner_changes({runner_change(1)});
    image.image = true;
    MarketChangeRecord empty_image = market_change();
    empty_image.image = true;
    RunnerChangeRecord price = runner_change(2);
    price.last_price_traded = 3.5;
    std::vector<Step> steps;
    steps.push_back({with_definition({definition_runner(1), definition_runner(2)}), 2});
    steps.push_back({with_runner_changes({price}), 2});       // known record
    steps.push_back({with_definition({definition_runner(2)}), 2});
    steps.push_back({with_runner_changes({runner_change(3, 0.5)}), 3});
    steps.push_back({image, 5});                             // dropped, then one new
    steps.push_back({empty_image, 6});
    steps.push_back({empty_image, 6});                       // nothing left to drop
    for (std::size_t i = 0; i < steps.size(); ++i) {
        apply_market_change(state, steps[i].change, static_cast<std::int64_t>(i + 1));
        EXPECT_EQ(state.runner_table_version, steps[i].expected_version) << "step " << i;
    }
}

class SlotRelease : public ReleaseCounterTest {};

TEST_F(SlotRelease, DroppedRecordsReleaseTheirObjects) {
    int objects[6] = {};
    {
        MarketState state("1.1");
        apply_market_change(state, with_definition({definition_runner(1), definition_runner(2)}), 1);
        RunnerState& first = state.runners.at(RunnerKey::of(1, 0.0));
        first.runner_object.store(&objects[0], first.version);
        first.back_list.store(&objects[1], 0);
        first.lay_list.store(&objects[2], 0);
        first.traded_list.store(&objects[3], 0);
        state.runners.at(RunnerKey::of(2, 0.0)).runner_object.store(&objects[4], 1);
        state.definition_object.store(&objects[5], state.definition_version);

        MarketChangeRecord image = with_definition({definition_runner(1)});
        image.image = true;
        apply_market_change(state, image, 2);
        EXPECT_EQ(released().size(), 5u);
        EXPECT_EQ(state.runners.at(RunnerKey::of(1, 0.0)).runner_object.get(), nullptr);
        EXPECT_EQ(state.definition_object.get(), &objects[5]);  // an image keeps the definition
    }
    std::vector<void*> all(released());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, (std::vector<void*>{&objects[0], &objects[1], &objects[2], &objects[3], &objects[4], &objects[5]}));
}

// --- Derived counts ------------------------------------------------------------

TEST(ApplyMarketChangeTest, ActiveCountIsCaseSensitiveAndFollowsStatusChanges) {
    MarketState state("1.1");
    apply_market_change(state, with_definition({definition_runner(1), definition_runner(2, "active"), definition_runner(3)}), 1);
    EXPECT_EQ(state.number_of_runners, 3);
    EXPECT_EQ(state.number_of_active_runners, 2);

    RunnerChangeRecord winner = runner_change(1);
    winner.status = "WINNER";
    RunnerChangeRecord revived = runner_change(2);
    revived.status = "ACTIVE";
    RunnerChangeRecord repeated = runner_change(3);
    repeated.status = "ACTIVE";
    apply_market_change(state, with_runner_changes({winner, revived, repeated, runner_change(4)}), 2);
    EXPECT_EQ(state.number_of_runners, 4);
    EXPECT_EQ(state.number_of_active_runners, 3);
    EXPECT_EQ(state.number_of_active_runners, count_active(state));
}

TEST(ApplyMarketChangeTest, ActiveCountMatchesTheTableThroughMixedChanges) {
    static constexpr std::string_view statuses[] = {"ACTIVE", "LOSER", "active", "", "REMOVED", "ACTIVE"};
    MarketState state("1.1");
    std::uint32_t seed = 12345;
    const auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    for (int step = 0; step < 500; ++step) {
        RunnerChangeRecord change = runner_change(next() % 12);
        change.status = statuses[next() % std::size(statuses)];
        MarketChangeRecord record = with_runner_changes({change});
        if (next() % 50 == 0) record.image = true;
        if (next() % 7 == 0) {
            record.definition_kind = MarketChangeRecord::Definition::Object;
            record.definition.has_runners = true;
            record.definition.runners = {definition_runner(next() % 12, statuses[next() % std::size(statuses)])};
        }
        apply_market_change(state, record, step + 1);
        ASSERT_EQ(state.number_of_active_runners, count_active(state)) << "step " << step;
        ASSERT_EQ(state.number_of_runners, static_cast<std::int32_t>(state.runners.size()));
    }
}

TEST(ApplyMarketChangeTest, NonObjectMarketChangeSetsOnlyThePublishTime) {
    MarketState state("1.1");
    apply_market_change(state, with_definition({definition_runner(1)}), 5);
    MarketChangeRecord not_object;
    not_object.image = true;  // ignored: not an object
    apply_market_change(state, not_object, 6);
    EXPECT_EQ(state.publish_time, 6);
    EXPECT_EQ(state.runners.size(), 1u);
    EXPECT_EQ(state.number_of_runners, 1);
    EXPECT_EQ(state.definition_version, 1u);
}

}  // namespace
}  // namespace quorvane::cache
