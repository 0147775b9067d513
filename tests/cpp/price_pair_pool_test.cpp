#include "core/cache/price_pair_pool.h"

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace quorvane::cache {
namespace {

// Fills each allocation with its own index, so an overlap shows as a changed value.
std::vector<std::span<PricePair>> fill(PricePairPool& pool, const std::vector<std::size_t>& counts) {
    std::vector<std::span<PricePair>> spans;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        spans.push_back(pool.allocate(counts[i]));
        for (PricePair& pair : spans.back()) pair = {static_cast<double>(i), -static_cast<double>(i)};
    }
    return spans;
}

void expect_intact(const std::vector<std::span<PricePair>>& spans, const char* label) {
    for (std::size_t i = 0; i < spans.size(); ++i)
        for (const PricePair& pair : spans[i]) {
            ASSERT_EQ(pair.price, static_cast<double>(i)) << label << ", allocation " << i;
            ASSERT_EQ(pair.size, -static_cast<double>(i)) << label << ", allocation " << i;
        }
}

TEST(PricePairPool, AllocationsNeverOverlapAndSurviveLaterOnes) {
    const std::vector<std::vector<std::size_t>> cases = {
        {0, 1, 2, 0, 3},
        {4096, 1, 4095, 2},      // a full block, then one that spills over
        {5000, 10, 9000, 4096},  // larger than a block
        std::vector<std::size_t>(300, 37),
    };
    for (const auto& counts : cases) {
        PricePairPool pool;
        const auto spans = fill(pool, counts);
        for (std::size_t i = 0; i < spans.size(); ++i) EXPECT_EQ(spans[i].size(), counts[i]);
        expect_intact(spans, "first fill");
        // After clear() the blocks are reused; a second round must be as sound.
        pool.clear();
        const auto again = fill(pool, counts);
        expect_intact(again, "after clear");
    }
}

TEST(PricePairPool, GiveBackReturnsTheEndOfTheLatestAllocation) {
    PricePairPool pool;
    const std::span<PricePair> first = pool.allocate(8);
    pool.give_back(5);
    const std::span<PricePair> second = pool.allocate(2);
    EXPECT_EQ(second.data(), first.data() + 3);
}

TEST(PricePairPool, ClearHandsOutTheSameMemoryAgain) {
    PricePairPool pool;
    const PricePair* first = pool.allocate(10).data();
    pool.allocate(5000);
    pool.clear();
    EXPECT_EQ(pool.allocate(10).data(), first);
}

// Moves and copies must leave no pool able to hand out memory another owns.
TEST(PricePairPool, MovedAndCopiedPoolsOwnWhatTheyHandOut) {
    PricePairPool original;
    const auto spans = fill(original, {100, 200});

    PricePairPool moved(std::move(original));
    expect_intact(spans, "after the move");
    fill(original, {300, 5000});  // the moved-from pool starts over on blocks of its own
    expect_intact(spans, "after reusing the moved-from pool");

    PricePairPool copy(moved);
    fill(copy, {300});
    expect_intact(spans, "after allocating from a copy");

    PricePairPool assigned;
    assigned = moved;
    fill(assigned, {300});
    PricePairPool move_assigned;
    move_assigned = std::move(moved);
    fill(moved, {300});
    expect_intact(spans, "after assignments");
    const auto later = fill(move_assigned, {50});
    expect_intact(spans, "after allocating from the move-assigned pool");
    EXPECT_EQ(later.front().size(), 50u);
}

}  // namespace
}  // namespace quorvane::cache
