// Signing in and out against real staff tables, on a clock the test moves.
#include <gtest/gtest.h>

#include "../service_test_support.h"
#include "service/app/staff_access.h"
#include "service/domain/credentials.h"

namespace {

using namespace Service;

class StaffAccessTest : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        store = OpenSqliteStaffStore(dir.File("reports.db"), error);
        ASSERT_TRUE(store) << error;
        const auto hash = Credentials::HashPassword("correct horse battery", Credentials::MinimumCost());
        for (const auto& [name, role] : {std::pair{"ann", Role::Support}, std::pair{"vic", Role::Viewer}})
            ASSERT_EQ(store->AddStaff({name, role, *hash, false, 0}, MakeAuditEntry(0, "console", "local", AuditAction::StaffAdd, name)),
                      StaffWrite::Done);
        access = std::make_unique<StaffAccess>(*store, [this] { return now; });
    }
    std::string Audit() {
        std::string all;
        store->ReadAudit({}, 100, [&](const AuditEntry& e) {
            all = std::string(AuditActionName(e.action)) + " " + e.subject + (e.detail.empty() ? "" : ":" + e.detail) + "\n" + all;
            return true;
        });
        return all;
    }

    TempDir dir;
    std::unique_ptr<StaffStore> store;
    int64_t now = 1'000'000;
    std::unique_ptr<StaffAccess> access;
};

TEST_F(StaffAccessTest, SignInUseAndSignOut) {
    const auto login = access->Login("Ann", "correct horse battery", "198.51.100.7", "");
    ASSERT_EQ(login.kind, LoginResult::Kind::SignedIn);
    EXPECT_EQ(login.setCookie.rfind("zorv_staff=" + login.token + ";", 0), 0u);
    const auto who = access->Authenticate(login.token);
    ASSERT_TRUE(who);
    EXPECT_EQ(who->who.name, "ann");
    EXPECT_EQ(who->who.role, Role::Support);
    EXPECT_TRUE(Sessions::CsrfValid(login.token, who->csrf));

    // Signing in again from the same browser ends the session it had.
    const auto again = access->Login("ann", "correct horse battery", "198.51.100.7", login.token);
    ASSERT_EQ(again.kind, LoginResult::Kind::SignedIn);
    EXPECT_FALSE(access->Authenticate(login.token));
    EXPECT_TRUE(access->Logout(again.token, "198.51.100.7"));
    EXPECT_FALSE(access->Authenticate(again.token));
    EXPECT_FALSE(access->Logout(again.token, "198.51.100.7"));
    EXPECT_EQ(Audit(), "staff_add ann\nstaff_add vic\nlogin ann:support\nlogin ann:support\nlogout ann\n");
}

TEST_F(StaffAccessTest, SessionsEndByIdlenessAndAge) {
    const auto login = access->Login("vic", "correct horse battery", "198.51.100.7", "");
    ASSERT_EQ(login.kind, LoginResult::Kind::SignedIn);
    // Used every 29 minutes it lives on, until twelve hours after the login.
    for (int i = 1; i * 29 * 60 < Sessions::kAbsoluteSeconds; ++i) {
        now = 1'000'000 + i * 29 * 60;
        ASSERT_TRUE(access->Authenticate(login.token)) << i;
    }
    now = 1'000'000 + Sessions::kAbsoluteSeconds;
    EXPECT_FALSE(access->Authenticate(login.token));

    const auto other = access->Login("vic", "correct horse battery", "198.51.100.7", "");
    now += Sessions::kIdleSeconds;
    EXPECT_FALSE(access->Authenticate(other.token));
    now -= 1;  // the ended session was removed: going back does not bring it back
    EXPECT_FALSE(access->Authenticate(other.token));
}

TEST_F(StaffAccessTest, FailedLoginsWaitLongerAndRecordNoSecrets) {
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(access->Login("ann", "hunter2hunter2", "198.51.100.7", "").kind, LoginResult::Kind::Refused);
    // Inside the wait even the right password is not looked at.
    const auto waiting = access->Login("ann", "correct horse battery", "203.0.113.9", "");
    EXPECT_EQ(waiting.kind, LoginResult::Kind::Wait);
    EXPECT_EQ(waiting.waitSeconds, 1);
    now += 1;
    EXPECT_EQ(access->Login("ann", "correct horse battery", "203.0.113.9", "").kind, LoginResult::Kind::SignedIn);

    EXPECT_EQ(access->Login("correct horse battery", "ann", "198.51.100.7", "").kind, LoginResult::Kind::Refused);
    EXPECT_EQ(access->Login("nobody", "x", "198.51.100.7", "").kind, LoginResult::Kind::Refused);
    ASSERT_EQ(store->Disable("vic", MakeAuditEntry(now, "console", "local", AuditAction::StaffDisable, "vic")),
              StaffWrite::Done);
    EXPECT_EQ(access->Login("vic", "correct horse battery", "198.51.100.7", "").kind, LoginResult::Kind::Refused);

    const std::string audit = Audit();
    EXPECT_EQ(audit.find("hunter2"), std::string::npos);
    EXPECT_EQ(audit.find("horse"), std::string::npos);
    EXPECT_EQ(audit.find("nobody"), std::string::npos);
    EXPECT_NE(audit.find("login_failed ann:wrong password\nlogin_failed ann:wrong password\n"), std::string::npos);
    EXPECT_NE(audit.find("login ann:support\nlogin_failed (unknown name):unknown name\n"
                         "login_failed (unknown name):unknown name\nstaff_disable vic\n"
                         "login_failed vic:account disabled\n"),
              std::string::npos)
        << audit;
}

}  // namespace
