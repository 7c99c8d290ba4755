// The service on a real loopback socket (ephemeral port): the HTTP layer's own replies and limits, many
// senders at once, and what the database keeps.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "report/report_submit.h"
#include "text/text_encoding.h"
#include "service/http/http_server.h"
#include "service/storage/sqlite/sqlite_storage.h"
#include "service/domain/identity.h"
#include "service_test_support.h"

namespace {

using namespace Service;
using std::chrono::milliseconds;

class LiveServer {
public:
    explicit LiveServer(ServiceFixture& fx, ServerOptions options = {}) {
        options.port = 0;
        options.refusals = ReportRefusals();
        options.log = [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(line);
        };
        m_server = std::make_unique<HttpServer>(*fx.service, options);
        port = m_server->Bind();
        EXPECT_GT(port, 0);
        m_thread = std::thread([this] { m_server->Run(); });
        for (int i = 0; i < 500 && !m_server->IsRunning(); ++i) std::this_thread::sleep_for(milliseconds(10));
    }
    ~LiveServer() {
        m_server->Stop();
        m_thread.join();
    }
    // A request is logged as its reply goes out, so a client can be faster than the log: wait (at most two
    // seconds) for at least `atLeast` lines.
    std::vector<std::string> Lines(size_t atLeast = 0) {
        for (int i = 0; i < 200; ++i) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_lines.size() >= atLeast) return m_lines;
            }
            std::this_thread::sleep_for(milliseconds(10));
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    int port = -1;

private:
    std::unique_ptr<HttpServer> m_server;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

// A plain loopback socket, so a test can send exactly the bytes (and at the pace) it wants.
class Conn {
public:
    explicit Conn(int port) {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }
    ~Conn() { close(m_fd); }
    bool Send(const std::string& bytes) { return send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size()); }
    void CloseWrite() { shutdown(m_fd, SHUT_WR); }
    // Everything until a full reply (by Content-Length), the peer closes, or the time is up.
    std::string Read(milliseconds limit = milliseconds(5000)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        std::string data;
        for (;;) {
            const size_t head = data.find("\r\n\r\n");
            if (head != std::string::npos) {
                const size_t cl = data.find("Content-Length: ");
                if (cl != std::string::npos && cl < head && data.size() >= head + 4 + std::stoul(data.substr(cl + 16)))
                    return data;
            }
            const auto left = std::chrono::duration_cast<milliseconds>(end - std::chrono::steady_clock::now());
            pollfd p{m_fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return data;
            char buffer[4096];
            const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                closed = true;
                return data;
            }
            data.append(buffer, static_cast<size_t>(n));
        }
    }
    bool closed = false;

private:
    int m_fd = -1;
};

std::string Request(const std::string& path, const std::string& body, const std::string& extra = "") {
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: Application/json\r\n"
           "Content-Type: Application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra +
           "\r\n" + body;
}

int Status(const std::string& reply) { return reply.size() > 12 ? std::atoi(reply.c_str() + 9) : 0; }
std::string Body(const std::string& reply) {
    const size_t p = reply.find("\r\n\r\n");
    return p == std::string::npos ? "" : reply.substr(p + 4);
}
std::string Shown(const std::string& body) {
    return TextEncoding::Utf16ToUtf8(ExtractReplyMessage(TextEncoding::Utf8ToUtf16(body)));
}
// A JSON reply as the checker reads it: message last, status as expected.
void ExpectJson(const std::string& reply, int status, const char* message) {
    EXPECT_EQ(Status(reply), status) << reply;
    EXPECT_NE(reply.find("Content-Type: application/json; charset=utf-8"), std::string::npos) << reply;
    EXPECT_EQ(Shown(Body(reply)), message) << reply;
    EXPECT_EQ(Body(reply).substr(Body(reply).size() - 2), "\"}");
}

std::string Post(int port, const std::string& body, const std::string& extra = "") {
    Conn c(port);
    c.Send(Request(kReportPath, body, extra));
    return c.Read();
}

std::string Numbered(const char* prefix, int i) { return prefix + std::to_string(i); }
std::string Mac(int a, int b) {
    char mac[32];
    std::snprintf(mac, sizeof mac, "02-00-00-00-%02X-%02X", a & 255, b & 255);
    return mac;
}

