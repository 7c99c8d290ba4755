// Who may do what, and how long a guesser waits.
#include <gtest/gtest.h>

#include <string>

#include "service/domain/login_throttle.h"
#include "service/domain/roles.h"

namespace {

using namespace Service;

TEST(Roles, EveryActionForEveryoneAsTheTableSays) {
    // Columns: viewer, support, admin, token.
    const struct {
        Action action;
        const char* allowed;
    } table[] = {
        {Action::ViewDashboard, "VSAT"}, {Action::Search, "-SA-"},      {Action::ViewAccount, "-SA-"},
        {Action::ViewMachine, "-SA-"},   {Action::ViewSuspicious, "-SA-"}, {Action::Revoke, "-SA-"},
        {Action::Restore, "-SA-"},       {Action::Erase, "-SA-"},       {Action::Export, "-SAT"},
        {Action::ManageStaff, "--A-"},   {Action::ViewAudit, "--A-"},   {Action::ExportAudit, "--A-"},
        {Action::ViewMetrics, "--AT"},   {Action::ManageWaves, "--AT"},
    };
    ASSERT_EQ(sizeof table / sizeof table[0], static_cast<size_t>(kActionCount));
    const Principal who[] = {{Principal::Kind::Staff, "v", Role::Viewer},
                             {Principal::Kind::Staff, "s", Role::Support},
                             {Principal::Kind::Staff, "a", Role::Admin},
                             {Principal::Kind::Token, kTokenActor, Role::Admin}};  // a token's role is ignored
    for (const auto& row : table) {
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(testing::Message() << ActionName(row.action) << " by " << "VSAT"[i]);
            EXPECT_EQ(Permitted(who[i], row.action), row.allowed[i] != '-');
        }
    }
}

TEST(Roles, StaffNames) {
    const struct {
        const char* typed;
        const char* stored;  // nullptr: refused
    } cases[] = {
        {"ann", "ann"},          {"Ann.Lee", "ann.lee"}, {"support-2", "support-2"}, {"a_b", "a_b"},
        {"9lives", "9lives"},    {"", nullptr},          {".ann", nullptr},          {"-ann", nullptr},
        {"ann lee", nullptr},    {"安", nullptr},         {"token", nullptr},         {"TOKEN", nullptr},
        {"console", nullptr},    {"ann/lee", nullptr},
        {"abcdefghijklmnopqrstuvwxyz012345", "abcdefghijklmnopqrstuvwxyz012345"},
        {"abcdefghijklmnopqrstuvwxyz0123456", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        const auto name = StaffName(c.typed);
        EXPECT_EQ(name.has_value(), c.stored != nullptr);
        if (name && c.stored) {
            EXPECT_EQ(*name, c.stored);
        }
    }
}

TEST(LoginWait, GrowsAfterTheFreeMissesUpToTheCap) {
    const int64_t expected[] = {0, 0, 0, 0, 1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 900, 900};
    for (int failures = 0; failures < 16; ++failures) {
        SCOPED_TRACE(failures);
        EXPECT_EQ(WaitAfter(failures, kAccountPolicy), expected[failures]);
    }
    EXPECT_EQ(WaitAfter(1000, kAccountPolicy), 900);
    EXPECT_EQ(WaitAfter(10, kAddressPolicy), 0);
    EXPECT_EQ(WaitAfter(11, kAddressPolicy), 1);
}

TEST(LoginWait, PerAccountAndPerAddress) {
    LoginThrottle throttle;
    int64_t now = 1000;
    for (int i = 0; i < 3; ++i) throttle.Failed("ann", "198.51.100.7", now);
    EXPECT_EQ(throttle.WaitFor("ann", "198.51.100.7", now), 0);
    throttle.Failed("ann", "198.51.100.7", now);
    EXPECT_EQ(throttle.WaitFor("ann", "198.51.100.7", now), 1);
    EXPECT_EQ(throttle.WaitFor("ann", "203.0.113.9", now), 1);  // the account waits from everywhere
    EXPECT_EQ(throttle.WaitFor("bob", "198.51.100.7", now), 0);
    throttle.Failed("ann", "198.51.100.7", now + 1);
    EXPECT_EQ(throttle.WaitFor("ann", "198.51.100.7", now + 1), 2);
    EXPECT_EQ(throttle.WaitFor("ann", "198.51.100.7", now + 3), 0);
    // An hour without a miss forgives.
    throttle.Failed("ann", "198.51.100.7", now + 3700);
    EXPECT_EQ(throttle.WaitFor("ann", "198.51.100.7", now + 3700), 0);

    // One address trying many names waits too, and a good password elsewhere does not clear it.
    now = 10000;
    for (int i = 0; i < 11; ++i) throttle.Failed("name" + std::to_string(i), "2001:db8:1:2::5", now);
    EXPECT_EQ(throttle.WaitFor("fresh", "2001:db8:1:2:aaaa::1", now), 1);  // the same /64
    EXPECT_EQ(throttle.WaitFor("fresh", "2001:db8:1:3::5", now), 0);
    throttle.Succeeded("name3");
    EXPECT_EQ(throttle.WaitFor("name3", "2001:db8:1:2::5", now), 1);
    EXPECT_EQ(throttle.WaitFor("name3", "192.0.2.1", now), 0);
}

TEST(LoginWait, AddressKeys) {
    const struct {
        const char* address;
        const char* key;
    } cases[] = {
        {"198.51.100.7", "198.51.100.7"},
        {"::ffff:198.51.100.7", "198.51.100.7"},
        {"2001:db8:1:2:3:4:5:6", "2001:db8:1:2::/64"},
        {"2001:DB8:1:2::", "2001:db8:1:2::/64"},
        {"::1", "::/64"},
        {"not an address", "not an address"},
    };
    for (const auto& c : cases) EXPECT_EQ(AddressKey(c.address), c.key) << c.address;
}

TEST(LoginWait, MemoryStaysBoundedAndKeepsTheNewest) {
    LoginThrottle throttle(100);
    for (int i = 0; i < 5000; ++i)
        for (int k = 0; k < 4; ++k) throttle.Failed("n" + std::to_string(i), "10.0." + std::to_string(i % 250) + ".1", i);
    EXPECT_LE(throttle.Tracked(), 100u);
    EXPECT_GT(throttle.WaitFor("n4999", "192.0.2.1", 4999), 0);
}

}  // namespace
