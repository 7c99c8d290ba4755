// The request handling, without sockets: the rules, every reply as the checker shows it, registration,
// the admin pages and what they do with hostile text.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include "report/report_submit.h"
#include "text/text_encoding.h"
#include "service/pages/pages.h"
#include "service/domain/service_text.h"
#include "service_test_support.h"

namespace {

using namespace Service;

// What the checker's message box would show for this reply body.
std::string Shown(const std::string& body) {
    return TextEncoding::Utf16ToUtf8(ExtractReplyMessage(TextEncoding::Utf8ToUtf16(body)));
}

void ExpectReply(const HttpResponse& r, int status, const char* message) {
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.contentType, "application/json; charset=utf-8");
    EXPECT_EQ(Shown(r.body), message) << r.body;
    // Well-formed JSON with message as its last member, short enough for the checker's 256-unit buffer and
    // nothing that it would show as an escape.
    const auto doc = nlohmann::json::parse(r.body, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << r.body;
    EXPECT_EQ(doc.value("message", ""), message);
    EXPECT_EQ(r.body.rfind("\"message\":\""), r.body.find("\"message\":\""));
    EXPECT_EQ(r.body.substr(r.body.size() - 2), "\"}");
    EXPECT_LT(TextEncoding::Utf8ToUtf16(r.body).size(), 256u);
    EXPECT_EQ(r.body.find('\\'), std::string::npos);
}

struct Step {
    const char* label;
    ReportFields fields;
    const char* message;
};

ReportFields Fields(const std::string& account, const std::string& mac, const std::string& computer = "PC01") {
    ReportFields f;
    f.account = account;
    f.mac = mac;
    f.computer = computer;
    return f;
}

TEST(ReportRules, OneSuccessPerAccountAndPerMachine) {
    ServiceFixture fx;
    const Step steps[] = {
        {"first report", Fields("alice", "00-11-22-33-44-55"), Replies::kSuccess},
        {"same account, same machine", Fields("alice", "00-11-22-33-44-55"), Replies::kAccountUsed},
        {"other account, same machine", Fields("bob", "00-11-22-33-44-55"), Replies::kMachineUsed},
        {"same machine written differently", Fields("bob", "00:11:22:33:44:55"), Replies::kMachineUsed},
        {"same account, other machine", Fields("alice", "66-77-88-99-AA-BB"), Replies::kAccountUsed},
        {"other account, other machine", Fields("bob", "66-77-88-99-AA-BB"), Replies::kSuccess},
        {"no MAC: fingerprint", Fields("carol", "", "PC02"), Replies::kSuccess},
        {"no MAC, same fingerprint", Fields("dave", "", "PC02"), Replies::kMachineUsed},
        {"zero MAC counts as none", Fields("dave", "00-00-00-00-00-00", "PC02"), Replies::kMachineUsed},
        {"no MAC, other computer name", Fields("dave", "", "PC03"), Replies::kSuccess},
        {"a refused account tries again", Fields("bob", "CC-CC-CC-CC-CC-CC"), Replies::kAccountUsed},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.label);
        ExpectReply(fx.Report(CheckerPayload(s.fields)), 200, s.message);
    }
    const auto data = fx.Dashboard();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->successes, 4);
    EXPECT_EQ(data->accountUsed, 3);
    EXPECT_EQ(data->machineUsed, 4);
    EXPECT_EQ(data->enrolledMachines, 4);
    // The success reply carries the points, and so does the record.
    const auto doc = nlohmann::json::parse(fx.Report(CheckerPayload(Fields("erin", "12-12-12-12-12-12"))).body);
    EXPECT_EQ(doc["points"], kRewardPoints);
    const auto rows = fx.Reports();
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->back().outcome, "success");
    EXPECT_EQ(rows->back().points, kRewardPoints);
}

TEST(ReportRules, AnsiAndUtf8SpellingsAreOneAccount) {
    ServiceFixture fx;
    ExpectReply(fx.Report(CheckerPayload(Fields("\xCD\xE6\xBC\xD2\xD2\xBB", "00-11-22-33-44-55"))), 200,
                Replies::kSuccess);
    ExpectReply(fx.ReportUtf8(Utf8Payload(Fields("玩家一", "66-77-88-99-AA-BB"))), 200, Replies::kAccountUsed);
    const auto rows = fx.Reports();
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 2u);
    EXPECT_EQ((*rows)[0].report.account, "玩家一");
    // The raw body is kept as it came, in the code page it came in.
    EXPECT_EQ((*rows)[0].rawBody, CheckerPayload(Fields("\xCD\xE6\xBC\xD2\xD2\xBB", "00-11-22-33-44-55")));
}

