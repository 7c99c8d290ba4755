#include "base/unique_handle.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> g_closed;

struct FakeTraits {
    using Handle = int;
    static int Empty() noexcept { return 0; }
    static void Close(int handle) noexcept { g_closed.push_back(handle); }
};
using FakeOwner = Base::UniqueHandle<FakeTraits>;

static_assert(Base::kIsMoveOnly<FakeOwner>, "owners move and never copy");
static_assert(!Base::kIsMoveOnly<std::vector<int>>, "the check tells copyable types apart");

class UniqueHandleTest : public ::testing::Test {
protected:
    void SetUp() override { g_closed.clear(); }
};

TEST_F(UniqueHandleTest, ClosesOnceWhenDestroyed) {
    { FakeOwner owner(7); }
    EXPECT_EQ(g_closed, std::vector<int>{7});
}

TEST_F(UniqueHandleTest, MoveTransfersOwnershipWithoutClosing) {
    {
        FakeOwner from(7);
        FakeOwner to(std::move(from));
        EXPECT_TRUE(from.IsEmpty());
        EXPECT_EQ(to.Get(), 7);
        EXPECT_TRUE(g_closed.empty());
    }
    EXPECT_EQ(g_closed, std::vector<int>{7});
}

TEST_F(UniqueHandleTest, MoveAssignmentClosesWhatTheTargetHeld) {
    FakeOwner a(1), b(2);
    a = std::move(b);
    EXPECT_EQ(g_closed, std::vector<int>{1});
    EXPECT_EQ(a.Get(), 2);
    a = std::move(a);  // self-move keeps the handle
    EXPECT_EQ(a.Get(), 2);
    EXPECT_EQ(g_closed, std::vector<int>{1});
}

TEST_F(UniqueHandleTest, ResetAndRelease) {
    FakeOwner owner(3);
    owner.Reset(3);  // the same handle again is not closed
    EXPECT_TRUE(g_closed.empty());
    owner.Reset(4);
    EXPECT_EQ(g_closed, std::vector<int>{3});
    EXPECT_EQ(owner.Release(), 4);
    EXPECT_TRUE(owner.IsEmpty());
    owner.Reset();
    EXPECT_EQ(g_closed, std::vector<int>{3});  // nothing held, nothing closed
}

}  // namespace