TEST(HttpLayer, TheCheckersRequestAndItsReply) {
    ServiceFixture fx;
    LiveServer live(fx);
    ExpectJson(Post(live.port, CheckerPayload(ReportFields{})), 200, Replies::kSuccess);
    const auto lines = live.Lines(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" 127.0.0.1 POST /act/score/pcinfo/add 200 "), std::string::npos) << lines[0];
    // The export goes out in pieces as it is read.
    Conn conn(live.port);
    conn.Send("GET /reports.csv?token=secret-token HTTP/1.1\r\n\r\n");
    const std::string csv = conn.Read();
    EXPECT_EQ(Status(csv), 200);
    EXPECT_NE(csv.find("Transfer-Encoding: chunked"), std::string::npos);
    EXPECT_NE(csv.find(",success,20,\"player1\","), std::string::npos);
    EXPECT_NE(csv.find("\r\n0\r\n\r\n"), std::string::npos);  // and to its end
}

// What the HTTP layer refuses itself, each with the checker's kind of reply.
TEST(HttpLayer, RefusalsAreJsonWithTheMessageLast) {
    ServiceFixture fx;
    ServerOptions options;
    options.requestTimeout = milliseconds(400);
    LiveServer live(fx, options);
    const std::string report = CheckerPayload(ReportFields{});
    const std::string big(kMaxReportBody + 1, 'x');
    struct Case {
        const char* label;
        std::string bytes;
        int status;
        const char* message;
    } cases[] = {
        {"body over the limit", Request(kReportPath, big), 413, Replies::kTooLarge},
        {"declared 1 MiB, nothing sent", "POST / HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n", 413, Replies::kTooLarge},
        {"header over the limit", "GET / HTTP/1.1\r\nX: " + std::string(9000, 'h') + "\r\n\r\n", 413, Replies::kTooLarge},
        {"compressed body", Request(kReportPath, report, "Content-Encoding: gzip\r\n"), 415, Replies::kEncoding},
        {"deflate too", Request(kReportPath, report, "Content-Encoding: deflate\r\n"), 415, Replies::kEncoding},
        {"not HTTP", "HELLO\r\n\r\n", 400, Replies::kMalformed},
        {"request never finished", "POST " + std::string(kReportPath) + " HTTP/1.1\r\nContent-Le", 408, Replies::kTimeout},
        {"body never finished", Request(kReportPath, report).substr(0, 150), 408, Replies::kTimeout},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Conn conn(live.port);
        conn.Send(c.bytes);
        ExpectJson(conn.Read(), c.status, c.message);
    }
    EXPECT_EQ(fx.Dashboard()->successes, 0);
    // The token in a query never reaches the log, and control characters in a path are escaped.
    Conn admin(live.port);
    admin.Send("GET /?token=secret-token HTTP/1.1\r\n\r\nGET /a%0a\x1b[31m HTTP/1.1\r\n\r\n");
    admin.Read(milliseconds(500));
    for (const auto& line : live.Lines(10)) {
        EXPECT_EQ(line.find("secret-token"), std::string::npos) << line;
        EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
    }
}

// A chunked upload is refused as its bytes pass the limit, not after its (never coming) end.
TEST(HttpLayer, ChunkedOverTheLimitIsRefusedWhileArriving) {
    ServiceFixture fx;
    LiveServer live(fx);
    Conn conn(live.port);
    conn.Send("POST " + std::string(kReportPath) + " HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n");
    const std::string chunk = "1000\r\n" + std::string(0x1000, 'x') + "\r\n";
    for (int i = 0; i < 5; ++i) conn.Send(chunk);  // 20 KiB, and no last chunk
    ExpectJson(conn.Read(milliseconds(3000)), 413, Replies::kTooLarge);
}

// Slow and idle clients cost a socket each, not a thread: players are served while they hang on, and they are
// cut off by the whole-request deadline and the idle timeout.
TEST(HttpLayer, SlowAndIdleClientsDoNotStarvePlayers) {
    ServiceFixture fx;
    ServerOptions options;
    options.requestTimeout = milliseconds(3000);
    options.idleTimeout = milliseconds(500);
    LiveServer live(fx, options);
    constexpr int kSlow = 100;
    std::vector<std::unique_ptr<Conn>> slow, idle;
    for (int i = 0; i < kSlow; ++i) {
        slow.push_back(std::make_unique<Conn>(live.port));
        slow.back()->Send("POST / HTTP/1.1\r\n");
        idle.push_back(std::make_unique<Conn>(live.port));
        idle.back()->Send("GET /register HTTP/1.1\r\n\r\n");
    }
    for (auto& c : idle) EXPECT_EQ(Status(c->Read()), 200);
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 5; ++round) {
        // Each slow client trickles a byte; a per-read timeout would never fire.
        for (auto& c : slow) c->Send("X");
        ReportFields f;
        f.account = Numbered("player", round);
        f.mac = Mac(1, round);
        ExpectJson(Post(live.port, CheckerPayload(f)), 200, Replies::kSuccess);
        std::this_thread::sleep_for(milliseconds(200));
    }
    // Served while they hang on, long before their deadline would free anything.
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(2500));
    for (auto& c : slow) ExpectJson(c->Read(milliseconds(5000)), 408, Replies::kTimeout);
    for (auto& c : idle) {
        c->Read(milliseconds(3000));
        EXPECT_TRUE(c->closed);
    }
}