TEST(ReportRules, MalformedReportsAreRefusedAndCounted) {
    ServiceFixture fx;
    std::string unescaped = CheckerPayload(Fields("pla\"yer", "00-11-22-33-44-55"));
    unescaped.erase(unescaped.find('\\'), 1);  // the quote as a sender that does not escape writes it
    ReportFields longCpu = Fields("long", "00-11-22-33-44-56");
    longCpu.cpu = std::string(2500, 'c');  // the checker's brand string has at most 48
    const std::string bodies[] = {"", "{", "[]", "{\"param\":[]}", unescaped,
                                  CheckerPayload(ReportFields{}).substr(0, 100), CheckerPayload(longCpu)};
    for (const auto& body : bodies) {
        SCOPED_TRACE(body);
        ExpectReply(fx.Report(body), 400, Replies::kMalformed);
    }
    const auto data = fx.Dashboard();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->malformed, 7);
    EXPECT_EQ(data->successes, 0);
    EXPECT_TRUE(fx.Reports()->empty());  // only accepted reports are exported
}

TEST(ReportRules, BodySizeBoundary) {
    ServiceFixture fx;
    // A well-formed report padded with blanks to exactly the limit is processed; one byte more is refused
    // unread.
    const std::string report = CheckerPayload(Fields("big", "00-11-22-33-44-55"));
    const std::string padded = report + std::string(kMaxReportBody - report.size(), ' ');
    ExpectReply(fx.Report(padded), 200, Replies::kSuccess);
    ASSERT_EQ(padded.size(), kMaxReportBody);
    ExpectReply(fx.Report(padded + " "), 413, Replies::kTooLarge);
    ExpectReply(ReportService::TooLarge(), 413, Replies::kTooLarge);
    EXPECT_EQ(fx.Dashboard()->successes, 1);
}

// A database that fails mid-way: the sender is told so, and nothing of the report stays behind.
TEST(ReportRules, NoAcknowledgementWithoutACommit) {
    ServiceFixture fx;
    fx.database.Sql("DROP TABLE enrolments");
    ExpectReply(fx.Report(CheckerPayload(ReportFields{})), 503, Replies::kServerError);
    EXPECT_EQ(fx.database.Sql("SELECT count(*) FROM reports"), 0);
}

TEST(ReportRules, OtherMethodsAndPaths) {
    ServiceFixture fx;
    ExpectReply(fx.Get(kReportPath), 405, Replies::kMalformed);
    EXPECT_EQ(fx.Get("/nothing").status, 404);
    EXPECT_EQ(fx.Post("/", "x").status, 404);
}

TEST(RequireRegistered, UnregisteredAccountsAreRefusedUntilRegistered) {
    ServiceFixture fx(/*requireRegistered=*/true);
    ExpectReply(fx.ReportUtf8(Utf8Payload(Fields("玩家一", "00-11-22-33-44-55"))), 200, Replies::kNotRegistered);
    EXPECT_EQ(fx.Post("/register", "account=%E7%8E%A9%E5%AE%B6%E4%B8%80").status, 200);
    // The refusal did not use up the machine.
    ExpectReply(fx.Report(CheckerPayload(Fields("\xCD\xE6\xBC\xD2\xD2\xBB", "00-11-22-33-44-55"))), 200,
                Replies::kSuccess);
    EXPECT_EQ(fx.Dashboard()->notRegistered, 1);
}

TEST(RequireRegistered, OffByDefault) {
    ServiceFixture fx;
    ExpectReply(fx.Report(CheckerPayload(Fields("nobody", "00-11-22-33-44-55"))), 200, Replies::kSuccess);
}

