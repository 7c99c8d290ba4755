// The SQLite backend: WAL, synchronous=FULL, one transaction per batch, the rules' last word as UNIQUE
// indexes (schema.sql). It reads the facts the domain's rules ask for, writes what they decided and keeps the
// dashboard's figures in small tables updated in the same transaction as the reports they count.
#include "service/storage/sqlite/sqlite_storage.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <system_error>
#include <utility>

#include "base/unique_handle.h"
#include "service/domain/figures.h"
#include "service/domain/identity.h"
#include "service/domain/machine_labels.h"

namespace Service {

namespace {

// Version 2, then the steps after it.
const char* const kSchema =
#include "sqlite_schema.inc"
    ;
const char* const kSchemaV3 =
#include "sqlite_schema_v3.inc"
    ;
const char* const kSchemaV4 =
#include "sqlite_schema_v4.inc"
    ;
const char* const kSchemaV5 =
#include "sqlite_schema_v5.inc"
    ;
const char* const kWaveSchema =
#include "sqlite_waves.inc"
    ;

struct ConnectionTraits {
    using Handle = sqlite3*;
    static sqlite3* Empty() noexcept { return nullptr; }
    // close_v2 waits for statements still open; they are finalised by their own owners.
    static void Close(sqlite3* db) noexcept { sqlite3_close_v2(db); }
};
using Connection = Base::UniqueHandle<ConnectionTraits>;

struct StatementTraits {
    using Handle = sqlite3_stmt*;
    static sqlite3_stmt* Empty() noexcept { return nullptr; }
    static void Close(sqlite3_stmt* stmt) noexcept { sqlite3_finalize(stmt); }
};
static_assert(Base::kIsMoveOnly<Connection>, "a connection owner must not be copyable");
static_assert(Base::kIsMoveOnly<Base::UniqueHandle<StatementTraits>>, "a statement owner must not be copyable");

// Extended result codes are on: a duplicate is told apart from a failed CHECK, NOT NULL or foreign key.
bool UniqueViolation(int rc) { return rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY; }

// A prepared statement kept for the life of the connection: the writer runs the same few thousands of times.
class Stmt {
public:
    bool Prepare(sqlite3* db, const char* sql) {
        return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, m_owner.Put(), nullptr) == SQLITE_OK;
    }
    Stmt& Reset() {
        sqlite3_reset(m_owner.Get());
        sqlite3_clear_bindings(m_owner.Get());
        return *this;
    }
    Stmt& Bind(int i, std::string_view v) {
        sqlite3_bind_text(m_owner.Get(), i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Bind(int i, int64_t v) {
        sqlite3_bind_int64(m_owner.Get(), i, v);
        return *this;
    }
    Stmt& BindBlob(int i, std::string_view v) {
        sqlite3_bind_blob(m_owner.Get(), i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // For bytes that outlive the statement's step (a wave's list of tens of megabytes): not copied first.
    Stmt& BindLargeBlob(int i, std::string_view v) {
        sqlite3_bind_blob64(m_owner.Get(), i, v.data(), v.size(), SQLITE_STATIC);
        return *this;
    }
    Stmt& BindNull(int i) {
        sqlite3_bind_null(m_owner.Get(), i);
        return *this;
    }
    int Step() { return sqlite3_step(m_owner.Get()); }
    std::string Text(int col) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_owner.Get(), col));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(m_owner.Get(), col))) : std::string();
    }
    std::string Bytes(int col) const {
        const auto* p = static_cast<const char*>(sqlite3_column_blob(m_owner.Get(), col));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(m_owner.Get(), col))) : std::string();
    }
    int64_t Int(int col) const { return sqlite3_column_int64(m_owner.Get(), col); }

private:
    Base::UniqueHandle<StatementTraits> m_owner;
};

class SqliteStorage final : public Storage {
public:
    bool Open(const std::string& path, std::string& error);
    using Storage::Apply;
    std::optional<std::vector<Outcome>> Apply(const Batch& batch, std::vector<RegisterResult>& registered) override;
    std::optional<DashboardData> Dashboard() override;
    std::optional<AccountPage> Accounts(int64_t page) override;
    bool Export(const std::function<bool(const ReportRow&)>& sink) override;
    std::optional<std::vector<MalformedReport>> MalformedSamples() override;
    bool Healthy() override;
    void SetFreeSpaceFloor(uint64_t bytes) override { m_floor = bytes; }
    std::string LastError() const override { return m_lastError; }
    std::string LastTiming() const override { return m_timing; }
    std::optional<int64_t> CreateWave(const std::string& name, const std::string& params, int64_t now) override;
    std::optional<std::vector<Draw::WaveRecord>> Waves() override;
    std::optional<Draw::WaveRecord> Wave(int64_t id) override;
    bool EligibleMachines(bool requireRegistered, const std::vector<MachineSink>& sinks) override;
    bool MachinesOf(const std::vector<std::string>& accountKeys, const MachineSink& sink) override;
    WaveChange SaveFrozen(int64_t id, const FrozenWave& frozen, int64_t now) override;
    WaveChange SaveSeed(int64_t id, const std::string& seed, int64_t now) override;
    WaveChange SaveDraw(int64_t id, const DrawnWave& drawn, int64_t now) override;
    WaveChange Publish(int64_t id, int64_t now) override;
    std::optional<std::string> WaveFile(int64_t id, WaveFileKind kind) override;
    std::optional<WaveCoverage> Coverage(int64_t id) override;
    bool WaveCodes(int64_t id, const std::function<bool(const Draw::ChosenRow&)>& sink) override;
    std::optional<Draw::Standing> Standing(const std::string& accountKey) override;
    bool MarkWithdrawn(const std::string& accountKey, int64_t now) override;
    EnrolmentChange Revoke(const std::string& accountKey, const AuditEntry& audit) override;
    EnrolmentChange Restore(const std::string& accountKey, const AuditEntry& audit) override;
    std::optional<bool> Revoked(const std::string& accountKey) override;
    EnrolmentChange Erase(const std::string& accountKey, const AuditEntry& audit) override;

private:
    // The hardware labels of report id counted once more (+1) or once less (-1).
    bool CountMachine(int64_t reportId, int64_t n);
    bool Audit(const AuditEntry& audit);
    EnrolmentChange Undo(const char* what) {
        Fail(what);
        return EnrolmentChange::Failed;
    }
    // Opens a wave step's transaction and checks where the wave stands: Done when it may go on.
    WaveChange BeginStep(int64_t id, Draw::WaveState from);
    WaveChange EndStep(bool ok, const char* what);
    bool AddHardware(int64_t id, const char* side, const HardwareCounts& counts);

