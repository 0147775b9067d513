// A release hook that records what the cache lets go of.
#pragma once

#include <vector>

#include <gtest/gtest.h>

#include "core/cache/object_slot.h"

namespace quorvane::cache {

class ReleaseCounterTest : public testing::Test {
protected:
    void SetUp() override {
        released().clear();
        ObjectSlot::set_release_hook([](void* object) { released().push_back(object); });
    }
    void TearDown() override { ObjectSlot::set_release_hook(nullptr); }

    static std::vector<void*>& released() {
        static std::vector<void*> objects;
        return objects;
    }
};

}  // namespace quorvane::cache