// Spellings a person would call the same are one account or one machine.
TEST(ReportRules, SpellingsOfOnePersonAndOneMachine) {
    ServiceFixture fx;
    const Step steps[] = {
        {"first report", Fields("Alice", "00-11-22-33-44-55"), Replies::kSuccess},
        {"full-width and upper case", Fields("ＡＬＩＣＥ", "66-77-88-99-AA-BB"), Replies::kAccountUsed},
        {"ideographic blank around, zero-width space inside", Fields("\u3000ali\u200Bce ", "66-77-88-99-AA-BB"),
         Replies::kAccountUsed},
        {"MAC in lower case without separators", Fields("bob", "001122334455"), Replies::kMachineUsed},
        {"MAC with dots", Fields("bob", "0011.2233.4455"), Replies::kMachineUsed},
        {"MAC left blank on a second try", Fields("bob", ""), Replies::kMachineUsed},
        {"MAC blank, computer name in other case", Fields("bob", "", "pc01"), Replies::kMachineUsed},
        {"all-F MAC is no MAC", Fields("bob", "FF-FF-FF-FF-FF-FF"), Replies::kMachineUsed},
        {"blank MAC, another computer", Fields("bob", "", "PC02"), Replies::kSuccess},
        {"another machine with the same fingerprint but its own MAC", Fields("carol", "0A-0B-0C-0D-0E-0F"),
         Replies::kSuccess},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.label);
        ExpectReply(fx.ReportUtf8(Utf8Payload(s.fields)), 200, s.message);
    }
    const auto rows = fx.Reports();
    ASSERT_TRUE(rows);
    EXPECT_EQ((*rows)[1].report.account, "ＡＬＩＣＥ");  // shown as sent
}

// The body is the checker's code page unless the request says UTF-8. These GBK bytes of a common name are
// also valid UTF-8: guessing read them as other characters and refused the registered player.
TEST(ReportRules, TheBodyIsTheCodePageUnlessDeclaredUtf8) {
    ServiceFixture fx(/*requireRegistered=*/true);
    const std::string gbk = "\xD6\xA3\xD0\xBB";  // 郑谢
    ASSERT_TRUE(ServiceText::IsValidUtf8(gbk));
    EXPECT_EQ(fx.Post("/register", "account=%E9%83%91%E8%B0%A2").status, 200);
    ExpectReply(fx.Report(CheckerPayload(Fields(gbk, "00-11-22-33-44-55"))), 200, Replies::kSuccess);
    ExpectReply(fx.ReportUtf8(Utf8Payload(Fields("郑谢", "66-77-88-99-AA-BB"))), 200, Replies::kAccountUsed);
    ExpectReply(fx.ReportUtf8(Utf8Payload(Fields("\xCD\xE6", "66-77-88-99-AA-BB"))), 400, Replies::kMalformed);
    EXPECT_EQ(fx.Reports()->front().report.account, "郑谢");
}

// A report declares its code page: Big5 bytes are read as Big5 (as GB18030 they are other characters),
// bytes not valid in the declared table are malformed, and a charset the service lacks is refused by name.
TEST(ReportRules, TheDeclaredCharsetReadsTheBody) {
    ServiceFixture fx;
    const std::string big5 = "\xBB\x4F\xC6\x57\xAA\xB1\xAE\x61";  // 臺灣玩家
    ExpectReply(fx.Post(kReportPath, CheckerPayload(Fields(big5, "00-11-22-33-44-55")), "Application/json; charset=Big5"),
                200, Replies::kSuccess);
    EXPECT_EQ(fx.Reports()->front().report.account, "臺灣玩家");
    ExpectReply(fx.Post(kReportPath, CheckerPayload(Fields("\xBB\xFF", "66-77-88-99-AA-BB")),
                        "Application/json; charset=Big5"),
                400, Replies::kMalformed);
    ExpectReply(fx.Post(kReportPath, CheckerPayload(Fields("player9", "66-77-88-99-AA-BC")),
                        "Application/json; charset=x-klingon"),
                415, Replies::kUnknownCharset);
    EXPECT_EQ(fx.Reports()->size(), 1u);
    EXPECT_EQ(fx.Dashboard()->malformed, 2);
}

