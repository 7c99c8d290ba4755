// The staff pages' bodies: every changing form carries the CSRF token, nothing from outside is markup, the
// audit filter survives its own links.
#include <gtest/gtest.h>

#include "service/pages/staff_pages.h"
#include "service/http/form.h"

namespace {

using namespace Service;

const std::string kHostile = "\"'><script>alert(1)</script><img src=x onerror=alert(2)>&amp;";

// Every form in the HTML: whether it posts, and whether it carries the token.
void ExpectPostFormsCarry(const std::string& html, const std::string& csrf, size_t expectedForms) {
    size_t forms = 0;
    for (size_t at = html.find("<form"); at != std::string::npos; at = html.find("<form", at + 1)) {
        const std::string form = html.substr(at, html.find("</form>", at) - at);
        ++forms;
        ASSERT_NE(form.find("method=\"post\""), std::string::npos) << form;
        EXPECT_NE(form.find("<input type=\"hidden\" name=\"csrf\" value=\"" + csrf + "\">"), std::string::npos) << form;
    }
    EXPECT_EQ(forms, expectedForms);
}

TEST(StaffPages, EveryChangingFormCarriesTheToken) {
    const std::string csrf = "0123abcd";
    for (Role role : {Role::Viewer, Role::Support, Role::Admin})
        ExpectPostFormsCarry(StaffBar({Principal::Kind::Staff, "ann", role}, csrf), csrf, 1);
    ExpectPostFormsCarry(RevokeForm(csrf, "player1") + RestoreForm(csrf, "player1") + EraseForm(csrf, "player1", "Player1"),
                         csrf, 3);
    EXPECT_NE(RevokeForm(csrf, "player1").find("name=\"reason\" required"), std::string::npos);
    // The login has no session yet: it posts its name and password only.
    const std::string login = LoginBody("", "ann");
    EXPECT_NE(login.find("action=\"/login\""), std::string::npos);
    EXPECT_EQ(login.find("csrf"), std::string::npos);
}

TEST(StaffPages, NothingFromOutsideIsMarkup) {
    auto e = MakeAuditEntry(0, kHostile, kHostile, AuditAction::Revoke, kHostile, kHostile);
    AuditFilter f;
    f.actor = f.subject = f.text = kHostile;
    EnrolmentRow row;
    row.accountKey = row.machineKey = row.remote = row.report.account = row.report.mac = row.report.computerName = kHostile;
    const std::string pages[] = {
        AuditBody({e}, f), SuspiciousBody({{SignalKind::BusyAddress, kHostile, {0}}}, {row}), LoginBody(kHostile, kHostile),
        StaffBar({Principal::Kind::Staff, kHostile, Role::Admin}, kHostile), EraseForm(kHostile, kHostile, kHostile)};
    for (const auto& html : pages) {
        EXPECT_EQ(html.find("<script"), std::string::npos) << html;
        EXPECT_EQ(html.find("<img"), std::string::npos) << html;
        EXPECT_EQ(html.find("\"'>"), std::string::npos) << html;
    }
    const std::string list = SuspiciousBody({{SignalKind::LocalMac, "x", {0}}}, {row});
    EXPECT_NE(list.find("/account?key=%22%27%3E%3Cscript%3E"), std::string::npos) << list;
}

TEST(StaffPages, AuditFilterSurvivesItsLinks) {
    std::string problem;
    const auto f = ParseAuditFilter({{"actor", "ann"}, {"action", "erase"}, {"subject", "玩家 & co"},
                                     {"q", "a=b%c"}, {"from", "2026-12-01"}, {"until", "2026-12-08"}},
                                    problem);
    ASSERT_TRUE(f) << problem;
    const auto back = ParseAuditFilter(Http::DecodePairs(AuditQuery(*f)), problem);
    ASSERT_TRUE(back) << problem;
    EXPECT_EQ(AuditQuery(*back), AuditQuery(*f));
    EXPECT_EQ(back->subject, "玩家 & co");
    EXPECT_EQ(back->text, "a=b%c");
    EXPECT_EQ(back->until, f->until);
    EXPECT_EQ(back->action, AuditAction::Erase);

    std::vector<AuditEntry> page(kAuditPageSize, MakeAuditEntry(0, "ann", "", AuditAction::Search));
    for (size_t i = 0; i < page.size(); ++i) page[i].id = static_cast<int64_t>(1000 - i);
    EXPECT_NE(AuditBody(page, *f).find("before=901\">更早的记录"), std::string::npos);
    page.pop_back();
    EXPECT_EQ(AuditBody(page, *f).find("更早的记录"), std::string::npos);
}

TEST(StaffPages, SubjectPagesActOnlyForSupport) {
    SubjectPage page;
    page.key = "player1";
    EnrolmentRow e;
    e.accountKey = "player1";
    e.machineKey = "mac:001122334455";
    e.report.account = kHostile;
    page.attempts.enrolment = e;
    ReportRow refused;
    refused.outcome = "account_used";
    refused.report.computerName = kHostile;
    page.attempts.reports = {refused};
    page.history = {MakeAuditEntry(0, "ann", "", AuditAction::Search, "player1", kHostile)};
    // A viewer's page (no token) has no form at all; support's has revoke and erase, each with the token.
    EXPECT_EQ(SubjectBody(page).find("<form"), std::string::npos);
    page.csrf = "tok";
    const std::string html = SubjectBody(page);
    ExpectPostFormsCarry(html, "tok", 2);
    EXPECT_NE(html.find("action=\"/revoke\""), std::string::npos);
    EXPECT_NE(html.find("action=\"/erase\""), std::string::npos);
    EXPECT_EQ(html.find("<script"), std::string::npos);
    EXPECT_NE(html.find("/machine?key=mac%3A001122334455"), std::string::npos);
    // No enrolment: erase still (the player's data is there), restore only when it may come back, neither on a
    // machine page.
    page.attempts.enrolment.reset();
    EXPECT_EQ(SubjectBody(page).find("action=\"/restore\""), std::string::npos);
    ExpectPostFormsCarry(SubjectBody(page), "tok", 1);
    page.restorable = true;
    ExpectPostFormsCarry(SubjectBody(page), "tok", 2);
    page.machine = true;
    EXPECT_EQ(SubjectBody(page).find("<form"), std::string::npos);

    SearchHit hit;
    hit.accountKey = "a&b";
    hit.account = kHostile;
    const std::string found = SearchBody(kHostile, {hit});
    EXPECT_EQ(found.find("<script"), std::string::npos);
    EXPECT_NE(found.find("/account?key=a%26b"), std::string::npos);
    EXPECT_NE(SearchBody("x", {}).find("没有找到"), std::string::npos);
}

}  // namespace
