#include "service/store.h"

#include <utility>

namespace Service {

namespace {

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS reports(
  id INTEGER PRIMARY KEY,
  received_at INTEGER NOT NULL,
  remote TEXT NOT NULL,
  outcome TEXT NOT NULL,
  points INTEGER NOT NULL DEFAULT 0,
  account TEXT, mac TEXT, cpu_name TEXT, cpu_count INTEGER, clock_mhz INTEGER, memory_mb TEXT,
  displays TEXT, resolution TEXT, os TEXT, computer_name TEXT, machine_key TEXT,
  error TEXT,
  raw BLOB NOT NULL);
CREATE INDEX IF NOT EXISTS reports_by_time ON reports(received_at);
CREATE TABLE IF NOT EXISTS enrolments(
  account TEXT NOT NULL,
  machine_key TEXT NOT NULL,
  report_id INTEGER NOT NULL REFERENCES reports(id),
  points INTEGER NOT NULL,
  enrolled_at INTEGER NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS enrolments_one_per_account ON enrolments(account);
CREATE UNIQUE INDEX IF NOT EXISTS enrolments_one_per_machine ON enrolments(machine_key);
CREATE TABLE IF NOT EXISTS accounts(
  name TEXT NOT NULL,
  registered_at INTEGER NOT NULL,
  remote TEXT NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS accounts_by_name ON accounts(name);
)sql";

// One prepared statement, finalised with its owner.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return m_rc == SQLITE_OK && m_stmt; }
    Statement& Bind(int i, const std::string& v) {
        sqlite3_bind_text(m_stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int i, int64_t v) {
        sqlite3_bind_int64(m_stmt, i, v);
        return *this;
    }
    Statement& BindBlob(int i, std::string_view v) {
        sqlite3_bind_blob(m_stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    int Step() { return sqlite3_step(m_stmt); }
    std::string Text(int col) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, col));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(m_stmt, col))) : std::string();
    }
    std::string Blob(int col) const {
        const auto* p = static_cast<const char*>(sqlite3_column_blob(m_stmt, col));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(m_stmt, col))) : std::string();
    }
    int64_t Int(int col) const { return sqlite3_column_int64(m_stmt, col); }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc = SQLITE_ERROR;
};

// The report columns, in the order every query here selects them (account … machine_key), from `first` on.
Report ReadReport(Statement& q, int first) {
    Report r;
    r.account = q.Text(first);
    r.mac = q.Text(first + 1);
    r.cpuName = q.Text(first + 2);
    r.cpuCount = q.Int(first + 3);
    r.clockMHz = q.Int(first + 4);
    r.memoryMB = q.Text(first + 5);
    r.displays = q.Text(first + 6);
    r.resolution = q.Text(first + 7);
    r.os = q.Text(first + 8);
    r.computerName = q.Text(first + 9);
    r.machineKey = q.Text(first + 10);
    return r;
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Success: return "success";
    case Outcome::AccountUsed: return "account_used";
    case Outcome::MachineUsed: return "machine_used";
    case Outcome::NotRegistered: return "not_registered";
    }
    return "unknown";
}

