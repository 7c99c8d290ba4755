// The SQLite backend: WAL, synchronous=FULL, one transaction per batch, the rules as UNIQUE indexes and the
// dashboard's figures kept in small tables updated in the same transaction as the reports they count.
#include <sqlite3.h>
#include <sys/stat.h>

#include <array>
#include <map>
#include <utility>

#include "service/domain/identity.h"
#include "service/pages/pages.h"
#include "service/storage/storage.h"

namespace Service {

namespace {

const char* const kSchema = R"sql(
CREATE TABLE schema_version(version INTEGER NOT NULL);
CREATE TABLE reports(
  id INTEGER PRIMARY KEY,
  received_at INTEGER NOT NULL,
  remote TEXT NOT NULL,
  outcome TEXT NOT NULL,
  points INTEGER NOT NULL DEFAULT 0,
  account TEXT NOT NULL, account_key TEXT NOT NULL, mac TEXT, cpu_name TEXT, cpu_count INTEGER,
  clock_mhz INTEGER, memory_mb TEXT, displays TEXT, resolution TEXT, os TEXT, computer_name TEXT,
  machine_key TEXT,
  raw BLOB);
CREATE TABLE enrolments(
  account TEXT NOT NULL,
  account_key TEXT NOT NULL,
  machine_key TEXT NOT NULL,
  fingerprint TEXT NOT NULL,
  report_id INTEGER NOT NULL REFERENCES reports(id),
  points INTEGER NOT NULL,
  enrolled_at INTEGER NOT NULL);
CREATE UNIQUE INDEX enrolments_one_per_account ON enrolments(account_key);
CREATE UNIQUE INDEX enrolments_one_per_machine ON enrolments(machine_key);
CREATE INDEX enrolments_by_fingerprint ON enrolments(fingerprint);
CREATE TABLE accounts(
  name TEXT NOT NULL,
  account_key TEXT NOT NULL,
  registered_at INTEGER NOT NULL,
  remote TEXT NOT NULL);
CREATE UNIQUE INDEX accounts_by_key ON accounts(account_key);
CREATE TABLE malformed_samples(
  id INTEGER PRIMARY KEY, received_at INTEGER NOT NULL, remote TEXT NOT NULL, reason TEXT NOT NULL, body BLOB NOT NULL);
CREATE TABLE outcome_counts(outcome TEXT PRIMARY KEY, n INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE timeline(hour INTEGER PRIMARY KEY, successes INTEGER NOT NULL DEFAULT 0,
  refusals INTEGER NOT NULL DEFAULT 0, malformed INTEGER NOT NULL DEFAULT 0);
CREATE TABLE hardware_counts(aspect TEXT NOT NULL, label TEXT NOT NULL, n INTEGER NOT NULL,
  PRIMARY KEY(aspect, label)) WITHOUT ROWID;
INSERT INTO schema_version(version) VALUES(2);
)sql";

// A prepared statement kept for the life of the connection: the writer runs the same few thousands of times.
class Stmt {
public:
    Stmt() = default;
    ~Stmt() { sqlite3_finalize(m_stmt); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    bool Prepare(sqlite3* db, const char* sql) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr) == SQLITE_OK;
    }
    Stmt& Reset() {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
        return *this;
    }
    Stmt& Bind(int i, std::string_view v) {
        sqlite3_bind_text(m_stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Bind(int i, int64_t v) {
        sqlite3_bind_int64(m_stmt, i, v);
        return *this;
    }
    Stmt& BindBlob(int i, std::string_view v) {
        sqlite3_bind_blob(m_stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& BindNull(int i) {
        sqlite3_bind_null(m_stmt, i);
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
};

// The report columns, in the order every query here selects them (account … machine_key), from `first` on.
Report ReadReport(const Stmt& q, int first) {
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

// A refused report keeps who sent it and what it was refused for; the long free-text fields are cut so a
// flood of refusals costs a bounded amount per row.
std::string_view Cut(std::string_view text, size_t bytes = 256) {
    if (text.size() <= bytes) return text;
    size_t n = bytes;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return text.substr(0, n);
}

class SqliteStorage final : public Storage {
public:
    // close_v2 waits for the kept statements, finalised right after with the members.
    ~SqliteStorage() override {
        if (m_db) sqlite3_close_v2(m_db);
    }

    bool Open(const std::string& path, std::string& error);
    std::optional<std::vector<Outcome>> Apply(const Batch& batch) override;
    RegisterResult Register(const std::string& name, const std::string& accountKey, const std::string& remote,
                            int64_t now) override;
    std::optional<DashboardData> Dashboard() override;
    std::optional<std::vector<AccountRow>> Accounts() override;
    bool Export(const std::function<bool(const ReportRow&)>& sink) override;
    std::optional<std::vector<MalformedReport>> MalformedSamples() override;
    bool Healthy() override;
    std::string LastError() const override { return m_lastError; }

private:
    bool Exec(const char* sql);
    bool Fail(const char* what);
    bool MigrateFromVersion1();
    bool Prepared();
    std::optional<Outcome> ApplyOne(const PendingReport& p, bool requireRegistered);
    void Count(const char* outcome, int64_t at, int successes, int refusals, int malformed);
    bool WriteCounts();

    // The figures a batch adds, written once per batch rather than once per report.
    std::map<std::string, int64_t> m_outcomeDelta;
    std::map<int64_t, std::array<int64_t, 3>> m_timelineDelta;
    std::map<std::pair<std::string, std::string>, int64_t> m_hardwareDelta;

    sqlite3* m_db = nullptr;
    std::string m_path;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    bool m_broken = false;
    std::string m_lastError;
    Stmt m_registered, m_accountUsed, m_fingerprintUsed, m_insertReport, m_enrol, m_setOutcome, m_outcomeCount,
        m_timeline, m_hardware, m_malformed, m_trimMalformed;
};

bool SqliteStorage::Exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        m_lastError = message ? message : sqlite3_errmsg(m_db);
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool SqliteStorage::Fail(const char* what) {
    m_lastError = std::string(what) + ": " + sqlite3_errmsg(m_db);
    if (!sqlite3_get_autocommit(m_db)) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

bool SqliteStorage::Prepared() {
    return m_registered.Prepare(m_db, "SELECT 1 FROM accounts WHERE account_key = ?") &&
           m_accountUsed.Prepare(m_db, "SELECT 1 FROM enrolments WHERE account_key = ?") &&
           m_fingerprintUsed.Prepare(m_db, "SELECT 1 FROM enrolments WHERE fingerprint = ?") &&
           m_insertReport.Prepare(
               m_db,
               "INSERT INTO reports(received_at, remote, outcome, points, account, account_key, mac, cpu_name, "
               "cpu_count, clock_mhz, memory_mb, displays, resolution, os, computer_name, machine_key, raw) "
               "VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)") &&
           m_enrol.Prepare(m_db,
                           "INSERT INTO enrolments(account, account_key, machine_key, fingerprint, report_id, points, "
                           "enrolled_at) VALUES(?,?,?,?,?,?,?)") &&
           m_setOutcome.Prepare(m_db, "UPDATE reports SET outcome = ?, points = 0, raw = NULL WHERE id = ?") &&
           m_outcomeCount.Prepare(m_db,
                                  "INSERT INTO outcome_counts(outcome, n) VALUES(?1, ?2) "
                                  "ON CONFLICT(outcome) DO UPDATE SET n = n + ?2") &&
           m_timeline.Prepare(m_db,
                              "INSERT INTO timeline(hour, successes, refusals, malformed) VALUES(?1, ?2, ?3, ?4) "
                              "ON CONFLICT(hour) DO UPDATE SET successes = successes + ?2, "
                              "refusals = refusals + ?3, malformed = malformed + ?4") &&
           m_hardware.Prepare(m_db,
                              "INSERT INTO hardware_counts(aspect, label, n) VALUES(?1, ?2, ?3) "
                              "ON CONFLICT(aspect, label) DO UPDATE SET n = n + ?3") &&
           m_malformed.Prepare(m_db,
                               "INSERT INTO malformed_samples(received_at, remote, reason, body) VALUES(?,?,?,?)") &&
           m_trimMalformed.Prepare(m_db, "DELETE FROM malformed_samples WHERE id <= ? ");
}

// Version 1 had no version table, compared accounts and machines as sent and kept every body. Its rows move
// to the current tables with their keys computed here; two enrolments that now have one key keep the first.
bool SqliteStorage::MigrateFromVersion1() {
    auto keys = [](sqlite3_context* ctx, int argc, sqlite3_value** argv) {
        auto text = [&](int i) {
            const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(argv[i]));
            return p ? std::string(p, static_cast<size_t>(sqlite3_value_bytes(argv[i]))) : std::string();
        };
        const auto kind = *static_cast<const char*>(sqlite3_user_data(ctx));
        std::string key;
        if (kind == 'a' || argc != 4) {
            key = Identity::AccountKey(text(0));
        } else {
            Report r;
            r.cpuName = text(1);
            r.displays = text(2);
            r.computerName = text(3);
            const std::string mac = Identity::MacKey(text(0));
            if (kind == 'f') key = Identity::Fingerprint(r);
            else key = mac.empty() ? "fp:" + Identity::Fingerprint(r) : "mac:" + mac;
        }
        sqlite3_result_text(ctx, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    };
    using Fn = void (*)(sqlite3_context*, int, sqlite3_value**);
    const Fn fn = keys;
    static const char kinds[] = "amf";
    if (sqlite3_create_function(m_db, "account_key", 1, SQLITE_UTF8, const_cast<char*>(kinds), fn, nullptr, nullptr) !=
            SQLITE_OK ||
        sqlite3_create_function(m_db, "machine_key", 4, SQLITE_UTF8, const_cast<char*>(kinds + 1), fn, nullptr, nullptr) !=
            SQLITE_OK ||
        sqlite3_create_function(m_db, "fingerprint", 4, SQLITE_UTF8, const_cast<char*>(kinds + 2), fn, nullptr, nullptr) !=
            SQLITE_OK)
        return Fail("functions");
    const char* const move = R"sql(
ALTER TABLE reports RENAME TO v1_reports;
ALTER TABLE enrolments RENAME TO v1_enrolments;
ALTER TABLE accounts RENAME TO v1_accounts;
DROP INDEX IF EXISTS reports_by_time;
DROP INDEX IF EXISTS enrolments_one_per_account;
DROP INDEX IF EXISTS enrolments_one_per_machine;
DROP INDEX IF EXISTS accounts_by_name;
)sql";
    const char* const copy = R"sql(
INSERT INTO reports(id, received_at, remote, outcome, points, account, account_key, mac, cpu_name, cpu_count,
  clock_mhz, memory_mb, displays, resolution, os, computer_name, machine_key, raw)
SELECT id, received_at, remote, outcome, points, coalesce(account, ''), account_key(coalesce(account, '')), mac,
  cpu_name, cpu_count, clock_mhz, memory_mb, displays, resolution, os, computer_name,
  machine_key(mac, cpu_name, displays, computer_name), CASE outcome WHEN 'success' THEN raw END
FROM v1_reports WHERE outcome <> 'malformed';
INSERT OR IGNORE INTO enrolments(account, account_key, machine_key, fingerprint, report_id, points, enrolled_at)
SELECT e.account, account_key(e.account), machine_key(r.mac, r.cpu_name, r.displays, r.computer_name),
  fingerprint(r.mac, r.cpu_name, r.displays, r.computer_name), e.report_id, e.points, e.enrolled_at
FROM v1_enrolments e JOIN v1_reports r ON r.id = e.report_id ORDER BY e.rowid;
INSERT OR IGNORE INTO accounts(name, account_key, registered_at, remote)
SELECT name, account_key(name), registered_at, remote FROM v1_accounts ORDER BY rowid;
INSERT INTO malformed_samples(received_at, remote, reason, body)
SELECT received_at, remote, coalesce(error, ''), substr(raw, 1, 2048) FROM
  (SELECT * FROM v1_reports WHERE outcome = 'malformed' ORDER BY id DESC LIMIT 100) ORDER BY id;
INSERT INTO outcome_counts(outcome, n) SELECT outcome, count(*) FROM v1_reports GROUP BY outcome;
INSERT INTO timeline(hour, successes, refusals, malformed)
SELECT received_at / 3600 * 3600 AS h, sum(outcome = 'success'),
  sum(outcome IN ('account_used', 'machine_used', 'not_registered')), sum(outcome = 'malformed')
FROM v1_reports GROUP BY h;
DROP TABLE v1_enrolments;
DROP TABLE v1_accounts;
DROP TABLE v1_reports;
)sql";
    if (!Exec(move) || !Exec(kSchema) || !Exec(copy)) return false;
    // The hardware counts, machine by machine, as the writer keeps them.
    Stmt machines, add;
    if (!machines.Prepare(m_db,
                          "SELECT r.account, r.mac, r.cpu_name, r.cpu_count, r.clock_mhz, r.memory_mb, r.displays, "
                          "r.resolution, r.os, r.computer_name, r.machine_key FROM enrolments e "
                          "JOIN reports r ON r.id = e.report_id") ||
        !add.Prepare(m_db,
                     "INSERT INTO hardware_counts(aspect, label, n) VALUES(?, ?, 1) "
                     "ON CONFLICT(aspect, label) DO UPDATE SET n = n + 1"))
        return Fail("hardware");
    int rc;
    while ((rc = machines.Step()) == SQLITE_ROW)
        for (const auto& [aspect, label] : MachineLabels(ReadReport(machines, 0)))
            if (add.Reset().Bind(1, aspect).Bind(2, label).Step() != SQLITE_DONE) return Fail("hardware");
    return rc == SQLITE_DONE || Fail("hardware");
}

bool SqliteStorage::Open(const std::string& path, std::string& error) {
    m_path = path;
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        error = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        return false;
    }
    if (sqlite3_db_readonly(m_db, "main") == 1) {
        error = "the database file is not writable";
        return false;
    }
    // Several writers (another instance, a test) take turns; each turn is one fsync, so waiting long is cheap.
    sqlite3_busy_timeout(m_db, 30000);
    // FULL: a commit is on disk before the reply says so, even if the machine loses power afterwards.
    if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=FULL")) {
        error = m_lastError;
        return false;
    }
    {
        Stmt mode;
        if (!mode.Prepare(m_db, "PRAGMA journal_mode") || mode.Step() != SQLITE_ROW || mode.Text(0) != "wal") {
            error = "the database cannot be put in WAL mode";
            return false;
        }
    }
    // The schema and a first write in one transaction: an unwritable file or folder shows here, at start.
    if (!Exec("BEGIN IMMEDIATE")) {
        error = m_lastError;
        return false;
    }
    int version = 0;
    bool unversioned = false;
    {
        Stmt q;
        if (q.Prepare(m_db, "SELECT version FROM schema_version") && q.Step() == SQLITE_ROW) version = static_cast<int>(q.Int(0));
        Stmt tables;
        unversioned = version == 0 &&
                      tables.Prepare(m_db, "SELECT count(*) FROM sqlite_master WHERE name = 'reports'") &&
                      tables.Step() == SQLITE_ROW && tables.Int(0) > 0;
    }
    if (version > kSchemaVersion) {
        Fail("schema");
        error = "the database has schema version " + std::to_string(version) + ", newer than this program's " +
                std::to_string(kSchemaVersion);
        return false;
    }
    if (unversioned && !MigrateFromVersion1()) {
        error = "moving the database to schema version " + std::to_string(kSchemaVersion) + ": " + m_lastError;
        Fail("migrate");
        return false;
    }
    if (version == 0 && !unversioned && !Exec(kSchema)) {
        error = m_lastError;
        Fail("schema");
        return false;
    }
    if (!Exec("UPDATE schema_version SET version = version") || !Exec("COMMIT")) {
        error = "the database is not writable: " + m_lastError;
        Fail("first write");
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = "the database file cannot be found after opening it";
        return false;
    }
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    if (!Prepared()) {
        error = std::string("prepare: ") + sqlite3_errmsg(m_db);
        return false;
    }
    return true;
}

bool SqliteStorage::Healthy() {
    if (m_broken) return false;
    struct stat st {};
    // A file deleted or replaced under us: commits would land in an unlinked inode, lost at the next start.
    if (::stat(m_path.c_str(), &st) != 0 || st.st_dev != m_dev || st.st_ino != m_ino) {
        m_broken = true;
        m_lastError = "the database file " + m_path + " was deleted or replaced while running";
    }
    return !m_broken;
}

void SqliteStorage::Count(const char* outcome, int64_t at, int successes, int refusals, int malformed) {
    ++m_outcomeDelta[outcome];
    auto& hour = m_timelineDelta[at / 3600 * 3600];
    hour[0] += successes;
    hour[1] += refusals;
    hour[2] += malformed;
}

bool SqliteStorage::WriteCounts() {
    bool ok = true;
    for (const auto& [outcome, n] : m_outcomeDelta)
        ok = ok && m_outcomeCount.Reset().Bind(1, outcome).Bind(2, n).Step() == SQLITE_DONE;
    for (const auto& [hour, n] : m_timelineDelta)
        ok = ok && m_timeline.Reset().Bind(1, hour).Bind(2, n[0]).Bind(3, n[1]).Bind(4, n[2]).Step() == SQLITE_DONE;
    for (const auto& [label, n] : m_hardwareDelta)
        ok = ok && m_hardware.Reset().Bind(1, label.first).Bind(2, label.second).Bind(3, n).Step() == SQLITE_DONE;
    m_outcomeDelta.clear();
    m_timelineDelta.clear();
    m_hardwareDelta.clear();
    return ok;
}

std::optional<Outcome> SqliteStorage::ApplyOne(const PendingReport& p, bool requireRegistered) {
    const Report& r = p.report;
    std::optional<Outcome> outcome;
    auto exists = [&](Stmt& q, const std::string& key) -> std::optional<bool> {
        const int rc = q.Reset().Bind(1, key).Step();
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        return std::nullopt;
    };
    if (requireRegistered) {
        const auto registered = exists(m_registered, p.accountKey);
        if (!registered) return std::nullopt;
        if (!*registered) outcome = Outcome::NotRegistered;
    }
    if (!outcome) {
        const auto used = exists(m_accountUsed, p.accountKey);
        if (!used) return std::nullopt;
        if (*used) outcome = Outcome::AccountUsed;
    }
    // Without a MAC the fingerprint is all there is: any enrolled machine with it, MAC or not, is this one.
    if (!outcome && p.macKey.empty()) {
        const auto used = exists(m_fingerprintUsed, p.fingerprint);
        if (!used) return std::nullopt;
        if (*used) outcome = Outcome::MachineUsed;
    }
    const bool refused = outcome.has_value();
    const std::string machineKey = p.macKey.empty() ? "fp:" + p.fingerprint : "mac:" + p.macKey;
    m_insertReport.Reset()
        .Bind(1, p.receivedAt)
        .Bind(2, p.remote)
        .Bind(3, std::string_view(refused ? OutcomeName(*outcome) : "success"))
        .Bind(4, int64_t{refused ? 0 : kRewardPoints})
        .Bind(5, Cut(r.account))
        .Bind(6, Cut(p.accountKey))
        .Bind(7, Cut(r.mac, 64));
    if (refused) {
        m_insertReport.Bind(8, Cut(r.cpuName)).Bind(9, r.cpuCount).Bind(10, r.clockMHz).Bind(11, Cut(r.memoryMB, 32));
        m_insertReport.Bind(12, Cut(r.displays)).Bind(13, Cut(r.resolution, 64)).Bind(14, Cut(r.os));
        m_insertReport.Bind(15, Cut(r.computerName)).Bind(16, Cut(machineKey)).BindNull(17);
    } else {
        m_insertReport.Bind(8, r.cpuName).Bind(9, r.cpuCount).Bind(10, r.clockMHz).Bind(11, r.memoryMB);
        m_insertReport.Bind(12, r.displays).Bind(13, r.resolution).Bind(14, r.os).Bind(15, r.computerName);
        m_insertReport.Bind(16, machineKey).BindBlob(17, p.rawBody);
    }
    if (m_insertReport.Step() != SQLITE_DONE) return std::nullopt;
    const int64_t id = sqlite3_last_insert_rowid(m_db);
    if (!refused) {
        // The UNIQUE indexes decide: whatever else writes to this database, one enrolment per account and machine.
        const int rc = m_enrol.Reset()
                           .Bind(1, r.account)
                           .Bind(2, p.accountKey)
                           .Bind(3, machineKey)
                           .Bind(4, p.fingerprint)
                           .Bind(5, id)
                           .Bind(6, int64_t{kRewardPoints})
                           .Bind(7, p.receivedAt)
                           .Step();
        if (rc == SQLITE_DONE) {
            outcome = Outcome::Success;
        } else if ((rc & 0xff) == SQLITE_CONSTRAINT) {
            const auto used = exists(m_accountUsed, p.accountKey);
            if (!used) return std::nullopt;
            outcome = *used ? Outcome::AccountUsed : Outcome::MachineUsed;
            if (m_setOutcome.Reset().Bind(1, std::string_view(OutcomeName(*outcome))).Bind(2, id).Step() != SQLITE_DONE)
                return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    const bool success = *outcome == Outcome::Success;
    Count(OutcomeName(*outcome), p.receivedAt, success ? 1 : 0, success ? 0 : 1, 0);
    if (success)
        for (auto& label : MachineLabels(r)) ++m_hardwareDelta[std::move(label)];
    return outcome;
}

std::optional<std::vector<Outcome>> SqliteStorage::Apply(const Batch& batch) {
    if (!Healthy()) return std::nullopt;
    if (!Exec("BEGIN IMMEDIATE")) return Fail("begin"), std::nullopt;
    m_outcomeDelta.clear();
    m_timelineDelta.clear();
    m_hardwareDelta.clear();
    std::vector<Outcome> outcomes;
    outcomes.reserve(batch.reports.size());
    for (const auto& p : batch.reports) {
        const auto outcome = ApplyOne(p, batch.requireRegistered);
        if (!outcome) return Fail("report"), std::nullopt;
        outcomes.push_back(*outcome);
    }
    int64_t newest = 0;
    for (const auto& m : batch.malformed) {
        Count("malformed", m.receivedAt, 0, 0, 1);
        if (m_malformed.Reset()
                .Bind(1, m.receivedAt)
                .Bind(2, m.remote)
                .Bind(3, Cut(m.reason))
                .BindBlob(4, std::string_view(m.body).substr(0, kMalformedSampleBytes))
                .Step() != SQLITE_DONE)
            return Fail("sample malformed"), std::nullopt;
        newest = sqlite3_last_insert_rowid(m_db);
    }
    if (newest > kMalformedSamples &&
        m_trimMalformed.Reset().Bind(1, newest - kMalformedSamples).Step() != SQLITE_DONE)
        return Fail("trim samples"), std::nullopt;
    if (!WriteCounts()) return Fail("counts"), std::nullopt;
    // Checked again just before the commit: once the file is gone, nothing more is acknowledged.
    if (!Healthy()) return Fail("database file"), std::nullopt;
    if (!Exec("COMMIT")) return Fail("commit"), std::nullopt;
    return outcomes;
}

RegisterResult SqliteStorage::Register(const std::string& name, const std::string& accountKey,
                                       const std::string& remote, int64_t now) {
    if (!Healthy()) return RegisterResult::Failed;
    Stmt insert;
    if (!insert.Prepare(m_db, "INSERT INTO accounts(name, account_key, registered_at, remote) VALUES(?,?,?,?)"))
        return Fail("register"), RegisterResult::Failed;
    const int rc = insert.Bind(1, name).Bind(2, accountKey).Bind(3, now).Bind(4, remote).Step();
    if (rc == SQLITE_DONE) return RegisterResult::Registered;
    if ((rc & 0xff) == SQLITE_CONSTRAINT) return RegisterResult::Duplicate;
    Fail("register");
    return RegisterResult::Failed;
}

std::optional<DashboardData> SqliteStorage::Dashboard() {
    if (!Exec("BEGIN")) return Fail("begin"), std::nullopt;  // one snapshot for every figure
    DashboardData data;
    {
        Stmt q;
        if (!q.Prepare(m_db, "SELECT outcome, n FROM outcome_counts")) return Fail("totals"), std::nullopt;
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
        Stmt q;
        if (!q.Prepare(m_db, "SELECT hour, successes, refusals, malformed FROM timeline ORDER BY hour"))
            return Fail("timeline"), std::nullopt;
        int rc;
        while ((rc = q.Step()) == SQLITE_ROW) data.timeline.push_back({q.Int(0), q.Int(1), q.Int(2), q.Int(3)});
        if (rc != SQLITE_DONE) return Fail("timeline"), std::nullopt;
        // Hours for a test that has just begun, days once it runs longer than two.
        if (!data.timeline.empty() && data.timeline.back().start - data.timeline.front().start > 48 * 3600) {
            data.bucketSeconds = 86400;
            std::vector<TimelineRow> days;
            for (const auto& h : data.timeline) {
                const int64_t day = h.start / 86400 * 86400;
                if (days.empty() || days.back().start != day) days.push_back({day, 0, 0, 0});
                days.back().successes += h.successes;
                days.back().refusals += h.refusals;
                days.back().malformed += h.malformed;
            }
            data.timeline = std::move(days);
        }
    }
    {
        Stmt q;
        if (!q.Prepare(m_db, "SELECT aspect, label, n FROM hardware_counts")) return Fail("hardware"), std::nullopt;
        int rc;
        while ((rc = q.Step()) == SQLITE_ROW) data.hardware[q.Text(0)][q.Text(1)] = q.Int(2);
        if (rc != SQLITE_DONE) return Fail("hardware"), std::nullopt;
    }
    data.enrolledMachines = data.successes;
    {
        Stmt q;
        if (!q.Prepare(m_db, "SELECT count(*) FROM accounts") || q.Step() != SQLITE_ROW)
            return Fail("accounts"), std::nullopt;
        data.registeredAccounts = q.Int(0);
    }
    Exec("COMMIT");
    return data;
}

std::optional<std::vector<AccountRow>> SqliteStorage::Accounts() {
    Stmt q;
    if (!q.Prepare(m_db,
                   "SELECT a.name, a.registered_at, e.account_key IS NOT NULL FROM accounts a "
                   "LEFT JOIN enrolments e ON e.account_key = a.account_key ORDER BY a.rowid"))
        return Fail("accounts"), std::nullopt;
    std::vector<AccountRow> rows;
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) rows.push_back({q.Text(0), q.Int(1), q.Int(2) != 0});
    if (rc != SQLITE_DONE) return Fail("accounts"), std::nullopt;
    return rows;
}

bool SqliteStorage::Export(const std::function<bool(const ReportRow&)>& sink) {
    Stmt q;
    if (!q.Prepare(m_db,
                   "SELECT id, received_at, remote, outcome, points, account, mac, cpu_name, cpu_count, clock_mhz, "
                   "memory_mb, displays, resolution, os, computer_name, machine_key, raw FROM reports ORDER BY id"))
        return Fail("export");
    int rc;
    ReportRow row;
    while ((rc = q.Step()) == SQLITE_ROW) {
        row.id = q.Int(0);
        row.receivedAt = q.Int(1);
        row.remote = q.Text(2);
        row.outcome = q.Text(3);
        row.points = q.Int(4);
        row.report = ReadReport(q, 5);
        row.rawBody = q.Blob(16);
        if (!sink(row)) return false;
    }
    if (rc != SQLITE_DONE) return Fail("export");
    return true;
}

std::optional<std::vector<MalformedReport>> SqliteStorage::MalformedSamples() {
    Stmt q;
    if (!q.Prepare(m_db, "SELECT body, remote, reason, received_at FROM malformed_samples ORDER BY id DESC LIMIT ?"))
        return Fail("samples"), std::nullopt;
    q.Bind(1, int64_t{kMalformedSamples});
    std::vector<MalformedReport> rows;
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) rows.push_back({q.Blob(0), q.Text(1), q.Text(2), q.Int(3)});
    if (rc != SQLITE_DONE) return Fail("samples"), std::nullopt;
    return rows;
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

std::unique_ptr<Storage> OpenSqliteStorage(const std::string& path, std::string& error) {
    auto storage = std::make_unique<SqliteStorage>();
    if (!storage->Open(path, error)) return nullptr;
    return storage;
}

}  // namespace Service
