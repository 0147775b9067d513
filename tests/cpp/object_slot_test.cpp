#include "core/cache/object_slot.h"

#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "release_counter.h"

namespace quorvane::cache {
namespace {

class ObjectSlotTest : public ReleaseCounterTest {};

TEST_F(ObjectSlotTest, StoreReleasesOnlyThePreviousObject) {
    int first = 0, second = 0;
    ObjectSlot slot;
    EXPECT_EQ(slot.get(), nullptr);
    EXPECT_EQ(slot.version(), 0u);
    slot.store(&first, 3);
    EXPECT_TRUE(released().empty());
    slot.store(&second, 4);
    EXPECT_EQ(released(), std::vector<void*>{&first});
    EXPECT_EQ(slot.get(), &second);
    EXPECT_EQ(slot.version(), 4u);
}

TEST_F(ObjectSlotTest, ResetAndDestructionReleaseOnce) {
    int first = 0, second = 0;
    {
        ObjectSlot slot;
        slot.store(&first, 1);
        slot.reset();
        EXPECT_EQ(slot.get(), nullptr);
        EXPECT_EQ(slot.version(), 0u);
        slot.store(&second, 2);
    }
    EXPECT_EQ(released(), (std::vector<void*>{&first, &second}));
}

TEST_F(ObjectSlotTest, MovingHandsOverOwnership) {
    int first = 0, second = 0;
    ObjectSlot source;
    source.store(&first, 5);
    ObjectSlot moved(std::move(source));
    EXPECT_EQ(source.get(), nullptr);
    EXPECT_EQ(moved.get(), &first);
    EXPECT_EQ(moved.version(), 5u);

    ObjectSlot target;
    target.store(&second, 6);
    target = std::move(moved);
    EXPECT_EQ(released(), std::vector<void*>{&second});
    EXPECT_EQ(target.get(), &first);
    EXPECT_EQ(target.version(), 5u);
}

TEST(ObjectSlotWithoutHook, ForgetsObjects) {
    ObjectSlot::set_release_hook(nullptr);
    int object = 0;
    ObjectSlot slot;
    slot.store(&object, 1);
    slot.reset();
    EXPECT_EQ(slot.get(), nullptr);
}

}  // namespace
}  // namespace quorvane::cache