TEST(ReportRules, NumbersOutsideSaneRangesAreMalformed) {
    ServiceFixture fx;
    struct Case {
        const char* label;
        int count, mhz;
        const char* memory;
        bool sane;
    } cases[] = {
        {"typical", 4, 3292, "8192", true},     {"nothing measured", 0, 0, "", true},
        {"largest", 4096, 32767, "67108864", true}, {"negative count", -1, 3000, "8192", false},
        {"too many processors", 4097, 3000, "8192", false}, {"negative clock", 4, -5, "8192", false},
        {"clock of 100 GHz", 4, 100001, "8192", false}, {"memory not a number", 4, 3000, "8 GB", false},
        {"negative memory", 4, 3000, "-1", false},   {"memory of 64 TiB and one MB", 4, 3000, "67108865", false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ++n;
        ReportFields f = Fields("n" + std::to_string(n), "00-11-22-33-44-" + std::to_string(10 + n));
        f.count = c.count;
        f.mhz = c.mhz;
        f.memory = c.memory;
        const auto r = fx.Report(CheckerPayload(f));
        if (c.sane) ExpectReply(r, 200, Replies::kSuccess);
        else ExpectReply(r, 400, Replies::kMalformed);
    }
}

// Junk is counted with a bounded sample; refused reports keep who and why, not their bodies.
TEST(BoundedStorage, JunkAndRefusalsCostBoundedSpace) {
    ServiceFixture fx;
    const std::string junk(15000, 'j');
    for (int i = 0; i < 300; ++i) fx.Report(junk + std::to_string(i));
    ReportFields refused = Fields("player1", "00-11-22-33-44-55");
    // As long as the checker can make it: ten adapters whose chip and name are 64 characters each.
    refused.displays.clear();
    for (int i = 0; i < 10; ++i)
        refused.displays += (i ? "|" : "") + std::string(64, 'c') + ";" + std::string(64, 'n') + ";1024;0";
    for (int i = 0; i < 50; ++i) {
        refused.mac = "00-11-22-33-44-" + std::to_string(10 + i);
        fx.Report(CheckerPayload(refused));  // the first succeeds, the rest are refused
    }
    const auto data = fx.Dashboard();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->malformed, 300);
    EXPECT_EQ(data->accountUsed, 49);
    const auto samples = fx.store->MalformedSamples();
    ASSERT_TRUE(samples);
    ASSERT_EQ(samples->size(), size_t(kMalformedSamples));
    EXPECT_EQ(samples->front().body, junk.substr(0, kMalformedSampleBytes));  // newest first
    size_t refusedBytes = 0;
    const auto rows = fx.Reports();  // kept: a range over *fx.Reports() would outlive the optional
    ASSERT_TRUE(rows);
    for (const auto& row : *rows)
        if (row.outcome != "success")
            refusedBytes += row.rawBody.size() + row.report.cpuName.size() + row.report.displays.size();
    EXPECT_LE(refusedBytes, 49u * 512);
}

struct RegisterCase {
    const char* label;
    std::string form;
    int status;
    std::string notice;  // a piece of the page's notice
};

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST(Register, AccountNamesAreCheckedAndUnique) {
    ServiceFixture fx;
    const std::string wan = "%E7%8E%A9";  // 玩
    const std::string emoji = "%F0%9F%98%80";  // two UTF-16 units
    const RegisterCase cases[] = {
        {"plain", "account=player1", 200, "注册成功：player1"},
        {"blanks trimmed, then a duplicate", "account=+player1+", 409, "已被注册"},
        {"chinese", "account=" + wan + "%E5%AE%B6", 200, "注册成功：玩家"},
        {"empty", "account=", 400, "请填写账号名"},
        {"only blanks", "account=+++", 400, "请填写账号名"},
        {"missing field", "name=x", 400, "请填写账号名"},
        {"64 ASCII characters", "account=" + std::string(64, 'b'), 200, "注册成功"},
        {"65 characters", "account=" + std::string(65, 'c'), 400, "太长"},
        {"64 chinese characters: the box holds them", "account=" + Repeat(wan, 64), 200, "注册成功"},
        {"65 chinese characters", "account=" + Repeat(wan, 65), 400, "太长"},
        {"32 emoji: 64 UTF-16 units, sent from a UTF-8 Windows", "account=" + Repeat(emoji, 32), 200, "注册成功"},
        {"33 emoji: 66 units, more than the box holds", "account=" + Repeat(emoji, 33), 400, "此账号名占 66 个"},
        {"not UTF-8", "account=%CD%E6", 400, "UTF-8"},
        {"control character", "account=a%01b", 400, "字符 U+0001 是控制字符"},
        {"a C1 control character", "account=a%C2%85b", 400, "字符 U+0085 是控制字符"},
        {"a private-use character", "account=a%EE%80%80", 400, "字符 U+E000 是自造字"},
        {"one beyond the planes' private use", "account=a%F3%B0%80%80", 400, "字符 U+F0000 是自造字"},
        {"a double quote: the checker escapes it", "account=a%22b", 200, "注册成功"},
        {"a backslash too", "account=a%5Cb", 200, "注册成功"},
        {"full-width spelling of a registered name", "account=%EF%BD%90layer1", 409, "已被注册"},
        {"upper case of a registered name", "account=PLAYER1", 409, "已被注册"},
        {"an invisible character inside", "account=play%E2%80%8Ber1", 409, "已被注册"},
        {"only invisible characters", "account=%E2%80%8B", 400, "不可见"},
        {"markup is a legal name", "account=%3Cscript%3Ex%3C%2Fscript%3E", 200, "注册成功"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto r = fx.Post("/register", c.form);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.body.find(ServiceText::HtmlEscape(c.notice)), std::string::npos) << r.body;
        EXPECT_EQ(r.body.find("<script>"), std::string::npos);
    }
    const auto accounts = fx.store->Accounts(1);
    ASSERT_TRUE(accounts);
    EXPECT_EQ(accounts->rows.size(), 8u);
}