TEST(HttpLayer, CapsAndTheTokenBucket) {
    ServerOptions perAddress, total, rate;
    perAddress.maxPerAddress = 4;
    total.maxConnections = 3;
    rate.ratePerSecond = 0.001;
    rate.rateBurst = 5;
    const struct {
        const char* label;
        ServerOptions options;
        int allowed;  // of 6 connections, each sending one request
        int status;   // for the others: 0, closed without a reply
        const char* message;
    } cases[] = {
        {"connections per address", perAddress, 4, 503, Replies::kServerError},
        // Past the total cap the connections waiting longest for a header make room: the newest are served.
        {"connections in total", total, 3, 0, nullptr},
        {"requests per address", rate, 5, 429, Replies::kTooMany},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ServiceFixture fx;
        LiveServer live(fx, c.options);
        std::vector<std::unique_ptr<Conn>> held;
        for (int i = 0; i < 6; ++i) {
            held.push_back(std::make_unique<Conn>(live.port));
            std::this_thread::sleep_for(milliseconds(20));  // accepted in order
        }
        for (int i = 0; i < 6; ++i) {
            SCOPED_TRACE(i);
            held[size_t(i)]->Send("GET /register HTTP/1.1\r\n\r\n");
            const std::string reply = held[size_t(i)]->Read();
            if (c.status == 0) {
                EXPECT_EQ(Status(reply), i < 6 - c.allowed ? 0 : 200) << reply;
                if (i < 6 - c.allowed) {
                    EXPECT_TRUE(held[size_t(i)]->closed);
                }
            } else if (i < c.allowed) {
                EXPECT_EQ(Status(reply), 200);
            } else {
                ExpectJson(reply, c.status, c.message);
            }
        }
    }
}

// A client that stops sending once its request is out still gets the reply.
TEST(HttpLayer, AHalfClosedClientGetsItsReply) {
    ServiceFixture fx;
    LiveServer live(fx);
    Conn conn(live.port);
    conn.Send(Request(kReportPath, CheckerPayload(ReportFields{})));
    conn.CloseWrite();
    ExpectJson(conn.Read(), 200, Replies::kSuccess);
}

TEST(HttpLayer, TheBenchmarkEndpointOnlyWhenAskedAndNeverStores) {
    ServiceFixture fx;
    {
        LiveServer plain(fx);
        EXPECT_EQ(Status(Post(plain.port, "{}")), 400);  // at the report path: malformed
        Conn c(plain.port);
        c.Send(Request("/bench/fixed", "{}"));
        EXPECT_EQ(Status(c.Read()), 404);
    }
    ServerOptions options;
    options.benchReply = BenchReply();
    LiveServer bench(fx, options);
    Conn c(bench.port);
    c.Send(Request("/bench/fixed", CheckerPayload(ReportFields{})));
    ExpectJson(c.Read(), 200, Replies::kSuccess);
    EXPECT_TRUE(fx.Reports()->empty());
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
            ReportFields f;
            f.account = "racer";
            f.mac = Mac(0x44, i);
            Conn c(live.port);
            ++ready;
            while (ready.load() < kSenders) std::this_thread::yield();
            c.Send(Request(kReportPath, CheckerPayload(f)));
            const std::string reply = c.Read(milliseconds(20000));
            if (Status(reply) != 200) ++other;
            else if (Shown(Body(reply)) == Replies::kSuccess) ++successes;
            else if (Shown(Body(reply)) == Replies::kAccountUsed) ++accountUsed;
            else ++other;
        });
    }
    for (auto& t : senders) t.join();
    EXPECT_EQ(successes.load(), 1);
    EXPECT_EQ(accountUsed.load(), kSenders - 1);
    EXPECT_EQ(other.load(), 0);
    const auto data = fx.Dashboard();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->successes, 1);
    EXPECT_EQ(data->enrolledMachines, 1);
    EXPECT_EQ(data->accountUsed, kSenders - 1);
}

PendingReport Pending(const std::string& account, const std::string& mac) {
    Report r;
    r.account = account;
    r.mac = mac;
    return Prepare(r, "raw", "127.0.0.1", 1);
}

