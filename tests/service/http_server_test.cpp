// The service on a real loopback socket (ephemeral port): the HTTP layer's own replies, many senders at
// once, and what the database keeps.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "report/report_submit.h"
#include "text/text_encoding.h"
#include "service/http_server.h"
#include "service_test_support.h"

namespace {

using namespace Service;

class LiveServer {
public:
    LiveServer(ServiceFixture& fx, bool bench = false) {
        ServerOptions options;
        options.port = 0;
        options.benchEndpoint = bench;
        options.log = [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(line);
        };
        m_server = std::make_unique<HttpServer>(*fx.service, options);
        port = m_server->Bind();
        EXPECT_GT(port, 0);
        m_thread = std::thread([this] { m_server->Run(); });
        for (int i = 0; i < 500 && !m_server->IsRunning(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~LiveServer() {
        m_server->Stop();
        m_thread.join();
    }
    // The library logs a request after its reply has gone out, so a client can be faster than the log:
    // wait (at most two seconds) for at least `atLeast` lines.
    std::vector<std::string> Lines(size_t atLeast = 0) {
        for (int i = 0; i < 200; ++i) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_lines.size() >= atLeast) return m_lines;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    httplib::Client Client() const {
        httplib::Client c("127.0.0.1", port);
        c.set_connection_timeout(5);
        c.set_read_timeout(20);
        return c;
    }
    int port = -1;

private:
    std::unique_ptr<HttpServer> m_server;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

std::string Shown(const std::string& body) {
    return TextEncoding::Utf16ToUtf8(ExtractReplyMessage(TextEncoding::Utf8ToUtf16(body)));
}

const httplib::Headers kCheckerHeaders = {{"Accept", "Application/json"}};

TEST(HttpLayer, TheCheckersRequestAndItsReply) {
    ServiceFixture fx;
    LiveServer live(fx);
    auto client = live.Client();
    const auto res = client.Post(kReportPath, kCheckerHeaders, CheckerPayload(ReportFields{}), "Application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(Shown(res->body), Replies::kSuccess);
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/json; charset=utf-8");
    const auto lines = live.Lines(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" 127.0.0.1 POST /act/score/pcinfo/add 200 "), std::string::npos) << lines[0];
}

TEST(HttpLayer, OversizedBodiesGetTheirMessage) {
    ServiceFixture fx;
    LiveServer live(fx);
    auto client = live.Client();
    for (size_t size : {kMaxReportBody + 1, size_t{1} << 20}) {
        SCOPED_TRACE(size);
        const auto res = client.Post(kReportPath, kCheckerHeaders, std::string(size, 'x'), "Application/json");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 413);
        EXPECT_EQ(Shown(res->body), Replies::kTooLarge);
    }
    // The token in a query never reaches the log.
    client.Get("/?token=secret-token");
    for (const auto& line : live.Lines(3)) EXPECT_EQ(line.find("secret-token"), std::string::npos) << line;
}

TEST(HttpLayer, TheBenchmarkEndpointOnlyWhenAskedAndNeverStores) {
    ServiceFixture fx;
    {
        LiveServer plain(fx);
        auto client = plain.Client();
        const auto res = client.Post("/bench/fixed", "{}", "application/json");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 404);
    }
    LiveServer bench(fx, true);
    auto client = bench.Client();
    const auto res = client.Post("/bench/fixed", CheckerPayload(ReportFields{}), "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(Shown(res->body), Replies::kSuccess);
    EXPECT_TRUE(fx.store->Reports()->empty());
}

// The same account from 64 senders at once (each on its own machine): exactly one success.
TEST(Concurrency, SixtyFourPostsOfOneAccount) {
    ServiceFixture fx;
    LiveServer live(fx);
    constexpr int kSenders = 64;
    std::atomic<int> ready{0}, successes{0}, accountUsed{0}, other{0};
    std::vector<std::thread> senders;
    for (int i = 0; i < kSenders; ++i) {
        senders.emplace_back([&, i] {
            auto client = live.Client();
            ReportFields f;
            f.account = "racer";
            char mac[32];
            std::snprintf(mac, sizeof mac, "00-11-22-33-44-%02X", i);
            f.mac = mac;
            ++ready;
            while (ready.load() < kSenders) std::this_thread::yield();
            const auto res = client.Post(kReportPath, kCheckerHeaders, CheckerPayload(f), "Application/json");
            if (!res || res->status != 200) ++other;
            else if (Shown(res->body) == Replies::kSuccess) ++successes;
            else if (Shown(res->body) == Replies::kAccountUsed) ++accountUsed;
            else ++other;
        });
    }
    for (auto& t : senders) t.join();
    EXPECT_EQ(successes.load(), 1);
    EXPECT_EQ(accountUsed.load(), kSenders - 1);
    EXPECT_EQ(other.load(), 0);
    const auto data = fx.store->Dashboard();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->successes, 1);
    EXPECT_EQ(data->machines.size(), 1u);
    EXPECT_EQ(data->accountUsed, kSenders - 1);
}

// And one machine under 64 accounts, straight into the store from 64 threads.
TEST(Concurrency, SixtyFourAccountsOnOneMachine) {
    ServiceFixture fx;
    constexpr int kSenders = 64;
    std::atomic<int> ready{0}, successes{0}, machineUsed{0}, failed{0};
    std::vector<std::thread> senders;
    for (int i = 0; i < kSenders; ++i) {
        senders.emplace_back([&, i] {
            Report r;
            r.account = "acct" + std::to_string(i);
            r.machineKey = "mac:AABBCCDDEEFF";
            ++ready;
            while (ready.load() < kSenders) std::this_thread::yield();
            const auto outcome = fx.store->Record(r, "{}", "127.0.0.1", false, 1);
            if (!outcome) ++failed;
            else if (*outcome == Outcome::Success) ++successes;
            else if (*outcome == Outcome::MachineUsed) ++machineUsed;
        });
    }
    for (auto& t : senders) t.join();
    EXPECT_EQ(successes.load(), 1);
    EXPECT_EQ(machineUsed.load(), kSenders - 1);
    EXPECT_EQ(failed.load(), 0);
}

int64_t Scalar(sqlite3* db, const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr), SQLITE_OK) << sql;
    int64_t value = -1;
    if (stmt && sqlite3_step(stmt) == SQLITE_ROW) value = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    return value;
}

TEST(Storage, SchemaWalAndRulesLiveInTheDatabase) {
    TempDir dir;
    const std::string path = dir.File("reports.db");
    {
        std::string error;
        auto store = Store::Open(path, error);
        ASSERT_TRUE(store) << error;
        Report r;
        r.account = "alice";
        r.machineKey = "mac:001122334455";
        EXPECT_EQ(store->Record(r, "raw", "127.0.0.1", false, 1), Outcome::Success);
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(Scalar(db, "SELECT count(*) FROM reports WHERE outcome = 'success' AND raw = CAST('raw' AS BLOB)"), 1);
    EXPECT_EQ(Scalar(db, "SELECT count(*) FROM pragma_index_list('enrolments') WHERE \"unique\" = 1"), 2);
    EXPECT_EQ(Scalar(db, "SELECT count(*) FROM pragma_index_list('accounts') WHERE \"unique\" = 1"), 1);
    sqlite3_stmt* mode = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &mode, nullptr);
    ASSERT_EQ(sqlite3_step(mode), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(mode, 0)), "wal");
    sqlite3_finalize(mode);
    // Anything writing to the file directly meets the same rules.
    EXPECT_NE(sqlite3_exec(db,
                           "INSERT INTO enrolments(account, machine_key, report_id, points, enrolled_at) "
                           "VALUES('alice', 'mac:999999999999', 1, 20, 1)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    // A second start finds the schema and the enrolment.
    std::string error;
    auto store = Store::Open(path, error);
    ASSERT_TRUE(store) << error;
    Report again;
    again.account = "alice";
    again.machineKey = "mac:999999999999";
    EXPECT_EQ(store->Record(again, "raw", "127.0.0.1", false, 2), Outcome::AccountUsed);
}

TEST(Storage, AnUnusableDatabaseIsReportedNotIgnored) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(Store::Open(dir.File("no/such/folder/reports.db"), error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
