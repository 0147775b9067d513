#include "core/cache/price_ladder.h"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quorvane::cache {

// Found by argument-dependent lookup from the vector comparisons below.
static bool operator==(const PricePair& a, const PricePair& b) {
    return std::signbit(a.price) == std::signbit(b.price) && a.price == b.price && a.size == b.size;
}

static void PrintTo(const PricePair& pair, std::ostream* out) { *out << "(" << pair.price << ", " << pair.size << ")"; }

namespace {

using Levels = std::vector<PricePair>;

struct DeltaCase {
    std::string name;
    Levels before;   // applied first, in its own call
    Levels delta;
    bool changed;
    Levels after;    // ascending read-out
};

class PricePairDelta : public testing::TestWithParam<DeltaCase> {};

TEST_P(PricePairDelta, ChangesLevelsAndVersionTogether) {
    const DeltaCase& c = GetParam();
    TradedLadder ladder;
    apply_price_pairs(ladder, c.before);
    const std::uint64_t version = ladder.version;
    EXPECT_EQ(apply_price_pairs(ladder, c.delta), c.changed);
    EXPECT_EQ(ladder.version, version + (c.changed ? 1 : 0));
    EXPECT_EQ(sorted_levels(ladder), c.after);
    for (const auto& [key, size] : ladder.levels) EXPECT_NE(size, 0.0);
}

// The reader turns a non-number price into 0.0 and a non-number size (null)
// into 0.0 before the ladder sees the pair.
INSTANTIATE_TEST_SUITE_P(Cases, PricePairDelta, testing::Values(
    DeltaCase{"EmptyArray", {{1.5, 100}}, {}, false, {{1.5, 100}}},
    DeltaCase{"AddsLevels", {}, {{1.5, 100}, {2.0, 50}}, true, {{1.5, 100}, {2.0, 50}}},
    DeltaCase{"RepeatedSize", {{1.5, 100}}, {{1.5, 100}}, false, {{1.5, 100}}},
    DeltaCase{"NewSize", {{1.5, 100}}, {{1.5, 90}}, true, {{1.5, 90}}},
    DeltaCase{"RemoveAbsent", {{2.0, 5}}, {{1.5, 0}}, false, {{2.0, 5}}},
    DeltaCase{"RemovePresent", {{1.5, 100}, {2.0, 5}}, {{1.5, 0}}, true, {{2.0, 5}}},
    DeltaCase{"NullSizeRemoves", {{1.5, 100}}, {{1.5, 0.0}}, true, {}},
    DeltaCase{"NegativeZeroSizeRemoves", {{1.5, 100}}, {{1.5, -0.0}}, true, {}},
    DeltaCase{"StringPriceSetsZeroLevel", {}, {{0.0, 7}}, true, {{0.0, 7}}},
    DeltaCase{"AddThenRemoveInOneArray", {}, {{1.5, 10}, {1.5, 0}}, true, {}},
    DeltaCase{"RemoveThenRestoreInOneArray", {{1.5, 10}}, {{1.5, 0}, {1.5, 10}}, true, {{1.5, 10}}},
    DeltaCase{"RepeatedPriceLaterWins", {}, {{1.5, 10}, {1.5, 20}}, true, {{1.5, 20}}},
    DeltaCase{"ZeroAndNegativeZeroAreTwoLevels", {{0.0, 1}}, {{-0.0, 2}}, true, {{-0.0, 2}, {0.0, 1}}},
    DeltaCase{"NegativeZeroDoesNotRemoveZero", {{0.0, 1}}, {{-0.0, 0}}, false, {{0.0, 1}}},
    DeltaCase{"NegativePrices", {}, {{-2.0, 1}, {3.0, 2}, {-1.0, 3}}, true, {{-2.0, 1}, {-1.0, 3}, {3.0, 2}}}),
    [](const auto& info) { return info.param.name; });

TEST(PriceLadderTest, ReadOutFollowsTheLadderDirection) {
    const Levels pairs{{1.5, 100}, {2.0, 50}, {1.01, 3}, {1000, 1}};
    PriceLadder back{/*descending=*/true};
    PriceLadder lay{/*descending=*/false};
    TradedLadder traded;
    apply_price_pairs(back, pairs);
    apply_price_pairs(lay, pairs);
    apply_price_pairs(traded, pairs);
    const Levels ascending{{1.01, 3}, {1.5, 100}, {2.0, 50}, {1000, 1}};
    const Levels descending(ascending.rbegin(), ascending.rend());
    EXPECT_EQ(sorted_levels(back), descending);
    EXPECT_EQ(sorted_levels(lay), ascending);
    EXPECT_EQ(sorted_levels(traded), ascending);
}

TEST(PriceLadderTest, ZeroLevelsKeepTheirOrderWhateverTheInsertionOrder) {
    for (const Levels& pairs : {Levels{{0.0, 1}, {-0.0, 2}}, Levels{{-0.0, 2}, {0.0, 1}}}) {
        PriceLadder back{/*descending=*/true};
        apply_price_pairs(back, pairs);
        EXPECT_EQ(sorted_levels(back), (Levels{{0.0, 1}, {-0.0, 2}}));
    }
}

TEST(PriceLadderTest, VersionMovesOncePerChangingCall) {
    PriceLadder ladder;
    const Levels deep{{1.1, 1}, {1.2, 2}, {1.3, 3}, {1.4, 4}};
    EXPECT_TRUE(apply_price_pairs(ladder, deep));
    EXPECT_EQ(ladder.version, 1u);
    EXPECT_FALSE(apply_price_pairs(ladder, deep));
    EXPECT_EQ(ladder.version, 1u);
    EXPECT_TRUE(apply_price_pairs(ladder, Levels{{1.1, 0}, {1.2, 0}}));
    EXPECT_EQ(ladder.version, 2u);
    EXPECT_EQ(ladder.levels.size(), 2u);
}

TEST(PriceLadderTest, EmptyLadderReadsOutEmpty) {
    EXPECT_TRUE(sorted_levels(PriceLadder{}).empty());
    EXPECT_TRUE(sorted_levels(TradedLadder{}).empty());
}

}  // namespace
}  // namespace quorvane::cache
