// The staff tables on the backend of the run (SQLite, and PostgreSQL as pg.StaffStore*): each change with
// exactly its audit entry, sessions ended when they must be, an audit log nobody can rewrite, and the
// audit filter's SQL agreeing with the one rule of the domain.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "../service_test_support.h"
#include "service/app/staff_cli.h"
#include "service/domain/credentials.h"

namespace {

using namespace Service;

// What a look-up found (a failure when it found nothing, or the database failed).
template <typename T>
T Found(const std::optional<std::optional<T>>& result) {
    EXPECT_TRUE(result && *result);
    return result && *result ? **result : T{};
}

class StaffStoreTest : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_FALSE(database.db.empty());
        store = OpenStaffStore(database.db, error);
        ASSERT_TRUE(store) << error;
        // Opening again (another instance, a restart) finds the tables and changes nothing.
        ASSERT_TRUE(OpenStaffStore(database.db, error)) << error;
    }
    std::vector<AuditEntry> Audit(const AuditFilter& filter = {}, size_t limit = 1000) {
        std::vector<AuditEntry> all;
        EXPECT_TRUE(store->ReadAudit(filter, limit, [&](const AuditEntry& e) { return all.push_back(e), true; }));
        return all;
    }
    AuditEntry By(AuditAction action, const std::string& subject) {
        return MakeAuditEntry(100, "boss", "198.51.100.7", action, subject);
    }

    TempDir dir;
    TestDatabase database{CurrentBackend(), dir.File("reports.db")};
    std::unique_ptr<StaffStore> store;
};

TEST_F(StaffStoreTest, EachChangeWithExactlyItsAuditEntry) {
    EXPECT_EQ(store->AddStaff({"ann", Role::Support, "$argon2id$x", false, 50}, By(AuditAction::StaffAdd, "ann")),
              StaffWrite::Done);
    EXPECT_EQ(store->AddStaff({"ann", Role::Admin, "$argon2id$y", false, 60}, By(AuditAction::StaffAdd, "ann")),
              StaffWrite::Exists);
    EXPECT_EQ(store->AddStaff({"bob", Role::Viewer, "$argon2id$z", false, 70}, By(AuditAction::StaffAdd, "bob")),
              StaffWrite::Done);
    EXPECT_EQ(store->SetPassword("nobody", "h", By(AuditAction::StaffPasswd, "nobody")), StaffWrite::Missing);
    EXPECT_EQ(store->Disable("nobody", By(AuditAction::StaffDisable, "nobody")), StaffWrite::Missing);

    const auto a = Found(store->FindStaff("ann"));
    EXPECT_EQ(a.role, Role::Support);
    EXPECT_EQ(a.passwordHash, "$argon2id$x");
    EXPECT_EQ(a.createdAt, 50);
    EXPECT_FALSE(a.disabled);
    EXPECT_FALSE(store->FindStaff("carol")->has_value());

    // Sessions of ann: a new password ends them; bob's stay until bob is disabled.
    const Sessions::SessionRecord annSession{"h-ann", "ann", 1000, 1000}, bobSession{"h-bob", "bob", 1000, 1000};
    ASSERT_TRUE(store->StartSession(annSession, "", By(AuditAction::Login, "ann")));
    ASSERT_TRUE(store->StartSession(bobSession, "", By(AuditAction::Login, "bob")));
    EXPECT_EQ(store->SetPassword("ann", "$argon2id$new", By(AuditAction::StaffPasswd, "ann")), StaffWrite::Done);
    EXPECT_FALSE(store->FindSession("h-ann")->has_value());
    EXPECT_TRUE(store->FindSession("h-bob")->has_value());
    EXPECT_EQ(store->Disable("bob", By(AuditAction::StaffDisable, "bob")), StaffWrite::Done);
    EXPECT_FALSE(store->FindSession("h-bob")->has_value());

    const auto staff = *store->ListStaff();
    ASSERT_EQ(staff.size(), 2u);
    EXPECT_EQ(staff[0].name + staff[1].name, "annbob");
    EXPECT_EQ(staff[0].passwordHash, "$argon2id$new");
    EXPECT_TRUE(staff[1].disabled);

    std::string written;
    for (const auto& e : Audit()) written = std::string(AuditActionName(e.action)) + " " + e.subject + "," + written;
    EXPECT_EQ(written, "staff_add ann,staff_add bob,login ann,login bob,staff_passwd ann,staff_disable bob,");
}