    bool Exec(const char* sql);
    bool Fail(const char* what);
    bool MigrateFromVersion1();
    bool Prepared();
    std::optional<StoredFacts> Facts(const PendingReport& p);
    std::optional<Outcome> ApplyOne(const PendingReport& p, BatchRules& rules);
    bool WriteFigures(const BatchFigures& figures);
    bool SummariseRefused(int64_t kept);

    // Declared first, so the statements below are finalised before it closes.
    Connection m_owner;
    sqlite3* m_db = nullptr;  // m_owner's, borrowed
    std::string m_path;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    bool m_broken = false;
    uint64_t m_floor = 0;
    int64_t m_refusedSinceTrim = 0;  // refused reports stored since they were last trimmed to the bound
    std::string m_lastError;
    std::string m_timing;
    std::chrono::steady_clock::duration m_factsTime{};
    Stmt m_facts, m_accountUsed, m_insertReport, m_enrol, m_setOutcome, m_outcomeCount,
        m_timeline, m_hardware, m_malformed, m_trimMalformed, m_addressDay, m_trimAddressDays, m_register,
        m_refusedCut, m_summariseRefused, m_dropRefused;
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
    return m_facts.Prepare(m_db,
                           "SELECT EXISTS (SELECT 1 FROM accounts WHERE account_key = ?1), "
                           "EXISTS (SELECT 1 FROM enrolments WHERE account_key = ?1), "
                           "EXISTS (SELECT 1 FROM enrolments WHERE machine_key = ?2), "
                           "EXISTS (SELECT 1 FROM enrolments WHERE fingerprint = ?3), "
                           "EXISTS (SELECT 1 FROM enrolments WHERE machine_key = ?4), "
                           "coalesce((SELECT n FROM address_enrolments WHERE day = ?5 AND address = ?6), 0)") &&
           m_accountUsed.Prepare(m_db, "SELECT 1 FROM enrolments WHERE account_key = ?") &&
           m_insertReport.Prepare(
               m_db,
               "INSERT INTO reports(received_at, remote, outcome, points, account, account_key, mac, cpu_name, "
               "cpu_count, clock_mhz, memory_mb, displays, resolution, os, computer_name, machine_key, raw, "
               "code_page) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)") &&
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
                              "INSERT INTO hardware_counts(aspect, label, n) VALUES(?1, "
                              "CASE WHEN EXISTS (SELECT 1 FROM hardware_counts WHERE aspect = ?1 AND label = ?2) "
                              "OR (SELECT count(*) FROM hardware_counts WHERE aspect = ?1) < ?4 THEN ?2 ELSE ?5 END, ?3) "
                              "ON CONFLICT(aspect, label) DO UPDATE SET n = n + ?3") &&
           m_malformed.Prepare(m_db,
                               "INSERT INTO malformed_samples(received_at, remote, reason, body) VALUES(?,?,?,?)") &&
           m_trimMalformed.Prepare(m_db, "DELETE FROM malformed_samples WHERE id <= ? ") &&
           m_addressDay.Prepare(m_db,
                                "INSERT INTO address_enrolments(day, address, n) VALUES(?1, ?2, ?3) "
                                "ON CONFLICT(day, address) DO UPDATE SET n = n + ?3") &&
           m_trimAddressDays.Prepare(m_db, "DELETE FROM address_enrolments WHERE day < ?") &&
           m_register.Prepare(m_db,
                              "INSERT INTO accounts(name, account_key, registered_at, remote) VALUES(?,?,?,?) "
                              "ON CONFLICT(account_key) DO NOTHING") &&
           // The newest refused report past the kept ones (the partial index reports_refused walks only them),
           // then everything refused up to it becomes counts per UTC day and outcome.
           m_refusedCut.Prepare(m_db, "SELECT id FROM reports WHERE outcome <> 'success' ORDER BY id DESC LIMIT 1 OFFSET ?") &&
           m_summariseRefused.Prepare(m_db,
                                      "INSERT INTO refused_summary(day, outcome, n) SELECT received_at / 86400, outcome, "
                                      "count(*) FROM reports WHERE outcome <> 'success' AND id <= ?1 GROUP BY 1, 2 "
                                      "ON CONFLICT(day, outcome) DO UPDATE SET n = n + excluded.n") &&
           m_dropRefused.Prepare(m_db, "DELETE FROM reports WHERE outcome <> 'success' AND id <= ?");
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
            if (kind == 'f') key = Identity::Fingerprint(r);
            else key = Identity::MachineKey(Identity::MacKey(text(0)), Identity::Fingerprint(r));
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
    // The later steps before the copy, so the rows arrive in the current shape with the current keys.
    if (!Exec(move) || !Exec(kSchema) || !Exec(kSchemaV3) || !Exec(kSchemaV4) || !Exec(kSchemaV5) || !Exec(copy)) return false;
    // The hardware counts, machine by machine, as the writer keeps them.
    Stmt machines, add;
    if (!machines.Prepare(m_db, (std::string("SELECT ") + kReportColumns +
                                 " FROM reports WHERE id IN (SELECT report_id FROM enrolments)")
                                    .c_str()) ||
        !add.Prepare(m_db,
                     "INSERT INTO hardware_counts(aspect, label, n) VALUES(?, ?, 1) "
                     "ON CONFLICT(aspect, label) DO UPDATE SET n = n + 1"))
        return Fail("hardware");
    int rc;
    ReportRow row;
    while ((rc = machines.Step()) == SQLITE_ROW && (ReadReportRow(machines, row), true))
        for (const auto& [aspect, label] : MachineLabels(row.report))
            if (add.Reset().Bind(1, aspect).Bind(2, label).Step() != SQLITE_DONE) return Fail("hardware");
    return rc == SQLITE_DONE || Fail("hardware");
}