TEST(Register, TheListIsForTheAdminOnly) {
    ServiceFixture fx;
    fx.Post("/register", "account=visible-only-to-admin");
    const auto open = fx.Get("/register");
    EXPECT_EQ(open.status, 200);
    EXPECT_NE(open.body.find("<form"), std::string::npos);
    EXPECT_EQ(open.body.find("visible-only-to-admin"), std::string::npos);
    const auto admin = fx.Get("/register", "secret-token");
    EXPECT_NE(admin.body.find("visible-only-to-admin"), std::string::npos);
}

struct AuthCase {
    const char* label;
    std::string header;
    std::string value;
    std::string query;
    bool admitted;
};

TEST(AdminPages, NeedTheToken) {
    ServiceFixture fx;
    const AuthCase cases[] = {
        {"nothing", "", "", "", false},
        {"wrong query token", "", "", "secret-tokeN", false},
        {"token prefix", "", "", "secret", false},
        {"query token", "", "", "secret-token", true},
        {"cookie", "cookie", "a=b; zorv_admin=secret-token", "", true},
        {"wrong cookie", "cookie", "zorv_admin=nope", "", false},
        {"header", "x-admin-token", "secret-token", "", true},
        {"bearer", "authorization", "Bearer secret-token", "", true},
        {"basic is not bearer", "authorization", "Basic secret-token", "", false},
    };
    for (const char* path : {"/", "/reports.csv"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(path) + " " + c.label);
            HttpRequest r;
            r.method = "GET";
            r.path = path;
            if (!c.header.empty()) r.headers.emplace(c.header, c.value);
            if (!c.query.empty()) r.query.emplace("token", c.query);
            const auto response = fx.service->HandleAndWait(r);
            EXPECT_EQ(response.status, c.admitted ? 200 : 401);
            const bool setsCookie = response.headers.count("Set-Cookie") > 0;
            EXPECT_EQ(setsCookie, c.admitted && !c.query.empty());
        }
    }
}

TEST(AdminPages, AnEmptyTokenAdmitsNobody) {
    ServiceFixture fx(false, "");
    HttpRequest r;
    r.method = "GET";
    r.path = "/";
    r.query.emplace("token", "");
    r.headers.emplace("x-admin-token", "");
    EXPECT_EQ(fx.service->HandleAndWait(r).status, 401);
}

