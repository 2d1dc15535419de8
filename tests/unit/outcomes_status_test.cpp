#include "outcomes/status.h"

#include <gtest/gtest.h>

#include <memory>

TEST(Status, IsOkWithoutMessageOrAFailureWithOne) {
    EXPECT_TRUE(Status().ok());
    EXPECT_EQ(Status().message(), "");
    Status failed = Status::failure("cannot write \"x\"");
    EXPECT_FALSE(failed);
    EXPECT_EQ(failed.message(), "cannot write \"x\"");
}

TEST(Result, HoldsAMoveOnlyValueOrTheFailure) {
    Result<std::unique_ptr<int>> value = std::make_unique<int>(7);
    ASSERT_TRUE(value);
    EXPECT_EQ(**value, 7);
    std::unique_ptr<int> taken = std::move(*value);
    EXPECT_EQ(*taken, 7);

    Result<std::unique_ptr<int>> failed = Status::failure("bad forest");
    EXPECT_FALSE(failed);
    EXPECT_EQ(failed.message(), "bad forest");
    // An ok Status carries no value: it cannot pass for a result.
    EXPECT_FALSE(Result<int>(Status()));
}