bool SqliteStorage::Open(const std::string& path, std::string& error) {
    m_path = path;
    const int opened = sqlite3_open_v2(path.c_str(), m_owner.Put(),
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    m_db = m_owner.Get();
    if (opened != SQLITE_OK) {
        error = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        return false;
    }
    sqlite3_extended_result_codes(m_db, 1);
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
    // The schema's version 4 step hashes the fingerprints of older versions as the program does.
    auto hash = [](sqlite3_context* ctx, int, sqlite3_value** argv) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
        const std::string h =
            Identity::FingerprintHash(p ? std::string_view(p, static_cast<size_t>(sqlite3_value_bytes(argv[0]))) : "");
        sqlite3_result_text(ctx, h.data(), static_cast<int>(h.size()), SQLITE_TRANSIENT);
    };
    using HashFn = void (*)(sqlite3_context*, int, sqlite3_value**);
    const HashFn hashFn = hash;
    if (sqlite3_create_function(m_db, "fingerprint_hash", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, hashFn,
                                nullptr, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(m_db);
        return false;
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
    if (unversioned) version = kSchemaVersion;
    if (version == 0 && !unversioned && !Exec(kSchema)) {
        error = m_lastError;
        Fail("schema");
        return false;
    }
    if ((version < 3 && !Exec(kSchemaV3)) || (version < 4 && !Exec(kSchemaV4)) ||
        (version < 5 && !Exec(kSchemaV5)) || !Exec(kWaveSchema) ||
        !Exec(("UPDATE schema_version SET version = " + std::to_string(kSchemaVersion)).c_str()) || !Exec("COMMIT")) {
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
        return false;
    }
    // A full disk fails a commit halfway and every player is told "busy" without a reason: stop earlier, say
    // why, and go on by itself once there is room again.
    struct statvfs fs {};
    if (m_floor > 0 && ::statvfs(m_path.c_str(), &fs) == 0) {
        const uint64_t free = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
        if (free < m_floor) {
            m_lastError = "only " + std::to_string(free >> 20) + " MB free on the database's disk, below the floor of " +
                          std::to_string(m_floor >> 20) + " MB";
            return false;
        }
    }
    return true;
}

bool SqliteStorage::WriteFigures(const BatchFigures& f) {
    bool ok = true;
    for (const auto& [outcome, n] : f.outcomes)
        ok = ok && m_outcomeCount.Reset().Bind(1, outcome).Bind(2, n).Step() == SQLITE_DONE;
    for (const auto& [hour, n] : f.hours)
        ok = ok && m_timeline.Reset().Bind(1, hour).Bind(2, n[0]).Bind(3, n[1]).Bind(4, n[2]).Step() == SQLITE_DONE;
    for (const auto& [label, n] : f.hardware)
        ok = ok && m_hardware.Reset()
                           .Bind(1, label.first)
                           .Bind(2, label.second)
                           .Bind(3, n)
                           .Bind(4, kMaxLabelsPerAspect)
                           .Bind(5, std::string_view(kOtherLabel))
                           .Step() == SQLITE_DONE;
    int64_t today = 0;
    for (const auto& [addressDay, n] : f.addressDays) {
        ok = ok && m_addressDay.Reset().Bind(1, addressDay.second).Bind(2, addressDay.first).Bind(3, n).Step() ==
                       SQLITE_DONE;
        today = std::max(today, addressDay.second);
    }
    // Only a day's own counts decide; yesterday's stay for the reports that arrive around midnight.
    if (today > 0) ok = ok && m_trimAddressDays.Reset().Bind(1, today - 1).Step() == SQLITE_DONE;
    return ok;
}

std::optional<StoredFacts> SqliteStorage::Facts(const PendingReport& p) {
    const auto start = std::chrono::steady_clock::now();
    if (m_facts.Reset()
            .Bind(1, p.accountKey)
            .Bind(2, p.report.machineKey)
            .Bind(3, p.fingerprint)
            .Bind(4, p.fingerprintKey)
            .Bind(5, EnrolmentDay(p.receivedAt))
            .Bind(6, p.remote)
            .Step() != SQLITE_ROW)
        return std::nullopt;
    const StoredFacts facts{m_facts.Int(0) != 0, m_facts.Int(1) != 0, m_facts.Int(2) != 0,
                            m_facts.Int(3) != 0, m_facts.Int(4) != 0, m_facts.Int(5)};
    // A statement left on a row keeps its read snapshot past the commit, and a connection holding an old
    // snapshot cannot begin its next write once another has written: every read is reset once read.
    m_facts.Reset();
    m_factsTime += std::chrono::steady_clock::now() - start;
    return facts;
}

std::optional<Outcome> SqliteStorage::ApplyOne(const PendingReport& p, BatchRules& rules) {
    // The write lock is held from BEGIN IMMEDIATE: what is read here stays true until the commit.
    const auto facts = Facts(p);
    if (!facts) return std::nullopt;
    Outcome outcome = rules.Decide(p, *facts);
    const KeptReport k = Kept(p, outcome);
    m_insertReport.Reset()
        .Bind(1, p.receivedAt)
        .Bind(2, p.remote)
        .Bind(3, std::string_view(k.outcome))
        .Bind(4, k.points)
        .Bind(5, k.account)
        .Bind(6, k.accountKey)
        .Bind(7, k.mac)
        .Bind(8, k.cpuName)
        .Bind(9, k.cpuCount)
        .Bind(10, k.clockMHz)
        .Bind(11, k.memoryMB)
        .Bind(12, k.displays)
        .Bind(13, k.resolution)
        .Bind(14, k.os)
        .Bind(15, k.computerName)
        .Bind(16, k.machineKey);
    if (k.rawBody) m_insertReport.BindBlob(17, *k.rawBody).Bind(18, k.codePage);
    else m_insertReport.BindNull(17).BindNull(18);
    if (m_insertReport.Step() != SQLITE_DONE) return std::nullopt;
    if (outcome != Outcome::Success) return outcome;
    const int64_t id = sqlite3_last_insert_rowid(m_db);
    // The UNIQUE indexes have the last word: whatever else writes to this database, one enrolment per account
    // and machine.
    const int rc = m_enrol.Reset()
                       .Bind(1, p.report.account)
                       .Bind(2, p.accountKey)
                       .Bind(3, p.report.machineKey)
                       .Bind(4, p.fingerprint)
                       .Bind(5, id)
                       .Bind(6, int64_t{kRewardPoints})
                       .Bind(7, p.receivedAt)
                       .Step();
    if (rc == SQLITE_DONE) return outcome;
    if (!UniqueViolation(rc)) return std::nullopt;
    const int taken = m_accountUsed.Reset().Bind(1, p.accountKey).Step();
    m_accountUsed.Reset();
    if (taken != SQLITE_ROW && taken != SQLITE_DONE) return std::nullopt;
    outcome = rules.Conflicted(p, taken == SQLITE_ROW);
    if (m_setOutcome.Reset().Bind(1, std::string_view(OutcomeName(outcome))).Bind(2, id).Step() != SQLITE_DONE)
        return std::nullopt;
    return outcome;
}

bool SqliteStorage::SummariseRefused(int64_t kept) {
    const int rc = m_refusedCut.Reset().Bind(1, kept).Step();
    if (rc == SQLITE_DONE) return m_refusedCut.Reset(), true;
    if (rc != SQLITE_ROW) return false;
    const int64_t cut = m_refusedCut.Int(0);
    m_refusedCut.Reset();
    return m_summariseRefused.Reset().Bind(1, cut).Step() == SQLITE_DONE &&
           m_dropRefused.Reset().Bind(1, cut).Step() == SQLITE_DONE;
}

std::optional<std::vector<Outcome>> SqliteStorage::Apply(const Batch& batch, std::vector<RegisterResult>& registered) {
    registered.clear();
    if (!Healthy()) return std::nullopt;
    const auto start = std::chrono::steady_clock::now();
    m_factsTime = {};
    if (!Exec("BEGIN IMMEDIATE")) return Fail("begin"), std::nullopt;
    BatchRules rules(batch.requireRegistered, batch.maxEnrolmentsPerAddress);
    std::vector<Outcome> outcomes;
    outcomes.reserve(batch.reports.size());
    for (const auto& p : batch.reports) {
        const auto outcome = ApplyOne(p, rules);
        if (!outcome) return Fail("report"), std::nullopt;
        outcomes.push_back(*outcome);
    }
    int64_t newest = 0;
    for (const auto& m : batch.malformed) {
        if (m_malformed.Reset()
                .Bind(1, m.receivedAt)
                .Bind(2, m.remote)
                .Bind(3, KeptReason(m.reason))
                .BindBlob(4, KeptSample(m.body))
                .Step() != SQLITE_DONE)
            return Fail("sample malformed"), std::nullopt;
        newest = sqlite3_last_insert_rowid(m_db);
    }
    if (newest > kMalformedSamples &&
        m_trimMalformed.Reset().Bind(1, newest - kMalformedSamples).Step() != SQLITE_DONE)
        return Fail("trim samples"), std::nullopt;
    for (const auto& r : batch.registrations) {
        if (m_register.Reset().Bind(1, r.name).Bind(2, r.accountKey).Bind(3, r.at).Bind(4, r.remote).Step() !=
            SQLITE_DONE)
            return Fail("register"), std::nullopt;
        registered.push_back(sqlite3_changes(m_db) == 1 ? RegisterResult::Registered : RegisterResult::Duplicate);
    }
    m_refusedSinceTrim += std::count_if(outcomes.begin(), outcomes.end(), [](Outcome o) { return o != Outcome::Success; });
    const bool trim = RefusalTrimDue(m_refusedSinceTrim, batch.refusedKept);
    if (trim && !SummariseRefused(std::max<int64_t>(batch.refusedKept, 0)))
        return Fail("summarise refusals"), std::nullopt;
    if (!WriteFigures(Tally(batch, outcomes))) return Fail("counts"), std::nullopt;
    // Checked again just before the commit: once the file is gone, nothing more is acknowledged.
    if (!Healthy()) return Fail("database file"), std::nullopt;
    const auto written = std::chrono::steady_clock::now();
    if (!Exec("COMMIT")) return Fail("commit"), std::nullopt;
    if (trim) m_refusedSinceTrim = 0;
    m_timing = Timing({{"facts", m_factsTime},
                       {"statements", written - start - m_factsTime},
                       {"commit", std::chrono::steady_clock::now() - written}});
    return outcomes;
}

std::optional<DashboardData> SqliteStorage::Dashboard() {
    if (!Exec("BEGIN")) return Fail("begin"), std::nullopt;  // one snapshot for every figure
    DashboardBuilder data;
    {
        Stmt q;
        if (!q.Prepare(m_db, "SELECT outcome, n FROM outcome_counts")) return Fail("totals"), std::nullopt;
        int rc;
        while ((rc = q.Step()) == SQLITE_ROW) data.Outcome(q.Text(0), q.Int(1));
        if (rc != SQLITE_DONE) return Fail("totals"), std::nullopt;
    }
    {
        Stmt q;
        if (!q.Prepare(m_db, "SELECT hour, successes, refusals, malformed FROM timeline"))
            return Fail("timeline"), std::nullopt;
        int rc;
        while ((rc = q.Step()) == SQLITE_ROW) data.Hour(q.Int(0), q.Int(1), q.Int(2), q.Int(3));
        if (rc != SQLITE_DONE) return Fail("timeline"), std::nullopt;
    }
    {
        Stmt q;
        if (!q.Prepare(m_db, "SELECT aspect, label, n FROM hardware_counts")) return Fail("hardware"), std::nullopt;
        int rc;
        while ((rc = q.Step()) == SQLITE_ROW) data.Hardware(q.Text(0), q.Text(1), q.Int(2));
        if (rc != SQLITE_DONE) return Fail("hardware"), std::nullopt;
    }
    {
        Stmt q;
        if (!q.Prepare(m_db, "SELECT count(*) FROM accounts") || q.Step() != SQLITE_ROW)
            return Fail("accounts"), std::nullopt;
        data.RegisteredAccounts(q.Int(0));
    }
    {
        Stmt q;
        if (!q.Prepare(m_db, "SELECT coalesce(sum(n), 0) FROM refused_summary") || q.Step() != SQLITE_ROW)
            return Fail("summary"), std::nullopt;
        data.SummarisedRefusals(q.Int(0));
        if (!q.Prepare(m_db, "SELECT count(*) FROM revoked_enrolments") || q.Step() != SQLITE_ROW)
            return Fail("revoked"), std::nullopt;
        data.Revoked(q.Int(0));
    }
    Exec("COMMIT");
    return data.Finish();
}

std::optional<AccountPage> SqliteStorage::Accounts(int64_t page) {
    Stmt count, q;
    AccountPage result;
    result.page = std::max<int64_t>(page, 1);
    if (!Exec("BEGIN")) return Fail("accounts"), std::nullopt;  // the count and the page from one snapshot
    if (!count.Prepare(m_db, "SELECT count(*) FROM accounts") || count.Step() != SQLITE_ROW ||
        !q.Prepare(m_db,
                   "SELECT a.name, a.registered_at, e.account_key IS NOT NULL FROM accounts a "
                   "LEFT JOIN enrolments e ON e.account_key = a.account_key ORDER BY a.rowid LIMIT ? OFFSET ?"))
        return Fail("accounts"), std::nullopt;
    result.total = count.Int(0);
    count.Reset();
    q.Bind(1, kAccountsPerPage).Bind(2, (result.page - 1) * kAccountsPerPage);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) result.rows.push_back({q.Text(0), q.Int(1), q.Int(2) != 0});
    if (rc != SQLITE_DONE) return Fail("accounts"), std::nullopt;
    q.Reset();
    Exec("COMMIT");
    return result;
}

bool SqliteStorage::Export(const std::function<bool(const ReportRow&)>& sink) {
    Stmt q;
    if (!q.Prepare(m_db, (std::string("SELECT ") + kReportColumns + " FROM reports ORDER BY id").c_str()))
        return Fail("export");
    int rc;
    ReportRow row;
    while ((rc = q.Step()) == SQLITE_ROW) {
        ReadReportRow(q, row);
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
    while ((rc = q.Step()) == SQLITE_ROW) rows.push_back({q.Bytes(0), q.Text(1), q.Text(2), q.Int(3)});
    if (rc != SQLITE_DONE) return Fail("samples"), std::nullopt;
    return rows;
}

}  // namespace

std::optional<int64_t> SqliteStorage::CreateWave(const std::string& name, const std::string& params, int64_t now) {
    Stmt q;
    if (!q.Prepare(m_db,
                   "INSERT INTO waves(id, name, params, state, created_at) "
                   "SELECT coalesce(max(id), 0) + 1, ?1, ?2, 'created', ?3 FROM waves RETURNING id") ||
        q.Bind(1, name).Bind(2, params).Bind(3, now).Step() != SQLITE_ROW)
        return Fail("wave"), std::nullopt;
    const int64_t id = q.Int(0);
    return q.Step() == SQLITE_DONE ? std::optional<int64_t>(id) : (Fail("wave"), std::nullopt);
}

std::optional<std::vector<Draw::WaveRecord>> SqliteStorage::Waves() {
    Stmt q;
    if (!q.Prepare(m_db, (std::string("SELECT ") + kWaveColumns + " FROM waves ORDER BY id").c_str()))
        return Fail("waves"), std::nullopt;
    std::vector<Draw::WaveRecord> waves;
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) waves.push_back(ReadWave(q));
    if (rc != SQLITE_DONE) return Fail("waves"), std::nullopt;
    return waves;
}