// A quote and a script tag in every text the checker sends: kept as sent, harmless on every page.
TEST(HostileText, StoredIntactAndEscapedOnThePages) {
    ServiceFixture fx;
    const std::string evil = "x\"<script>alert(1)</script>";
    // Every free text carries it; the positions with a format of their own carry what the checker writes.
    const std::string shortEvil = evil.substr(0, 13);
    nlohmann::json param = {evil + "0", evil + "0", "00-11-22-33-44-55", evil + "3", 3, 3, "8192",
                            evil + ";" + evil + ";512;0", "1920 x 1080", evil + "9 64-Bit", shortEvil + "10",
                            "", "", ""};
    const std::string body = nlohmann::json{{"param", param}}.dump();
    ExpectReply(fx.Report(body), 200, Replies::kSuccess);
    fx.Post("/register", "account=%3Cscript%3Ealert(2)%3C%2Fscript%3E%22");

    const auto rows = fx.Reports();
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 1u);
    const Report& r = (*rows)[0].report;
    EXPECT_EQ(r.account, evil + "0");
    EXPECT_EQ(r.cpuName, evil + "3");
    EXPECT_EQ(r.memoryMB, "8192");
    EXPECT_EQ(r.displays, evil + ";" + evil + ";512;0");
    EXPECT_EQ(r.os, evil + "9 64-Bit");
    EXPECT_EQ(r.computerName, shortEvil + "10");
    EXPECT_EQ((*rows)[0].rawBody, body);

    for (const char* path : {"/", "/register"}) {
        SCOPED_TRACE(path);
        const auto page = fx.Get(path, "secret-token");
        EXPECT_EQ(page.status, 200);
        EXPECT_EQ(page.body.find("<script"), std::string::npos);
        EXPECT_EQ(page.body.find("x\"<"), std::string::npos);
        EXPECT_NE(page.body.find("&lt;script&gt;"), std::string::npos);
        ASSERT_TRUE(page.headers.count("Content-Security-Policy"));
        EXPECT_NE(page.headers.find("Content-Security-Policy")->second.find("default-src 'none'"), std::string::npos);
    }
    const auto dashboard = fx.Get("/", "secret-token").body;
    // The texts the dashboard shows: OS and chip, each escaped.
    EXPECT_NE(dashboard.find(ServiceText::HtmlEscape(evil + "9 64-Bit")), std::string::npos);
    EXPECT_NE(dashboard.find("<title>" + ServiceText::HtmlEscape(evil) + "："), std::string::npos);
    const auto csv = fx.Get("/reports.csv", "secret-token").body;
    EXPECT_NE(csv.find(ServiceText::CsvField(shortEvil + "10")), std::string::npos);
    EXPECT_NE(csv.find(ServiceText::CsvField(body)), std::string::npos);
}