std::optional<Outcome> ApplyOne(Storage& store, PendingReport p) {
    Batch batch;
    batch.reports.push_back(std::move(p));
    const auto outcomes = store.Apply(batch);
    if (!outcomes || outcomes->size() != 1) return std::nullopt;
    return outcomes->front();
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
    SQLITE_ONLY();
    TempDir dir;
    const std::string path = dir.File("reports.db");
    {
        auto store = OpenStorage(path);
        ASSERT_TRUE(store);
        EXPECT_EQ(ApplyOne(*store, Pending("alice", "001122334455")), Outcome::Success);
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(Scalar(db, "SELECT count(*) FROM reports WHERE outcome = 'success' AND raw = CAST('raw' AS BLOB)"), 1);
    EXPECT_EQ(Scalar(db, "SELECT version FROM schema_version"), kSchemaVersion);
    EXPECT_EQ(Scalar(db, "SELECT count(*) FROM pragma_index_list('enrolments') WHERE \"unique\" = 1"), 2);
    EXPECT_EQ(Scalar(db, "SELECT count(*) FROM pragma_index_list('accounts') WHERE \"unique\" = 1"), 1);
    sqlite3_stmt* mode = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &mode, nullptr);
    ASSERT_EQ(sqlite3_step(mode), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(mode, 0)), "wal");
    sqlite3_finalize(mode);
    // Anything writing to the file directly meets the same rules.
    EXPECT_NE(sqlite3_exec(db,
                           "INSERT INTO enrolments(account, account_key, machine_key, fingerprint, report_id, points, "
                           "enrolled_at) VALUES('Alice', 'alice', 'mac:999999999999', '', 1, 20, 1)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);

    // A second start finds the schema and the enrolment.
    auto store = OpenStorage(path);
    ASSERT_TRUE(store);
    EXPECT_EQ(ApplyOne(*store, Pending("alice", "999999999999")), Outcome::AccountUsed);
}

// What the database itself keeps, whichever the backend: the rules against anything writing to it directly,
// and its schema version, which a program older than the database refuses.
TEST(Storage, TheDatabaseKeepsTheRulesAndItsVersion) {
    TempDir dir;
    const TestDatabase database(CurrentBackend(), dir.File("reports.db"));
    {
        auto store = OpenStorage(database.db);
        ASSERT_TRUE(store);
        EXPECT_EQ(ApplyOne(*store, Pending("alice", "001122334455")), Outcome::Success);
    }
    EXPECT_EQ(database.Sql("SELECT count(*) FROM reports WHERE outcome = 'success' AND length(raw) = 3"), 1);
    EXPECT_EQ(database.Sql("SELECT version FROM schema_version"), kSchemaVersion);
    for (const std::string keys : {"'alice', 'mac:999999999999'", "'bob', 'mac:001122334455'"}) {
        SCOPED_TRACE(keys);
        EXPECT_LT(database.Sql("INSERT INTO enrolments(account, account_key, machine_key, fingerprint, report_id, "
                               "points, enrolled_at) VALUES('x', " + keys + ", '', 1, 20, 1)",
                               /*mayFail=*/true),
                  0);
    }
    database.Sql("UPDATE schema_version SET version = version + 1");
    std::string error;
    EXPECT_FALSE(Service::OpenStorage(database.db, error));
    EXPECT_NE(error.find("newer"), std::string::npos) << error;
}

TEST(Storage, AnUnusableDatabaseIsReportedNotIgnored) {
    SQLITE_ONLY();
    TempDir dir;
    std::string error;
    EXPECT_FALSE(OpenSqliteStorage(dir.File("no/such/folder/reports.db"), error));
    EXPECT_FALSE(error.empty());
}

// Below the free-space floor nothing is written and the reason is given; with room again, writes go on.
TEST(Storage, BelowTheFreeSpaceFloorNothingIsWritten) {
    SQLITE_ONLY();
    TempDir dir;
    auto store = OpenStorage(dir.File("reports.db"));
    ASSERT_TRUE(store);
    store->SetFreeSpaceFloor(uint64_t{1} << 62);  // more than any disk has
    EXPECT_FALSE(store->Healthy());
    EXPECT_NE(store->LastError().find("below the floor"), std::string::npos) << store->LastError();
    Batch batch;
    batch.reports.push_back(Pending("alice", "001122334455"));
    EXPECT_FALSE(store->Apply(batch));
    EXPECT_EQ(store->Register("bob", "bob", "127.0.0.1", 1), RegisterResult::Failed);
    store->SetFreeSpaceFloor(1);
    EXPECT_TRUE(store->Healthy());
    EXPECT_EQ(ApplyOne(*store, Pending("alice", "001122334455")), Outcome::Success);
}

// A database of the first version (no version table, keys as sent, every body kept) moves to the current one.
TEST(Storage, TheFirstVersionIsMigrated) {
    TempDir dir;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dir.File("reports.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, R"sql(
CREATE TABLE reports(id INTEGER PRIMARY KEY, received_at INTEGER NOT NULL, remote TEXT NOT NULL,
  outcome TEXT NOT NULL, points INTEGER NOT NULL DEFAULT 0, account TEXT, mac TEXT, cpu_name TEXT,
  cpu_count INTEGER, clock_mhz INTEGER, memory_mb TEXT, displays TEXT, resolution TEXT, os TEXT,
  computer_name TEXT, machine_key TEXT, error TEXT, raw BLOB NOT NULL);
CREATE TABLE enrolments(account TEXT NOT NULL, machine_key TEXT NOT NULL, report_id INTEGER NOT NULL,
  points INTEGER NOT NULL, enrolled_at INTEGER NOT NULL);
CREATE UNIQUE INDEX enrolments_one_per_account ON enrolments(account);
CREATE UNIQUE INDEX enrolments_one_per_machine ON enrolments(machine_key);
CREATE TABLE accounts(name TEXT NOT NULL, registered_at INTEGER NOT NULL, remote TEXT NOT NULL);
CREATE UNIQUE INDEX accounts_by_name ON accounts(name);
INSERT INTO reports VALUES(1, 7200, 'r', 'success', 20, 'Alice', '00-11-22-33-44-55', 'CPU', 4, 3000, '8192',
  'Chip;Name;1024;0', '1920 x 1080', 'Win', 'PC1', 'mac:001122334455', NULL, 'body1');
INSERT INTO reports VALUES(2, 7300, 'r', 'account_used', 0, 'Alice', '', 'CPU', 4, 3000, '8192', '', '', '',
  'PC9', 'fp:x', NULL, 'body2');
INSERT INTO reports VALUES(3, 7400, 'r', 'malformed', 0, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL,
  NULL, NULL, 'not JSON', 'junk');
INSERT INTO enrolments VALUES('Alice', 'mac:001122334455', 1, 20, 7200);
INSERT INTO accounts VALUES('Carol', 7000, 'r');
)sql", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    auto store = OpenStorage(dir.File("reports.db"));
    ASSERT_TRUE(store);
    const auto data = store->Dashboard();
    ASSERT_TRUE(data);
    EXPECT_EQ(data->successes, 1);
    EXPECT_EQ(data->accountUsed, 1);
    EXPECT_EQ(data->malformed, 1);
    EXPECT_EQ(data->registeredAccounts, 1);
    EXPECT_EQ(data->hardware.at("vendor").begin()->second, 1);
    EXPECT_EQ(store->MalformedSamples()->front().body, "junk");
    PendingReport blank = Pending("alice", "");
    blank.report.account = "alice";
    Report machine;
    machine.cpuName = "CPU";
    machine.displays = "Chip;Name;1024;0";
    machine.computerName = "pc1";
    blank.fingerprint = Identity::Fingerprint(machine);
    blank.report.machineKey = Identity::MachineKey("", blank.fingerprint);
    EXPECT_EQ(ApplyOne(*store, blank), Outcome::AccountUsed);  // the key of "Alice"
    blank.accountKey = "dave";
    EXPECT_EQ(ApplyOne(*store, blank), Outcome::MachineUsed);  // the fingerprint of Alice's machine
    EXPECT_EQ(store->Register("CAROL", "carol", "r", 1), RegisterResult::Duplicate);
}

// 64 accounts on one machine, each from its own connection: the UNIQUE index decides, not the program.
TEST(Storage, SixtyFourConnectionsOneMachine) {
    TempDir dir;
    const TestDatabase database(CurrentBackend(), dir.File("reports.db"));
    OpenStorage(database.db);
    constexpr int kSenders = 64;
    std::atomic<int> ready{0}, successes{0}, machineUsed{0}, failed{0};
    std::vector<std::thread> senders;
    for (int i = 0; i < kSenders; ++i) {
        senders.emplace_back([&, i] {
            auto store = OpenStorage(database.db);
            ++ready;
            while (ready.load() < kSenders) std::this_thread::yield();
            const auto outcome = store ? ApplyOne(*store, Pending("acct" + std::to_string(i), "AABBCCDDEEFF"))
                                       : std::nullopt;
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

}  // namespace