std::optional<Draw::WaveRecord> SqliteStorage::Wave(int64_t id) {
    Stmt q;
    if (!q.Prepare(m_db, (std::string("SELECT ") + kWaveColumns + " FROM waves WHERE id = ?").c_str()))
        return Fail("wave"), std::nullopt;
    const int rc = q.Bind(1, id).Step();
    if (rc == SQLITE_ROW) return ReadWave(q);
    if (rc == SQLITE_DONE) return Draw::WaveRecord{};
    return Fail("wave"), std::nullopt;
}

namespace {

// One part of a freeze's read: a range of enrolments on a connection of its own, its read transaction begun.
struct EligiblePart {
    Connection owner;
    Stmt query;
    int rc = SQLITE_DONE;  // of the first step, which took the part's snapshot
    std::string error;

    bool Start(const std::string& path, const std::string& sql, bool requireRegistered) {
        const int opened = sqlite3_open_v2(path.c_str(), owner.Put(), SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        if (opened != SQLITE_OK) return Failed("eligible");
        sqlite3_busy_timeout(owner.Get(), 30000);
        if (sqlite3_exec(owner.Get(), "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK ||
            !query.Prepare(owner.Get(), sql.c_str()))
            return Failed("eligible");
        query.Bind(1, int64_t{requireRegistered});
        rc = query.Step();
        return rc == SQLITE_ROW || rc == SQLITE_DONE || Failed("eligible");
    }
    bool Read(const MachineSink& sink) {
        ReportRow row;
        for (; rc == SQLITE_ROW; rc = query.Step()) {
            ReadReportRow(query, row);
            sink(query.Text(kMachineKeyColumn), row.report);
        }
        return rc == SQLITE_DONE || Failed("eligible");
    }
    bool Failed(const char* what) {
        error = std::string(what) + ": " + (owner.Get() ? sqlite3_errmsg(owner.Get()) : "out of memory");
        return false;
    }
};

}  // namespace

bool SqliteStorage::EligibleMachines(bool requireRegistered, const std::vector<MachineSink>& sinks) {
    // A part of the enrolments per sink, read side by side, each on its own connection. Every part takes its
    // snapshot while this connection holds the write lock, so no commit falls between them: together they are
    // the enrolments of one moment, whatever the writer commits meanwhile. The lock is held only until each
    // part has its snapshot, a few milliseconds, not for the read.
    const size_t parts = std::max<size_t>(sinks.size(), 1);
    Stmt bounds;
    if (!Exec("BEGIN IMMEDIATE")) return Fail("eligible");
    if (!bounds.Prepare(m_db, "SELECT coalesce(min(rowid), 1) - 1, coalesce(max(rowid), 0) FROM enrolments") ||
        bounds.Step() != SQLITE_ROW)
        return Fail("eligible");
    const int64_t low = bounds.Int(0), high = bounds.Int(1);
    std::vector<EligiblePart> part(parts);
    bool started = true;
    for (size_t i = 0; i < parts && started; ++i) {
        // Enrolments in their order, each report found by its rowid: no temporary table of a million ids.
        const int64_t from = low + (high - low) * static_cast<int64_t>(i) / static_cast<int64_t>(parts);
        const int64_t to = low + (high - low) * static_cast<int64_t>(i + 1) / static_cast<int64_t>(parts);
        started = part[i].Start(m_path,
                                std::string("SELECT ") + kEligibleColumns +
                                    " FROM enrolments e CROSS JOIN reports r ON r.id = e.report_id WHERE " +
                                    kEligibleEnrolment + " AND e.rowid > " + std::to_string(from) +
                                    " AND e.rowid <= " + std::to_string(to),
                                requireRegistered);
    }
    Exec("ROLLBACK");
    std::vector<std::future<bool>> others;
    for (size_t i = 1; i < parts && started; ++i) {
        try {
            others.push_back(std::async(std::launch::async, [&, i] { return part[i].Read(sinks[i]); }));
        } catch (const std::system_error&) {
            // No thread to be had: this part is read after the first, in turn.
            others.push_back(std::async(std::launch::deferred, [&, i] { return part[i].Read(sinks[i]); }));
        }
    }
    bool ok = started && part[0].Read(sinks[0]);
    for (auto& other : others) ok = other.get() && ok;
    for (const auto& p : part)
        if (!p.error.empty()) return m_lastError = p.error, false;
    return ok;
}

bool SqliteStorage::MachinesOf(const std::vector<std::string>& accountKeys, const MachineSink& sink) {
    Stmt q;
    if (!q.Prepare(m_db, (std::string("SELECT ") + kMachineColumns +
                          " FROM reports WHERE id = (SELECT report_id FROM enrolments WHERE account_key = ?)")
                             .c_str()) ||
        !Exec("BEGIN"))
        return Fail("machines");
    ReportRow row;
    for (const auto& key : accountKeys) {
        const int rc = q.Reset().Bind(1, key).Step();
        if (rc == SQLITE_ROW) {
            ReadReportRow(q, row);
            sink(key, row.report);
        } else if (rc != SQLITE_DONE) {
            return Fail("machines");
        }
    }
    return Exec("COMMIT") || Fail("machines");
}

WaveChange SqliteStorage::BeginStep(int64_t id, Draw::WaveState from) {
    Stmt q;
    if (!Exec("BEGIN IMMEDIATE")) return WaveChange::Failed;
    if (!q.Prepare(m_db, "SELECT state FROM waves WHERE id = ?")) return Fail("wave"), WaveChange::Failed;
    const int rc = q.Bind(1, id).Step();
    WaveChange change = WaveChange::Done;
    if (rc == SQLITE_DONE) change = WaveChange::NoWave;
    else if (rc != SQLITE_ROW) return Fail("wave"), WaveChange::Failed;
    else if (q.Text(0) != Draw::WaveStateName(from)) change = WaveChange::WrongState;
    if (change != WaveChange::Done) Exec("ROLLBACK");
    return change;
}

WaveChange SqliteStorage::EndStep(bool ok, const char* what) {
    if (ok && Exec("COMMIT")) return WaveChange::Done;
    Fail(what);
    return WaveChange::Failed;
}

bool SqliteStorage::AddHardware(int64_t id, const char* side, const HardwareCounts& counts) {
    Stmt q;
    if (!q.Prepare(m_db, "INSERT INTO wave_hardware(wave_id, side, aspect, label, n) VALUES(?, ?, ?, ?, ?)")) return false;
    for (const auto& [aspect, labels] : counts)
        for (const auto& [label, n] : labels)
            if (q.Reset().Bind(1, id).Bind(2, std::string_view(side)).Bind(3, aspect).Bind(4, label).Bind(5, n).Step() !=
                SQLITE_DONE)
                return false;
    return true;
}

WaveChange SqliteStorage::SaveFrozen(int64_t id, const FrozenWave& frozen, int64_t now) {
    if (const auto change = BeginStep(id, Draw::WaveState::Created); change != WaveChange::Done) return change;
    Stmt busy, update, file;
    if (!busy.Prepare(m_db, "SELECT 1 FROM waves WHERE state IN ('frozen', 'seeded') AND id <> ?"))
        return EndStep(false, "freeze");
    const int rc = busy.Bind(1, id).Step();
    if (rc == SQLITE_ROW) return Exec("ROLLBACK"), WaveChange::Busy;
    const bool ok =
        rc == SQLITE_DONE &&
        update.Prepare(m_db,
                       "UPDATE waves SET state = 'frozen', frozen_at = ?, list_sha256 = ?, list_count = ?, "
                       "eligible_machines = ? WHERE id = ?") &&
        update.Bind(1, now).Bind(2, frozen.sha256).Bind(3, frozen.count).Bind(4, frozen.machines).Bind(5, id).Step() ==
            SQLITE_DONE &&
        file.Prepare(m_db, "INSERT INTO wave_files(wave_id, kind, body) VALUES(?, 'list', ?)") &&
        file.Bind(1, id).BindLargeBlob(2, frozen.csv).Step() == SQLITE_DONE && AddHardware(id, "eligible", frozen.hardware);
    return EndStep(ok, "freeze");
}

WaveChange SqliteStorage::SaveSeed(int64_t id, const std::string& seed, int64_t now) {
    if (const auto change = BeginStep(id, Draw::WaveState::Frozen); change != WaveChange::Done) return change;
    Stmt q;
    const bool ok = q.Prepare(m_db, "UPDATE waves SET state = 'seeded', seed = ?, seeded_at = ? WHERE id = ?") &&
                    q.Bind(1, seed).Bind(2, now).Bind(3, id).Step() == SQLITE_DONE;
    return EndStep(ok, "seed");
}

WaveChange SqliteStorage::SaveDraw(int64_t id, const DrawnWave& drawn, int64_t now) {
    if (const auto change = BeginStep(id, Draw::WaveState::Seeded); change != WaveChange::Done) return change;
    Stmt update, file, chosen;
    bool ok = update.Prepare(m_db,
                             "UPDATE waves SET state = 'drawn', drawn_at = ?, result_sha256 = ?, chosen_machines = ? "
                             "WHERE id = ?") &&
              update.Bind(1, now).Bind(2, drawn.sha256).Bind(3, static_cast<int64_t>(drawn.chosen.size())).Bind(4, id).Step() ==
                  SQLITE_DONE &&
              file.Prepare(m_db, "INSERT INTO wave_files(wave_id, kind, body) VALUES(?, 'result', ?)") &&
              file.Bind(1, id).BindBlob(2, drawn.csv).Step() == SQLITE_DONE &&
              chosen.Prepare(m_db,
                             "INSERT INTO wave_chosen(account_key, wave_id, account, code, withdrawn_at) "
                             "VALUES(?, ?, ?, ?, ?)") &&
              AddHardware(id, "chosen", drawn.hardware);
    for (size_t i = 0; ok && i < drawn.chosen.size(); ++i) {
        const auto& c = drawn.chosen[i];
        ok = chosen.Reset().Bind(1, c.accountKey).Bind(2, id).Bind(3, c.account).Bind(4, c.code).Bind(5, c.withdrawnAt).Step() ==
             SQLITE_DONE;
    }
    return EndStep(ok, "draw");
}

WaveChange SqliteStorage::Publish(int64_t id, int64_t now) {
    if (const auto change = BeginStep(id, Draw::WaveState::Drawn); change != WaveChange::Done) return change;
    Stmt q;
    const bool ok = q.Prepare(m_db, "UPDATE waves SET state = 'published', published_at = ? WHERE id = ?") &&
                    q.Bind(1, now).Bind(2, id).Step() == SQLITE_DONE;
    return EndStep(ok, "publish");
}

std::optional<std::string> SqliteStorage::WaveFile(int64_t id, WaveFileKind kind) {
    Stmt q;
    if (!q.Prepare(m_db, "SELECT body FROM wave_files WHERE wave_id = ? AND kind = ?")) return Fail("file"), std::nullopt;
    const int rc = q.Bind(1, id).Bind(2, std::string_view(WaveFileName(kind))).Step();
    if (rc != SQLITE_ROW) return Fail("file"), std::nullopt;
    return q.Bytes(0);
}

std::optional<WaveCoverage> SqliteStorage::Coverage(int64_t id) {
    Stmt totals, q;
    if (!totals.Prepare(m_db, "SELECT eligible_machines, chosen_machines FROM waves WHERE id = ?") ||
        totals.Bind(1, id).Step() != SQLITE_ROW ||
        !q.Prepare(m_db, "SELECT side, aspect, label, n FROM wave_hardware WHERE wave_id = ?"))
        return Fail("coverage"), std::nullopt;
    WaveCoverage c;
    c.eligibleMachines = totals.Int(0);
    c.chosenMachines = totals.Int(1);
    q.Bind(1, id);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) (q.Text(0) == "chosen" ? c.chosen : c.eligible)[q.Text(1)][q.Text(2)] = q.Int(3);
    if (rc != SQLITE_DONE) return Fail("coverage"), std::nullopt;
    return c;
}

bool SqliteStorage::WaveCodes(int64_t id, const std::function<bool(const Draw::ChosenRow&)>& sink) {
    Stmt q;
    if (!q.Prepare(m_db,
                   "SELECT account, account_key, code, wave_id, withdrawn_at FROM wave_chosen "
                   "WHERE wave_id = ? AND withdrawn_at = 0 ORDER BY account_key"))
        return Fail("codes");
    q.Bind(1, id);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW)
        if (!sink({q.Text(0), q.Text(1), q.Text(2), q.Int(3), q.Int(4)})) return false;
    return rc == SQLITE_DONE || Fail("codes");
}