TEST_F(StaffStoreTest, SessionsRotateTouchAndEnd) {
    ASSERT_EQ(store->AddStaff({"ann", Role::Admin, "h", false, 0}, By(AuditAction::StaffAdd, "ann")), StaffWrite::Done);
    ASSERT_TRUE(store->StartSession({"old", "ann", 1000, 1000}, "", By(AuditAction::Login, "ann")));
    // A login from the browser holding "old" ends it.
    ASSERT_TRUE(store->StartSession({"new", "ann", 2000, 2000}, "old", By(AuditAction::Login, "ann")));
    EXPECT_FALSE(store->FindSession("old")->has_value());
    const auto found = Found(store->FindSession("new"));
    EXPECT_EQ(found.session.createdAt, 2000);
    EXPECT_EQ(found.staff.role, Role::Admin);
    ASSERT_TRUE(store->TouchSession("new", 2500));
    ASSERT_TRUE(store->TouchSession("new", 2400));  // a slower instance never moves it back
    EXPECT_EQ(Found(store->FindSession("new")).session.lastSeenAt, 2500);

    // Ended by idleness, by age, or still live, right at the boundaries.
    const int64_t now = 100000;
    ASSERT_TRUE(store->StartSession({"idle", "ann", now - 2000, now - Sessions::kIdleSeconds}, "", By(AuditAction::Login, "ann")));
    ASSERT_TRUE(store->StartSession({"busy", "ann", now - 2000, now - Sessions::kIdleSeconds + 1}, "", By(AuditAction::Login, "ann")));
    ASSERT_TRUE(store->StartSession({"aged", "ann", now - Sessions::kAbsoluteSeconds, now}, "", By(AuditAction::Login, "ann")));
    EXPECT_EQ(store->EndSessionsOver(now), 3);  // idle, aged and "new"
    EXPECT_TRUE(store->FindSession("busy")->has_value());
    EXPECT_EQ(Sessions::Check(Found(store->FindSession("busy")).session, now), Sessions::SessionState::Live);
    ASSERT_TRUE(store->EndSession("busy", nullptr));
    EXPECT_FALSE(store->FindSession("busy")->has_value());
}

TEST_F(StaffStoreTest, AuditLogCannotBeRewritten) {
    ASSERT_TRUE(store->Append(By(AuditAction::Search, "player1")));
    database.Sql("UPDATE audit SET detail = 'changed'", true);
    database.Sql("DELETE FROM audit", true);
    if (CurrentBackend() == Backend::Postgres) database.Sql("TRUNCATE audit", true);
    const auto all = Audit();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].detail, "");
    EXPECT_EQ(all[0].subject, "player1");
}

TEST_F(StaffStoreTest, AuditFilterAgreesWithTheDomainsRule) {
    std::mt19937 random(3);
    const char* actors[] = {"ann", "bob", "token"};
    const char* subjects[] = {"player1", "mac:001122334455", "玩家一", ""};
    std::vector<AuditEntry> written;
    for (int i = 0; i < 80; ++i) {
        auto e = MakeAuditEntry(86400 * (random() % 5), actors[random() % 3], "198.51.100.7",
                                static_cast<AuditAction>(random() % kAuditActionCount), subjects[random() % 4],
                                random() % 2 ? "重复报名 farm" : "asked by mail");
        ASSERT_TRUE(store->Append(e));
        written.push_back(e);
    }
    const auto stored = Audit();
    ASSERT_EQ(stored.size(), written.size());
    for (size_t i = 0; i < stored.size(); ++i) {  // newest first, ids rising with the order of writing
        written[written.size() - 1 - i].id = stored[i].id;
        if (i) {
            ASSERT_LT(stored[i].id, stored[i - 1].id);
        }
    }
    std::vector<AuditFilter> filters(8);
    filters[1].actor = "bob";
    filters[2].action = AuditAction::Revoke;
    filters[3].subject = "玩家一";
    filters[4].text = "farm";
    filters[5].text = "mac:0011";
    filters[6].from = 86400;
    filters[6].until = 3 * 86400;
    filters[7].beforeId = stored[40].id;
    filters[7].actor = "ann";
    for (size_t f = 0; f < filters.size(); ++f) {
        SCOPED_TRACE(f);
        std::vector<int64_t> expected, got;
        for (auto it = written.rbegin(); it != written.rend(); ++it)
            if (Matches(filters[f], *it)) expected.push_back(it->id);
        for (const auto& e : Audit(filters[f])) got.push_back(e.id);
        EXPECT_EQ(got, expected);
        EXPECT_GT(expected.size(), 3u);  // every filter leaves something, and something out
        EXPECT_LT(expected.size(), f ? written.size() : written.size() + 1);
        if (expected.size() > 3) {
            got.clear();
            for (const auto& e : Audit(filters[f], 3)) got.push_back(e.id);
            EXPECT_EQ(got, std::vector<int64_t>(expected.begin(), expected.begin() + 3));
        }
    }
}

