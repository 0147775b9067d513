#include "extension/binding/borrow_flag.h"

#include <gtest/gtest.h>

namespace quorvane::binding {
namespace {

TEST(BorrowFlag, StartsFree) {
    BorrowFlag flag;
    EXPECT_EQ(flag.state(), 0);
}

TEST(BorrowFlag, SharesNestAndUnwind) {
    BorrowFlag flag;
    ASSERT_TRUE(flag.try_share());
    ASSERT_TRUE(flag.try_share());
    EXPECT_EQ(flag.state(), 2);
    EXPECT_FALSE(flag.try_take_exclusive());
    EXPECT_EQ(flag.state(), 2);  // a refused borrow changes nothing
    flag.end_share();
    flag.end_share();
    EXPECT_EQ(flag.state(), 0);
    EXPECT_TRUE(flag.try_take_exclusive());
}

TEST(BorrowFlag, ExclusiveRefusesEveryOtherBorrow) {
    BorrowFlag flag;
    ASSERT_TRUE(flag.try_take_exclusive());
    EXPECT_EQ(flag.state(), -1);
    EXPECT_FALSE(flag.try_share());
    EXPECT_FALSE(flag.try_take_exclusive());
    EXPECT_EQ(flag.state(), -1);
    flag.end_exclusive();
    EXPECT_EQ(flag.state(), 0);
    EXPECT_TRUE(flag.try_share());
    EXPECT_EQ(flag.state(), 1);
}

}  // namespace
}  // namespace quorvane::binding