std::optional<Draw::Standing> SqliteStorage::Standing(const std::string& accountKey) {
    Stmt q;
    if (!q.Prepare(m_db,
                   "SELECT EXISTS (SELECT 1 FROM enrolments WHERE account_key = ?1), coalesce((SELECT c.wave_id "
                   "FROM wave_chosen c JOIN waves w ON w.id = c.wave_id WHERE c.account_key = ?1 AND "
                   "c.withdrawn_at = 0 AND w.state = 'published'), 0)") ||
        q.Bind(1, accountKey).Step() != SQLITE_ROW)
        return Fail("status"), std::nullopt;
    return Draw::Standing{q.Int(0) != 0, q.Int(1)};
}

bool SqliteStorage::MarkWithdrawn(const std::string& accountKey, int64_t now) {
    Stmt q;
    return (q.Prepare(m_db, "UPDATE wave_chosen SET withdrawn_at = ? WHERE account_key = ? AND withdrawn_at = 0") &&
            q.Bind(1, now).Bind(2, accountKey).Step() == SQLITE_DONE) ||
           Fail("withdraw");
}

bool SqliteStorage::CountMachine(int64_t reportId, int64_t n) {
    Stmt q;
    if (!q.Prepare(m_db, (std::string("SELECT ") + kReportColumns + " FROM reports WHERE id = ?").c_str()) ||
        q.Bind(1, reportId).Step() != SQLITE_ROW)
        return false;
    ReportRow row;
    ReadReportRow(q, row);
    BatchFigures f;
    for (auto& label : MachineLabels(row.report)) f.hardware[std::move(label)] += n;
    q.Reset();
    return WriteFigures(f);
}