std::unique_ptr<Store> Store::Open(const std::string& path, std::string& error) {
    std::unique_ptr<Store> store(new Store());
    if (sqlite3_open_v2(path.c_str(), &store->m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        error = store->m_db ? sqlite3_errmsg(store->m_db) : "out of memory";
        return nullptr;
    }
    sqlite3_busy_timeout(store->m_db, 5000);
    // FULL: a commit is on disk before the reply says so, even if the machine loses power afterwards.
    if (!store->Exec("PRAGMA journal_mode=WAL") || !store->Exec("PRAGMA synchronous=FULL") ||
        !store->Exec(kSchema)) {
        error = store->m_lastError;
        return nullptr;
    }
    Statement mode(store->m_db, "PRAGMA journal_mode");
    if (!mode.Ok() || mode.Step() != SQLITE_ROW || mode.Text(0) != "wal") {
        error = "the database cannot be put in WAL mode";
        return nullptr;
    }
    return store;
}

Store::~Store() {
    if (m_db) sqlite3_close_v2(m_db);
}

bool Store::Exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        m_lastError = message ? message : sqlite3_errmsg(m_db);
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool Store::Fail(const char* what) {
    m_lastError = std::string(what) + ": " + sqlite3_errmsg(m_db);
    if (!sqlite3_get_autocommit(m_db)) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

std::optional<Outcome> Store::Record(const Report& r, std::string_view rawBody, const std::string& remote,
                                     bool requireRegistered, int64_t now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!Exec("BEGIN IMMEDIATE")) {
        Fail("begin");
        return std::nullopt;
    }
    std::optional<Outcome> outcome;
    if (requireRegistered) {
        Statement q(m_db, "SELECT 1 FROM accounts WHERE name = ?");
        if (!q.Ok()) return Fail("registered?"), std::nullopt;
        q.Bind(1, r.account);
        const int rc = q.Step();
        if (rc == SQLITE_DONE) outcome = Outcome::NotRegistered;
        else if (rc != SQLITE_ROW) return Fail("registered?"), std::nullopt;
    }
    Statement insert(m_db,
                     "INSERT INTO reports(received_at, remote, outcome, account, mac, cpu_name, cpu_count, "
                     "clock_mhz, memory_mb, displays, resolution, os, computer_name, machine_key, raw) "
                     "VALUES(?,?,'pending',?,?,?,?,?,?,?,?,?,?,?,?)");
    if (!insert.Ok()) return Fail("insert report"), std::nullopt;
    insert.Bind(1, now).Bind(2, remote).Bind(3, r.account).Bind(4, r.mac).Bind(5, r.cpuName).Bind(6, r.cpuCount);
    insert.Bind(7, r.clockMHz).Bind(8, r.memoryMB).Bind(9, r.displays).Bind(10, r.resolution).Bind(11, r.os);
    insert.Bind(12, r.computerName).Bind(13, r.machineKey).BindBlob(14, rawBody);
    if (insert.Step() != SQLITE_DONE) return Fail("insert report"), std::nullopt;
    const int64_t id = sqlite3_last_insert_rowid(m_db);

    if (!outcome) {
        // The UNIQUE indexes decide: whatever else is running, only one enrolment per account and machine.
        Statement enrol(m_db,
                        "INSERT INTO enrolments(account, machine_key, report_id, points, enrolled_at) "
                        "VALUES(?,?,?,?,?)");
        if (!enrol.Ok()) return Fail("enrol"), std::nullopt;
        enrol.Bind(1, r.account).Bind(2, r.machineKey).Bind(3, id).Bind(4, int64_t{kRewardPoints}).Bind(5, now);
        const int rc = enrol.Step();
        if (rc == SQLITE_DONE) {
            outcome = Outcome::Success;
        } else if ((rc & 0xff) == SQLITE_CONSTRAINT) {
            Statement q(m_db, "SELECT 1 FROM enrolments WHERE account = ?");
            if (!q.Ok()) return Fail("account used?"), std::nullopt;
            q.Bind(1, r.account);
            const int qrc = q.Step();
            if (qrc == SQLITE_ROW) outcome = Outcome::AccountUsed;
            else if (qrc == SQLITE_DONE) outcome = Outcome::MachineUsed;
            else return Fail("account used?"), std::nullopt;
        } else {
            return Fail("enrol"), std::nullopt;
        }
    }
    Statement update(m_db, "UPDATE reports SET outcome = ?, points = ? WHERE id = ?");
    if (!update.Ok()) return Fail("outcome"), std::nullopt;
    update.Bind(1, std::string(OutcomeName(*outcome)))
        .Bind(2, int64_t{*outcome == Outcome::Success ? kRewardPoints : 0})
        .Bind(3, id);
    if (update.Step() != SQLITE_DONE) return Fail("outcome"), std::nullopt;
    if (!Exec("COMMIT")) return Fail("commit"), std::nullopt;
    return outcome;
}

bool Store::RecordMalformed(std::string_view rawBody, const std::string& remote, const std::string& reason,
                            int64_t now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement insert(m_db, "INSERT INTO reports(received_at, remote, outcome, error, raw) VALUES(?,?,'malformed',?,?)");
    if (!insert.Ok()) return Fail("insert malformed");
    insert.Bind(1, now).Bind(2, remote).Bind(3, reason).BindBlob(4, rawBody);
    if (insert.Step() != SQLITE_DONE) return Fail("insert malformed");
    return true;
}

Store::RegisterResult Store::Register(const std::string& account, const std::string& remote, int64_t now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement insert(m_db, "INSERT INTO accounts(name, registered_at, remote) VALUES(?,?,?)");
    if (!insert.Ok()) return Fail("register"), RegisterResult::Failed;
    insert.Bind(1, account).Bind(2, now).Bind(3, remote);
    const int rc = insert.Step();
    if (rc == SQLITE_DONE) return RegisterResult::Registered;
    if ((rc & 0xff) == SQLITE_CONSTRAINT) return RegisterResult::Duplicate;
    Fail("register");
    return RegisterResult::Failed;
}

std::optional<DashboardData> Store::Dashboard() {
    std::lock_guard<std::mutex> lock(m_mutex);
    DashboardData data;
    {
        Statement q(m_db, "SELECT outcome, count(*) FROM reports GROUP BY outcome");
        if (!q.Ok()) return Fail("totals"), std::nullopt;
        int rc;
        while ((rc = q.Step()) == SQLITE_ROW) {
            const std::string o = q.Text(0);
            const int64_t n = q.Int(1);
            if (o == "success") data.successes = n;
            else if (o == "account_used") data.accountUsed = n;
            else if (o == "machine_used") data.machineUsed = n;
            else if (o == "not_registered") data.notRegistered = n;
            else if (o == "malformed") data.malformed = n;
        }
        if (rc != SQLITE_DONE) return Fail("totals"), std::nullopt;
    }
    {
        Statement q(m_db, "SELECT min(received_at), max(received_at) FROM reports");
        if (!q.Ok() || q.Step() != SQLITE_ROW) return Fail("span"), std::nullopt;
        // Hours for a test that has just begun, days once it runs longer than two.
        data.bucketSeconds = q.Int(1) - q.Int(0) > 48 * 3600 ? 86400 : 3600;
    }
    {
        Statement q(m_db,
                    "SELECT received_at / ?1 * ?1 AS b, sum(outcome = 'success'), "
                    "sum(outcome IN ('account_used','machine_used','not_registered')), sum(outcome = 'malformed') "
                    "FROM reports GROUP BY b ORDER BY b");
        if (!q.Ok()) return Fail("timeline"), std::nullopt;
        q.Bind(1, data.bucketSeconds);
        int rc;
        while ((rc = q.Step()) == SQLITE_ROW) data.timeline.push_back({q.Int(0), q.Int(1), q.Int(2), q.Int(3)});
        if (rc != SQLITE_DONE) return Fail("timeline"), std::nullopt;
    }
    {
        Statement q(m_db,
                    "SELECT r.account, r.mac, r.cpu_name, r.cpu_count, r.clock_mhz, r.memory_mb, r.displays, "
                    "r.resolution, r.os, r.computer_name, r.machine_key "
                    "FROM enrolments e JOIN reports r ON r.id = e.report_id ORDER BY e.rowid");
        if (!q.Ok()) return Fail("machines"), std::nullopt;
        int rc;
        while ((rc = q.Step()) == SQLITE_ROW) {
            data.machines.push_back(ReadReport(q, 0));
        }
        if (rc != SQLITE_DONE) return Fail("machines"), std::nullopt;
    }
    {
        Statement q(m_db, "SELECT count(*) FROM accounts");
        if (!q.Ok() || q.Step() != SQLITE_ROW) return Fail("accounts"), std::nullopt;
        data.registeredAccounts = q.Int(0);
    }
    return data;
}

std::optional<std::vector<AccountRow>> Store::Accounts() {
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement q(m_db,
                "SELECT a.name, a.registered_at, e.account IS NOT NULL FROM accounts a "
                "LEFT JOIN enrolments e ON e.account = a.name ORDER BY a.rowid");
    if (!q.Ok()) return Fail("accounts"), std::nullopt;
    std::vector<AccountRow> rows;
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) rows.push_back({q.Text(0), q.Int(1), q.Int(2) != 0});
    if (rc != SQLITE_DONE) return Fail("accounts"), std::nullopt;
    return rows;
}

std::optional<std::vector<ReportRow>> Store::Reports() {
    std::lock_guard<std::mutex> lock(m_mutex);
    Statement q(m_db,
                "SELECT id, received_at, remote, outcome, points, account, mac, cpu_name, cpu_count, clock_mhz, "
                "memory_mb, displays, resolution, os, computer_name, machine_key, raw FROM reports "
                "WHERE outcome <> 'malformed' ORDER BY id");
    if (!q.Ok()) return Fail("reports"), std::nullopt;
    std::vector<ReportRow> rows;
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) {
        ReportRow row;
        row.id = q.Int(0);
        row.receivedAt = q.Int(1);
        row.remote = q.Text(2);
        row.outcome = q.Text(3);
        row.points = q.Int(4);
        row.report = ReadReport(q, 5);
        row.rawBody = q.Blob(16);
        rows.push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) return Fail("reports"), std::nullopt;
    return rows;
}

}  // namespace Service
