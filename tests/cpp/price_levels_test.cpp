#include "core/cache/price_levels.h"

#include <cstdint>
#include <map>
#include <ostream>
#include <random>
#include <string>

#include <gtest/gtest.h>

namespace quorvane::cache {
namespace {

std::map<std::uint64_t, double> contents(const PriceLevels& levels) {
    std::map<std::uint64_t, double> out;
    for (const auto& [key, size] : levels) {
        EXPECT_NE(size, 0.0);
        EXPECT_TRUE(out.emplace(key, size).second) << "key " << key << " met twice";
    }
    return out;
}

TEST(PriceLevelsTest, SetAndEraseReportWhetherTheLevelChanged) {
    PriceLevels levels;
    EXPECT_FALSE(levels.erase(price_key(1.5)));
    EXPECT_TRUE(levels.set(price_key(1.5), 10));
    EXPECT_FALSE(levels.set(price_key(1.5), 10));
    EXPECT_TRUE(levels.set(price_key(1.5), 12));
    EXPECT_EQ(levels.size(), 1u);
    EXPECT_TRUE(levels.erase(price_key(1.5)));
    EXPECT_FALSE(levels.erase(price_key(1.5)));
    EXPECT_TRUE(levels.empty());
    EXPECT_EQ(levels.begin(), levels.end());
}

// +0.0 has the key 0, the same bits as an empty slot's key: the zero price
// must still be stored and found.
TEST(PriceLevelsTest, ZeroAndNegativeZeroPricesAreTwoLevels) {
    PriceLevels levels;
    EXPECT_TRUE(levels.set(price_key(0.0), 1));
    EXPECT_TRUE(levels.set(price_key(-0.0), 2));
    EXPECT_FALSE(levels.set(price_key(0.0), 1));
    EXPECT_EQ(contents(levels), (std::map<std::uint64_t, double>{{price_key(0.0), 1}, {price_key(-0.0), 2}}));
    EXPECT_TRUE(levels.erase(price_key(0.0)));
    EXPECT_EQ(contents(levels), (std::map<std::uint64_t, double>{{price_key(-0.0), 2}}));
}

// Random updates over few prices, checked against an ordered map after every
// step: small tables wrap around, probe runs collide and erasing from the
// middle of a run must keep every later entry reachable.
struct RandomCase {
    std::string name;
    unsigned seed;
    int prices;        // distinct prices drawn from
    int erase_percent; // share of updates that remove a level
};

void PrintTo(const RandomCase& c, std::ostream* out) { *out << c.name; }

class PriceLevelsRandom : public testing::TestWithParam<RandomCase> {};

TEST_P(PriceLevelsRandom, AgreesWithAnOrderedMap) {
    const RandomCase& c = GetParam();
    std::mt19937 random(c.seed);
    std::uniform_int_distribution<int> tick(0, c.prices - 1);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> size(1, 4);
    PriceLevels levels;
    std::map<std::uint64_t, double> expected;
    for (int step = 0; step < 4000; ++step) {
        const std::uint64_t key = price_key(1.0 + 0.01 * tick(random));
        if (percent(random) < c.erase_percent) {
            EXPECT_EQ(levels.erase(key), expected.erase(key) == 1);
        } else {
            const double value = size(random);
            const auto found = expected.find(key);
            EXPECT_EQ(levels.set(key, value), found == expected.end() || found->second != value);
            expected[key] = value;
        }
        ASSERT_EQ(levels.size(), expected.size()) << "step " << step;
        ASSERT_EQ(contents(levels), expected) << "step " << step;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PriceLevelsRandom, testing::Values(
    RandomCase{"FewPricesMostlyErased", 1, 6, 60},
    RandomCase{"LadderDepthBalanced", 2, 40, 50},
    RandomCase{"GrowsDeep", 3, 400, 20},
    RandomCase{"WholeTickRangeChurn", 4, 350, 45}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quorvane::cache