bool SqliteStorage::Audit(const AuditEntry& e) {
    Stmt q;
    return q.Prepare(m_db, "INSERT INTO audit(at, actor, remote, action, subject, detail) VALUES(?, ?, ?, ?, ?, ?)") &&
           q.Bind(1, e.at)
                   .Bind(2, e.actor)
                   .Bind(3, e.remote)
                   .Bind(4, std::string_view(AuditActionName(e.action)))
                   .Bind(5, e.subject)
                   .Bind(6, e.detail)
                   .Step() == SQLITE_DONE;
}

// BEGIN IMMEDIATE holds the write lock from the first read: no report of any writer commits in between.
EnrolmentChange SqliteStorage::Revoke(const std::string& accountKey, const AuditEntry& audit) {
    if (!Healthy()) return EnrolmentChange::Failed;
    if (!Exec("BEGIN IMMEDIATE")) return Undo("revoke");
    Stmt find, keep, remove, points, withdraw;
    if (!find.Prepare(m_db, "SELECT report_id FROM enrolments WHERE account_key = ?")) return Undo("revoke");
    const int rc = find.Bind(1, accountKey).Step();
    if (rc == SQLITE_DONE) return Exec("ROLLBACK"), EnrolmentChange::Missing;
    if (rc != SQLITE_ROW) return Undo("revoke");
    const int64_t reportId = find.Int(0);
    find.Reset();
    const bool ok =
        keep.Prepare(m_db,
                     "INSERT INTO revoked_enrolments(report_id, account, account_key, machine_key, fingerprint, points, "
                     "enrolled_at, revoked_at) SELECT report_id, account, account_key, machine_key, fingerprint, points, "
                     "enrolled_at, ? FROM enrolments WHERE report_id = ?") &&
        keep.Bind(1, audit.at).Bind(2, reportId).Step() == SQLITE_DONE &&
        remove.Prepare(m_db, "DELETE FROM enrolments WHERE report_id = ?") && remove.Bind(1, reportId).Step() == SQLITE_DONE &&
        points.Prepare(m_db, "UPDATE reports SET points = 0 WHERE id = ?") && points.Bind(1, reportId).Step() == SQLITE_DONE &&
        CountMachine(reportId, -1) &&
        withdraw.Prepare(m_db, "UPDATE wave_chosen SET withdrawn_at = ? WHERE account_key = ? AND withdrawn_at = 0") &&
        withdraw.Bind(1, audit.at).Bind(2, accountKey).Step() == SQLITE_DONE && Audit(audit) && Healthy() &&
        Exec("COMMIT");
    return ok ? EnrolmentChange::Done : Undo("revoke");
}