TEST(ReportsCsv, EveryAcceptedReportWithAByteOrderMark) {
    ServiceFixture fx;
    fx.Report(CheckerPayload(Fields("\xCD\xE6\xBC\xD2", "00-11-22-33-44-55")));
    fx.Report(CheckerPayload(Fields("\xCD\xE6\xBC\xD2", "00-11-22-33-44-55")));
    fx.Report("not json");
    fx.Report(CheckerPayload(Fields("\xD2\xBB\xD2\xB5", "00-11-22-33-44-56")));  // 一业: also valid UTF-8
    ReportFields formula = Fields("=HYPERLINK(\x27x\x27)", "66-77-88-99-AA-BB");
    fx.Report(CheckerPayload(formula));
    const auto r = fx.Get("/reports.csv", "secret-token");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.contentType, "text/csv; charset=utf-8");
    EXPECT_EQ(r.body.substr(0, 3), "\xEF\xBB\xBF");
    size_t lines = 0;
    for (size_t p = 0; (p = r.body.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
    EXPECT_EQ(lines, 5u);  // header and four accepted reports; the malformed one is not exported
    EXPECT_NE(r.body.find(",success,20,\"玩家\","), std::string::npos);
    EXPECT_NE(r.body.find(",account_used,0,\"玩家\","), std::string::npos);
    EXPECT_NE(r.body.find("\"'=HYPERLINK('x')\""), std::string::npos);
    // The raw body of a code-page report is exported as UTF-8 text.
    EXPECT_NE(r.body.find("\"{\"\"param\"\":[\"\"玩家\"\""), std::string::npos);
    // Read as it was parsed, not as the UTF-8 its bytes also are.
    EXPECT_NE(r.body.find("\"{\"\"param\"\":[\"\"一业\"\""), std::string::npos);
}

TEST(Dashboard, ChartsAreSharesOfDistinctMachines) {
    ServiceFixture fx;
    ReportFields a = Fields("a", "00-00-00-00-00-01");
    a.cpu = "Intel(R) Core(TM) i5-4590 CPU @ 3.30GHz";
    a.displays = "GeForce GTX 960;NVIDIA GeForce GTX 960;2048;0|Intel HD;Intel(R) HD Graphics;512;0";
    ReportFields b = Fields("b", "00-00-00-00-00-02");
    b.cpu = "Intel(R) Core(TM) i7 CPU";
    b.displays = "GeForce GTX 960;NVIDIA GeForce GTX 960;4096;0";
    b.mhz = 3600;
    ReportFields c = Fields("c", "00-00-00-00-00-03");
    c.cpu = "AMD Ryzen 5 3600";
    c.displays = "";
    c.memory = "16384";
    for (const auto& f : {a, b, c}) fx.Report(CheckerPayload(f));
    fx.Report(CheckerPayload(Fields("a", "00-00-00-00-00-09")));  // refused: not a machine of the charts

    const auto data = fx.Dashboard();
    ASSERT_TRUE(data);
    const auto charts = HardwareCharts(data->hardware, data->enrolledMachines);
    auto find = [&](const std::string& titleStart, const std::string& label) -> int64_t {
        for (const auto& chart : charts) {
            if (chart.title.rfind(titleStart, 0) != 0) continue;
            EXPECT_EQ(chart.total, 3);
            for (const auto& bar : chart.bars)
                if (bar.label == label) return bar.count;
            return 0;
        }
        ADD_FAILURE() << "no chart " << titleStart;
        return -1;
    };
    EXPECT_EQ(find("CPU 厂商", "Intel"), 2);
    EXPECT_EQ(find("CPU 厂商", "AMD"), 1);
    EXPECT_EQ(find("CPU 核数", "4 核"), 3);
    EXPECT_EQ(find("CPU 主频", "2.8–3.2 GHz"), 2);
    EXPECT_EQ(find("CPU 主频", "3.6–4.0 GHz"), 1);
    EXPECT_EQ(find("内存", "5–8 GB"), 2);
    EXPECT_EQ(find("内存", "9–16 GB"), 1);
    EXPECT_EQ(find("显卡芯片", "GeForce GTX 960"), 2);
    EXPECT_EQ(find("显卡芯片", "Intel HD"), 1);
    EXPECT_EQ(find("显卡芯片", "（无）"), 1);
    EXPECT_EQ(find("显存", "1–2 GB"), 1);  // the larger of a machine's two adapters
    EXPECT_EQ(find("显存", "2–4 GB"), 1);
    EXPECT_EQ(find("显存", "未知"), 1);
    EXPECT_EQ(find("屏幕分辨率", "1920 x 1080"), 3);
    EXPECT_EQ(find("操作系统", "Windows 7 Professional 64-Bit"), 3);

    const auto page = fx.Get("/", "secret-token").body;
    EXPECT_NE(page.find("<title>Intel：2 台，66.7%</title>"), std::string::npos);
    EXPECT_NE(page.find("<title>AMD：1 台，33.3%</title>"), std::string::npos);
    EXPECT_NE(page.find("成功 3，拒绝 1，格式错误 0</title>"), std::string::npos);
    EXPECT_EQ(page.find("http://"), std::string::npos);  // nothing to fetch from anywhere
    EXPECT_EQ(page.find("https://"), std::string::npos);
}

TEST(Dashboard, TheLongTailFoldsIntoOneBar) {
    std::vector<Report> machines(20);
    for (size_t i = 0; i < machines.size(); ++i) machines[i].resolution = std::to_string(1000 + i) + " x 700";
    machines[0].resolution = machines[1].resolution = "1920 x 1080";
    const auto charts = HardwareCharts(machines);
    const Chart& screens = charts.back();
    ASSERT_EQ(screens.bars.size(), 12u);
    EXPECT_EQ(screens.bars.front().label, "1920 x 1080");
    EXPECT_EQ(screens.bars.front().count, 2);
    EXPECT_EQ(screens.bars.back().label, "其他");
    int64_t sum = 0;
    for (const auto& bar : screens.bars) sum += bar.count;
    EXPECT_EQ(sum, 20);
}

}  // namespace