TEST_F(StaffStoreTest, CommandLineKeepsOnlyTheHashOfAPassword) {
    const std::string secret = "correct horse battery";
    const auto given = [&](const std::string& text) {
        return [text](bool confirm, std::string&) -> std::optional<std::string> {
            EXPECT_TRUE(confirm);
            return text;
        };
    };
    std::string error;
    std::ostringstream out, err;
    const auto run = [&](std::vector<std::string> args, const std::string& password) {
        args.insert(args.end(), {"--db", database.db});
        const auto command = ParseStaffCommand(args, error);
        EXPECT_TRUE(command) << error;
        return RunStaffCommand(*command, *store, given(password), "root", 500, out, err);
    };
    EXPECT_EQ(run({"add", "Ann", "--role", "admin"}, secret), 0);
    EXPECT_EQ(run({"add", "ann", "--role", "viewer"}, secret), 1);
    EXPECT_EQ(run({"passwd", "ann"}, "short"), 1);  // refused before anything is written
    EXPECT_EQ(run({"passwd", "zed"}, secret), 1);
    EXPECT_EQ(run({"list"}, ""), 0);
    EXPECT_NE(out.str().find("ann\tadmin\tactive\t1970-01-01 00:08 UTC\n"), std::string::npos) << out.str();

    const auto ann = Found(store->FindStaff("ann"));
    EXPECT_TRUE(Credentials::VerifyPassword(ann.passwordHash, secret));
    EXPECT_FALSE(Credentials::NeedsRehash(ann.passwordHash));
    EXPECT_EQ(database.Sql("SELECT count(*) FROM staff WHERE password_hash LIKE '%horse%'"), 0);
    EXPECT_EQ(database.Sql("SELECT count(*) FROM audit WHERE detail LIKE '%horse%' OR subject LIKE '%horse%'"), 0);
    const auto audit = Audit();
    ASSERT_EQ(audit.size(), 1u);  // the refusals changed nothing and recorded nothing
    EXPECT_EQ(audit[0].actor, "console");
    EXPECT_EQ(audit[0].detail, "by root, role admin");
    EXPECT_EQ(out.str().find(secret), std::string::npos);
    EXPECT_EQ(err.str().find(secret), std::string::npos);
}