EnrolmentChange SqliteStorage::Restore(const std::string& accountKey, const AuditEntry& audit) {
    if (!Healthy()) return EnrolmentChange::Failed;
    if (!Exec("BEGIN IMMEDIATE")) return Undo("restore");
    Stmt find, enrol, remove, points, back;
    if (!find.Prepare(m_db,
                      "SELECT report_id, account, machine_key, fingerprint, points, enrolled_at, revoked_at, "
                      "(SELECT received_at FROM reports WHERE id = report_id) FROM revoked_enrolments "
                      "WHERE account_key = ? ORDER BY revoked_at DESC, report_id DESC LIMIT 1"))
        return Undo("restore");
    const int rc = find.Bind(1, accountKey).Step();
    if (rc == SQLITE_DONE) return Exec("ROLLBACK"), EnrolmentChange::Missing;
    if (rc != SQLITE_ROW) return Undo("restore");
    const int64_t reportId = find.Int(0), earned = find.Int(4), enrolledAt = find.Int(5), revokedAt = find.Int(6);
    const std::string account = find.Text(1);
    PendingReport keys = EnrolledKeys(accountKey, find.Text(2), find.Text(3));
    keys.receivedAt = find.Int(7);
    find.Reset();
    const auto facts = Facts(keys);
    if (!facts) return Undo("restore");
    if (const auto decision = RestoreDecision(keys, *facts); decision != EnrolmentChange::Done)
        return Exec("ROLLBACK"), decision;
    const bool ok =
        enrol.Prepare(m_db,
                      "INSERT INTO enrolments(account, account_key, machine_key, fingerprint, report_id, points, "
                      "enrolled_at) VALUES(?, ?, ?, ?, ?, ?, ?)") &&
        enrol.Bind(1, account)
                .Bind(2, accountKey)
                .Bind(3, keys.report.machineKey)
                .Bind(4, keys.fingerprint)
                .Bind(5, reportId)
                .Bind(6, earned)
                .Bind(7, enrolledAt)
                .Step() == SQLITE_DONE &&
        remove.Prepare(m_db, "DELETE FROM revoked_enrolments WHERE report_id = ?") &&
        remove.Bind(1, reportId).Step() == SQLITE_DONE &&
        points.Prepare(m_db, "UPDATE reports SET points = ? WHERE id = ?") &&
        points.Bind(1, earned).Bind(2, reportId).Step() == SQLITE_DONE && CountMachine(reportId, 1) &&
        back.Prepare(m_db, "UPDATE wave_chosen SET withdrawn_at = 0 WHERE account_key = ? AND withdrawn_at = ?") &&
        back.Bind(1, accountKey).Bind(2, revokedAt).Step() == SQLITE_DONE && Audit(audit) && Healthy() && Exec("COMMIT");
    return ok ? EnrolmentChange::Done : Undo("restore");
}

