// The audit entry: bounded, valid text; the admin page's filter; the CSV an admin opens.
#include <gtest/gtest.h>

#include <ctime>
#include <set>

#include "service/domain/audit.h"
#include "service/pages/audit_csv.h"

namespace {

using namespace Service;

TEST(Audit, ActionNamesAreDistinctAndReadBack) {
    std::set<std::string> names;
    for (int i = 0; i < kAuditActionCount; ++i) {
        const auto action = static_cast<AuditAction>(i);
        EXPECT_TRUE(names.insert(AuditActionName(action)).second) << AuditActionName(action);
        EXPECT_EQ(ParseAuditAction(AuditActionName(action)), action);
    }
    EXPECT_FALSE(ParseAuditAction("Login"));
}

TEST(Audit, TextsAreCutBetweenCharactersAndMadeValid) {
    // 1023 bytes of ASCII and a three-byte character: the character does not fit and is left out whole.
    const std::string detail = std::string(1023, 'r') + "撤";
    auto e = MakeAuditEntry(1, "ann", "198.51.100.7", AuditAction::Revoke, "player1", detail);
    EXPECT_EQ(e.detail, std::string(1023, 'r'));
    e = MakeAuditEntry(1, "ann", "", AuditAction::Search, std::string("a\0b\x01\tc\nd\xFF\xC3", 10));
    EXPECT_EQ(e.subject, "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\tc\nd\xEF\xBF\xBD\xEF\xBF\xBD");
    e = MakeAuditEntry(1, "ann", "", AuditAction::Search, "\xED\xA0\x80\xF4\x90\x80\x80\xC0\xAF玩家");
    EXPECT_EQ(e.subject.substr(e.subject.size() - 6), "玩家");
    EXPECT_EQ(e.subject.find('\xED'), std::string::npos);
    EXPECT_EQ(MakeAuditEntry(1, std::string(300, 'a'), "", AuditAction::Login).actor.size(), kMaxAuditSubject);
}

TEST(Audit, DatesAgreeWithTheSystemCalendarEveryDay) {
    for (int64_t day = 0; day < 60000; ++day) {  // 1970 to 2134
        const time_t t = static_cast<time_t>(day * 86400);
        struct tm tm {};
        gmtime_r(&t, &tm);
        char text[16];
        std::strftime(text, sizeof text, "%Y-%m-%d", &tm);
        ASSERT_EQ(ParseUtcDate(text), day * 86400) << text;
    }
    for (const char* bad : {"2026-02-29", "2024-02-30", "2100-02-29", "2026-13-01", "2026-00-10", "2026-1-01",
                            "1969-12-31", "2026/01/01", "２０２６-01-01", ""})
        EXPECT_FALSE(ParseUtcDate(bad)) << bad;
    EXPECT_TRUE(ParseUtcDate("2000-02-29"));
}

TEST(Audit, FilterFromTheQueryAndWhatItMatches) {
    std::string problem;
    const auto f = ParseAuditFilter(
        {{"actor", "ann"}, {"action", "revoke"}, {"from", "2026-12-01"}, {"until", "2026-12-01"}, {"q", "重复"}},
        problem);
    ASSERT_TRUE(f) << problem;
    const int64_t day = *ParseUtcDate("2026-12-01");
    auto e = MakeAuditEntry(day, "ann", "", AuditAction::Revoke, "player1", "重复报名");
    e.id = 7;
    EXPECT_TRUE(Matches(*f, e));
    auto other = e;
    other.at = day + 86400;  // until takes its day in, not the next
    EXPECT_FALSE(Matches(*f, other));
    other = e;
    other.actor = "Ann";
    EXPECT_FALSE(Matches(*f, other));
    other = e;
    other.action = AuditAction::Restore;
    EXPECT_FALSE(Matches(*f, other));
    other = e;
    other.detail = "farm";
    EXPECT_FALSE(Matches(*f, other));
    AuditFilter paging;
    paging.beforeId = 7;
    EXPECT_FALSE(Matches(paging, e));
    paging.beforeId = 8;
    EXPECT_TRUE(Matches(paging, e));

    for (const auto& bad : std::vector<std::pair<std::string, std::string>>{
             {"action", "drop"}, {"from", "yesterday"}, {"before", "-1"}, {"before", "99999999999999999999"}}) {
        problem.clear();
        EXPECT_FALSE(ParseAuditFilter({bad}, problem)) << bad.first << "=" << bad.second;
        EXPECT_FALSE(problem.empty());
    }
    EXPECT_FALSE(ParseAuditFilter({{"from", "2026-12-02"}, {"until", "2026-12-01"}}, problem));
    EXPECT_TRUE(ParseAuditFilter({{"action", ""}, {"unknown", "x"}}, problem));
}

TEST(Audit, CsvLines) {
    EXPECT_EQ(AuditCsvHeader(), "\xEF\xBB\xBFid,at_utc,actor,remote,action,subject,detail\r\n");
    auto e = MakeAuditEntry(1796000000, "ann", "198.51.100.7", AuditAction::Revoke, "=cmd|' /C calc'!A0",
                            "他说 \"不是我\"\n第二行");
    e.id = 42;
    EXPECT_EQ(AuditCsvLine(e), "42,2026-11-30 00:53:20,\"ann\",\"198.51.100.7\",revoke,\"'=cmd|' /C calc'!A0\","
                               "\"他说 \"\"不是我\"\"\n第二行\"\r\n");
}

}  // namespace