// Reports through the real service, then the support desk's look-ups on the same database.
TEST(StaffStoreSupport, SearchAttemptsAndEnrolments) {
    ServiceFixture f;
    const auto post = [&](const std::string& account, const std::string& mac, const std::string& computer) {
        ReportFields r;
        r.account = account;
        r.mac = mac;
        r.computer = computer;
        f.ReportUtf8(Utf8Payload(r));
        f.now += 60;
    };
    post("player1", "00-11-22-33-44-55", "PC01");   // enrols
    post("Ｐlayer1", "00-11-22-33-44-66", "PC02");  // the same account in another spelling: refused
    post("player2", "00-11-22-33-44-55", "PC01");   // the same machine: refused
    post("player3", "0A-11-22-33-44-77", "pc-3");   // enrols
    f.service->Flush();
    std::string error;
    auto store = OpenStaffStore(f.Path(), error);
    ASSERT_TRUE(store) << error;

    const auto hits = [&](const std::string& typed) {
        std::string shown;
        const auto found = store->Search(MakeSupportQuery(typed));
        EXPECT_TRUE(found) << store->LastError();
        if (!found) return shown;
        for (const auto& h : *found)
            shown += h.accountKey + "@" + h.machineKey + (h.enrolled ? "*" : "") + " " + std::to_string(h.reports) + ";";
        return shown;
    };
    EXPECT_EQ(hits("  ＰＬＡＹＥＲ１ "), "player1@mac:001122334466 1;player1@mac:001122334455* 1;");
    EXPECT_EQ(hits("00:11:22:33:44:55"), "player2@mac:001122334455 1;player1@mac:001122334455* 1;");
    EXPECT_EQ(hits("001122.334455"), hits("00:11:22:33:44:55"));
    EXPECT_EQ(hits("PC-3"), hits("pc-3"));
    EXPECT_EQ(hits("pc-3"), "player3@mac:0A1122334477* 1;");
    const std::string everyone = hits("127.0.0.1");
    EXPECT_EQ(std::count(everyone.begin(), everyone.end(), ';'), 4);
    EXPECT_EQ(hits("nobody"), "");

    const auto account = *store->AccountAttempts("player1");
    ASSERT_EQ(account.reports.size(), 2u);
    EXPECT_EQ(account.reports[0].outcome + " " + account.reports[1].outcome, "success account_used");
    EXPECT_EQ(account.reports[1].report.account, "Ｐlayer1");
    ASSERT_TRUE(account.enrolment);
    EXPECT_EQ(account.enrolment->machineKey, "mac:001122334455");
    EXPECT_EQ(account.enrolment->report.computerName, "PC01");
    const auto machine = *store->MachineAttempts("mac:001122334455");
    ASSERT_EQ(machine.reports.size(), 2u);
    EXPECT_EQ(machine.reports[0].outcome + " " + machine.reports[1].outcome, "success machine_used");
    EXPECT_EQ(machine.enrolment->accountKey, "player1");
    EXPECT_FALSE(store->AccountAttempts("player2")->enrolment);

    const auto enrolments = *store->Enrolments();
    ASSERT_EQ(enrolments.size(), 2u);
    EXPECT_EQ(enrolments[0].macKey + " " + enrolments[1].macKey, "001122334455 0A1122334477");
    EXPECT_EQ(enrolments[1].report.clockMHz, 2993);
    EXPECT_EQ(enrolments[1].enrolledAt - enrolments[0].enrolledAt, 180);
    // The signals read these rows as they are: player3's MAC has the locally administered bit.
    const auto found = FindSuspicious(enrolments);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].kind, SignalKind::LocalMac);
    EXPECT_EQ(enrolments[found[0].rows[0]].accountKey, "player3");
}