std::optional<bool> SqliteStorage::Revoked(const std::string& accountKey) {
    Stmt q;
    if (!q.Prepare(m_db, "SELECT EXISTS (SELECT 1 FROM revoked_enrolments WHERE account_key = ?)") ||
        q.Bind(1, accountKey).Step() != SQLITE_ROW)
        return Fail("revoked"), std::nullopt;
    return q.Int(0) != 0;
}

EnrolmentChange SqliteStorage::Erase(const std::string& accountKey, const AuditEntry& audit) {
    if (!Healthy()) return EnrolmentChange::Failed;
    if (!Exec("BEGIN IMMEDIATE")) return Undo("erase");
    Stmt reports, registration;
    if (!reports.Prepare(m_db, "UPDATE reports SET raw = NULL, computer_name = '', remote = '' WHERE account_key = ?") ||
        reports.Bind(1, accountKey).Step() != SQLITE_DONE)
        return Undo("erase");
    const int changed = sqlite3_changes(m_db);
    if (!registration.Prepare(m_db, "UPDATE accounts SET remote = '' WHERE account_key = ?") ||
        registration.Bind(1, accountKey).Step() != SQLITE_DONE)
        return Undo("erase");
    if (changed + sqlite3_changes(m_db) == 0) return Exec("ROLLBACK"), EnrolmentChange::Missing;
    return Audit(audit) && Healthy() && Exec("COMMIT") ? EnrolmentChange::Done : Undo("erase");
}

std::unique_ptr<Storage> OpenSqliteStorage(const std::string& path, std::string& error) {
    auto storage = std::make_unique<SqliteStorage>();
    if (!storage->Open(path, error)) return nullptr;
    return storage;
}

}  // namespace Service
