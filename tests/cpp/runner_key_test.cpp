#include "core/cache/runner_key.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <unordered_set>

#include <gtest/gtest.h>

namespace quorvane::cache {
namespace {

constexpr std::int64_t int64_max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64_min = std::numeric_limits<std::int64_t>::min();

struct HandicapCase {
    double handicap;
    std::int64_t key;
};

class HandicapKey : public testing::TestWithParam<HandicapCase> {};

TEST_P(HandicapKey, RoundsHalfAwayFromZeroAndSaturates) {
    EXPECT_EQ(handicap_key(GetParam().handicap), GetParam().key) << "handicap " << GetParam().handicap;
}

INSTANTIATE_TEST_SUITE_P(Cases, HandicapKey, testing::Values(
    HandicapCase{0.0, 0}, HandicapCase{-0.0, 0},
    HandicapCase{0.004, 0}, HandicapCase{-0.004, 0},
    HandicapCase{0.005, 1}, HandicapCase{-0.005, -1},
    HandicapCase{0.015, 2}, HandicapCase{-0.015, -2},  // half rounds away, not to even
    HandicapCase{0.5, 50}, HandicapCase{-1.25, -125}, HandicapCase{2.999, 300},
    HandicapCase{1e17, int64_max}, HandicapCase{-1e17, int64_min},
    HandicapCase{9.2e16, 9'200'000'000'000'000'000}, HandicapCase{-9.2e16, -9'200'000'000'000'000'000},
    HandicapCase{std::numeric_limits<double>::infinity(), int64_max},
    HandicapCase{-std::numeric_limits<double>::infinity(), int64_min},
    HandicapCase{std::numeric_limits<double>::max(), int64_max},
    HandicapCase{std::nan(""), 0}));

TEST(RunnerKeyTest, HandicapsOfOneHundredthShareAKeyAndSelectionIdsDoNot) {
    std::unordered_set<RunnerKey, RunnerKeyHash> keys{RunnerKey::of(7, 0.001), RunnerKey::of(7, 0.002), RunnerKey::of(7, 0.0)};
    EXPECT_EQ(keys.size(), 1u);
    keys.insert(RunnerKey::of(8, 0.0));
    keys.insert(RunnerKey::of(7, 0.01));
    EXPECT_EQ(keys.size(), 3u);
    EXPECT_LT(RunnerKey::of(-1, 5.0), RunnerKey::of(1, -5.0));
    EXPECT_LT(RunnerKey::of(1, -0.5), RunnerKey::of(1, 0.5));
}

}  // namespace
}  // namespace quorvane::cache