// Support's changes to enrolments, through the storage interface on the database the service wrote: what each
// frees, withdraws and takes out of the figures, when a restore is refused, and what an erasure leaves.
TEST(StaffStoreSupport, RevokeRestoreAndErase) {
    ServiceFixture f;
    std::string error;
    ASSERT_TRUE(OpenStaffStore(f.Path(), error)) << error;  // the audit table
    const auto post = [&](const std::string& account, const std::string& mac) {
        ReportFields r;
        r.account = account;
        r.mac = mac;
        r.computer = "PC-" + account;
        f.ReportUtf8(Utf8Payload(r));
        f.now += 60;
        f.service->Flush();
    };
    // Enrolled machines, the machines the "os" share counts, and player1's points.
    const auto figures = [&] {
        const auto d = f.Dashboard();
        int64_t shared = 0;
        for (const auto& [label, n] : d->hardware.at("os")) shared += n;
        return std::to_string(d->enrolledMachines) + " " + std::to_string(shared) + " " +
               std::to_string(f.database.Sql("SELECT coalesce(sum(points), 0) FROM reports WHERE account_key = 'player1'"));
    };
    const auto by = [&](AuditAction action, const char* why = "") {
        return MakeAuditEntry(f.now, "ann", "198.51.100.7", action, "player1", why);
    };
    post("player1", "00-11-22-33-44-01");
    post("player2", "00-11-22-33-44-02");
    // A published wave chose player1: revoking withdraws the place, restoring gives it back.
    f.database.Sql("INSERT INTO waves(id, name, params, state, created_at) VALUES(1, 'w', '', 'published', 1)");
    f.database.Sql("INSERT INTO wave_chosen(account_key, wave_id, account, code) VALUES('player1', 1, 'player1', 'C1')");
    EXPECT_EQ(figures(), "2 2 20");

    auto& s = *f.store;
    EXPECT_EQ(s.Restore("player1", by(AuditAction::Restore)), EnrolmentChange::Missing);
    EXPECT_EQ(s.Revoke("player1", by(AuditAction::Revoke, "farm")), EnrolmentChange::Done);
    EXPECT_EQ(s.Revoke("player1", by(AuditAction::Revoke, "twice")), EnrolmentChange::Missing);
    EXPECT_EQ(figures(), "1 1 0");
    EXPECT_EQ(f.database.Sql("SELECT withdrawn_at FROM wave_chosen"), f.now.load());
    EXPECT_EQ(s.Revoked("player1"), std::optional<bool>(true));
    EXPECT_EQ(s.Restore("player1", by(AuditAction::Restore)), EnrolmentChange::Done);
    EXPECT_EQ(figures(), "2 2 20");
    EXPECT_EQ(f.database.Sql("SELECT withdrawn_at FROM wave_chosen"), 0);
    EXPECT_EQ(s.Revoked("player1"), std::optional<bool>(false));

    // Revoked, the account enrols from another machine: the old enrolment cannot come back.
    EXPECT_EQ(s.Revoke("player1", by(AuditAction::Revoke, "moved")), EnrolmentChange::Done);
    post("player1", "00-11-22-33-44-03");
    EXPECT_EQ(figures(), "2 2 20");
    EXPECT_EQ(s.Restore("player1", by(AuditAction::Restore)), EnrolmentChange::AccountTaken);
    // Revoked again, its machine enrols for another account: the newest revocation cannot come back either.
    EXPECT_EQ(s.Revoke("player1", by(AuditAction::Revoke, "sold")), EnrolmentChange::Done);
    post("player3", "00-11-22-33-44-03");
    EXPECT_EQ(s.Restore("player1", by(AuditAction::Restore)), EnrolmentChange::MachineTaken);
    EXPECT_EQ(figures(), "2 2 0");

    // Erased: nothing of the player's body, computer name or address is left; the counts stay.
    const auto before = f.Dashboard();
    EXPECT_EQ(s.Erase("nobody", by(AuditAction::Erase)), EnrolmentChange::Missing);
    EXPECT_EQ(s.Erase("player1", by(AuditAction::Erase)), EnrolmentChange::Done);
    EXPECT_EQ(f.database.Sql("SELECT count(*) FROM reports WHERE account_key = 'player1' AND (raw IS NOT NULL OR "
                             "computer_name <> '' OR remote <> '')"),
              0);
    EXPECT_EQ(f.database.Sql("SELECT count(*) FROM reports WHERE account_key = 'player1'"), 2);
    EXPECT_EQ(f.database.Sql("SELECT count(*) FROM reports WHERE raw IS NOT NULL"), 2);  // player2's, player3's
    const auto after = f.Dashboard();
    EXPECT_EQ(after->successes, before->successes);
    EXPECT_EQ(after->hardware, before->hardware);

    // Each change that happened, with its entry; the refused ones left none.
    auto store = OpenStaffStore(f.Path(), error);
    std::string log;
    AuditFilter filter;
    filter.subject = "player1";
    ASSERT_TRUE(store->ReadAudit(filter, 100, [&](const AuditEntry& e) {
        log = AuditActionName(e.action) + (e.detail.empty() ? "" : ":" + e.detail) + " " + log;
        return true;
    }));
    EXPECT_EQ(log, "revoke:farm restore revoke:moved revoke:sold erase ");

    // A wave's freeze lists the standing enrolments only, each once, however many parts read them.
    const auto eligible = [&] {
        std::vector<std::string> once;
        for (size_t parts = 1; parts <= 3; ++parts) {
            std::vector<std::vector<std::string>> part(parts);
            std::vector<MachineSink> sinks;
            for (auto& p : part) sinks.push_back([&p](const std::string& key, const Report&) { p.push_back(key); });
            EXPECT_TRUE(s.EligibleMachines(false, sinks));
            std::vector<std::string> keys;
            for (const auto& p : part) keys.insert(keys.end(), p.begin(), p.end());
            std::sort(keys.begin(), keys.end());
            if (parts == 1) once = keys;
            EXPECT_EQ(keys, once) << parts << " parts";
        }
        std::string joined;
        for (const auto& key : once) joined += key + ";";
        return joined;
    };
    EXPECT_EQ(eligible(), "player2;player3;");
    EXPECT_EQ(s.Revoke("player2", by(AuditAction::Revoke, "farm")), EnrolmentChange::Done);
    EXPECT_EQ(eligible(), "player3;");
}

}  // namespace
