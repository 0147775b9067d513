#include "core/memory/realloc_array.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

namespace quorvane::memory {
namespace {

struct Pair {
    std::int64_t key;
    const void* value;
};

// Past several doublings, a shrink and a move, every element is as pushed.
TEST(ReallocArray, KeepsEveryElementThroughGrowingShrinkingAndMoving) {
    ReallocArray<Pair> array;
    constexpr std::int64_t kCount = 70'001;
    for (std::int64_t i = 0; i < kCount; ++i) array.push_back({i * 3, &array + i % 7});
    EXPECT_GE(array.capacity(), array.size());
    array.shrink_to_fit();
    EXPECT_EQ(array.capacity(), static_cast<std::size_t>(kCount));
    ReallocArray<Pair> moved(std::move(array));
    EXPECT_EQ(array.size(), 0u);
    ASSERT_EQ(moved.size(), static_cast<std::size_t>(kCount));
    for (std::int64_t i = 0; i < kCount; ++i) {
        ASSERT_EQ(moved[i].key, i * 3);
        ASSERT_EQ(moved[i].value, &array + i % 7);
    }
    ReallocArray<Pair> empty;
    empty.shrink_to_fit();
    moved = std::move(empty);
    EXPECT_EQ(moved.size(), 0u);
    EXPECT_EQ(moved.capacity(), 0u);
}

}  // namespace
}  // namespace quorvane::memory
