// The staff tables in the service's SQLite file.
#include <sqlite3.h>

#include <algorithm>
#include <memory>

#include "service/storage/staff_store.h"
#include "service/storage/support_queries.h"

namespace Service {

namespace {

const char* const kStaffSchema = R"sql(
CREATE TABLE IF NOT EXISTS staff(
  name TEXT PRIMARY KEY,
  role TEXT NOT NULL CHECK(role IN ('viewer', 'support', 'admin')),
  password_hash TEXT NOT NULL,
  disabled INTEGER NOT NULL DEFAULT 0,
  created_at INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS staff_sessions(
  token_hash TEXT PRIMARY KEY,
  staff TEXT NOT NULL REFERENCES staff(name),
  created_at INTEGER NOT NULL,
  last_seen_at INTEGER NOT NULL) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS staff_sessions_by_staff ON staff_sessions(staff);
CREATE TABLE IF NOT EXISTS audit(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  at INTEGER NOT NULL,
  actor TEXT NOT NULL,
  remote TEXT NOT NULL,
  action TEXT NOT NULL,
  subject TEXT NOT NULL,
  detail TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS audit_by_subject ON audit(subject, id);
CREATE TRIGGER IF NOT EXISTS audit_no_update BEFORE UPDATE ON audit
  BEGIN SELECT RAISE(ABORT, 'the audit log is append-only'); END;
CREATE TRIGGER IF NOT EXISTS audit_no_delete BEFORE DELETE ON audit
  BEGIN SELECT RAISE(ABORT, 'the audit log is append-only'); END;
)sql";

struct Finalize {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
struct Close {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

class SqliteStaffStore final : public StaffStore {
public:
    bool Open(const std::string& path, std::string& error) {
        sqlite3* db = nullptr;
        const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        m_db.reset(db);
        if (rc != SQLITE_OK) {
            error = db ? sqlite3_errmsg(db) : "out of memory";
            return false;
        }
        sqlite3_busy_timeout(db, 30000);
        if (!Exec("PRAGMA foreign_keys=ON") || !Exec("PRAGMA synchronous=FULL") || !Exec("BEGIN IMMEDIATE") ||
            !Exec(kStaffSchema) || !Exec("COMMIT")) {
            error = m_error;
            return false;
        }
        return true;
    }

    StaffWrite AddStaff(const StaffAccount& a, const AuditEntry& audit) override {
        return Write(audit, [&] {
            auto s = Prepare("INSERT INTO staff(name, role, password_hash, disabled, created_at) VALUES(?, ?, ?, ?, ?)");
            if (!s) return StaffWrite::Failed;
            Bind(s, 1, a.name);
            Bind(s, 2, RoleName(a.role));
            Bind(s, 3, a.passwordHash);
            sqlite3_bind_int(s.get(), 4, a.disabled ? 1 : 0);
            sqlite3_bind_int64(s.get(), 5, a.createdAt);
            const int rc = sqlite3_step(s.get());
            if (rc == SQLITE_DONE) return StaffWrite::Done;
            // Only the name's own uniqueness means "exists"; any other constraint is a failure.
            if (sqlite3_extended_errcode(m_db.get()) == SQLITE_CONSTRAINT_PRIMARYKEY) return StaffWrite::Exists;
            return Fail();
        });
    }

    StaffWrite SetPassword(const std::string& name, const std::string& hash, const AuditEntry& audit) override {
        return Write(audit, [&] {
            return ChangeAndEndSessions("UPDATE staff SET password_hash = ?2 WHERE name = ?1", name, hash);
        });
    }

    StaffWrite Disable(const std::string& name, const AuditEntry& audit) override {
        return Write(audit, [&] { return ChangeAndEndSessions("UPDATE staff SET disabled = 1 WHERE name = ?1", name, {}); });
    }

    StaffWrite SetRole(const std::string& name, Role role, const AuditEntry& audit) override {
        return Write(audit, [&] {
            auto s = Prepare("UPDATE staff SET role = ?2 WHERE name = ?1");
            if (!s) return StaffWrite::Failed;
            Bind(s, 1, name);
            Bind(s, 2, RoleName(role));
            if (sqlite3_step(s.get()) != SQLITE_DONE) return Fail();
            return sqlite3_changes(m_db.get()) == 0 ? StaffWrite::Missing : StaffWrite::Done;
        });
    }

    std::optional<std::vector<StaffAccount>> ListStaff() override {
        auto s = Prepare("SELECT name, role, password_hash, disabled, created_at FROM staff ORDER BY name");
        if (!s) return std::nullopt;
        std::vector<StaffAccount> all;
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) all.push_back(Account(s.get(), 0));
        if (rc != SQLITE_DONE) return Fail(), std::nullopt;
        return all;
    }

    std::optional<std::optional<StaffAccount>> FindStaff(const std::string& name) override {
        auto s = Prepare("SELECT name, role, password_hash, disabled, created_at FROM staff WHERE name = ?");
        if (!s) return std::nullopt;
        Bind(s, 1, name);
        const int rc = sqlite3_step(s.get());
        if (rc == SQLITE_ROW) return std::optional<StaffAccount>(Account(s.get(), 0));
        if (rc == SQLITE_DONE) return std::optional<StaffAccount>();
        Fail();
        return std::nullopt;
    }

    bool StartSession(const Sessions::SessionRecord& fresh, const std::string& endedTokenHash,
                      const AuditEntry& audit) override {
        return Write(audit, [&] {
            auto end = Prepare("DELETE FROM staff_sessions WHERE token_hash = ?");
            auto add = Prepare("INSERT INTO staff_sessions(token_hash, staff, created_at, last_seen_at) VALUES(?, ?, ?, ?)");
            if (!end || !add) return StaffWrite::Failed;
            Bind(end, 1, endedTokenHash);
            Bind(add, 1, fresh.tokenHash);
            Bind(add, 2, fresh.staff);
            sqlite3_bind_int64(add.get(), 3, fresh.createdAt);
            sqlite3_bind_int64(add.get(), 4, fresh.lastSeenAt);
            if (sqlite3_step(end.get()) != SQLITE_DONE || sqlite3_step(add.get()) != SQLITE_DONE) return Fail();
            return StaffWrite::Done;
        }) == StaffWrite::Done;
    }

    std::optional<std::optional<FoundSession>> FindSession(const std::string& tokenHash) override {
        auto s = Prepare(
            "SELECT s.token_hash, s.staff, s.created_at, s.last_seen_at, a.name, a.role, a.password_hash, a.disabled, "
            "a.created_at FROM staff_sessions s JOIN staff a ON a.name = s.staff WHERE s.token_hash = ?");
        if (!s) return std::nullopt;
        Bind(s, 1, tokenHash);
        const int rc = sqlite3_step(s.get());
        if (rc == SQLITE_DONE) return std::optional<FoundSession>();
        if (rc != SQLITE_ROW) return Fail(), std::nullopt;
        FoundSession found;
        found.session = {Text(s.get(), 0), Text(s.get(), 1), sqlite3_column_int64(s.get(), 2),
                         sqlite3_column_int64(s.get(), 3)};
        found.staff = Account(s.get(), 4);
        return std::optional<FoundSession>(std::move(found));
    }

    bool TouchSession(const std::string& tokenHash, int64_t now) override {
        auto s = Prepare("UPDATE staff_sessions SET last_seen_at = max(last_seen_at, ?2) WHERE token_hash = ?1");
        if (!s) return false;
        Bind(s, 1, tokenHash);
        sqlite3_bind_int64(s.get(), 2, now);
        return sqlite3_step(s.get()) == SQLITE_DONE || (Fail(), false);
    }

    bool EndSession(const std::string& tokenHash, const AuditEntry* audit) override {
        const auto end = [&] {
            auto s = Prepare("DELETE FROM staff_sessions WHERE token_hash = ?");
            if (!s) return StaffWrite::Failed;
            Bind(s, 1, tokenHash);
            return sqlite3_step(s.get()) == SQLITE_DONE ? StaffWrite::Done : Fail();
        };
        if (!audit) return end() == StaffWrite::Done;
        return Write(*audit, end) == StaffWrite::Done;
    }

    std::optional<int64_t> EndSessionsOver(int64_t now) override {
        auto s = Prepare("DELETE FROM staff_sessions WHERE created_at <= ?1 OR max(last_seen_at, created_at) <= ?2");
        if (!s) return std::nullopt;
        sqlite3_bind_int64(s.get(), 1, now - Sessions::kAbsoluteSeconds);
        sqlite3_bind_int64(s.get(), 2, now - Sessions::kIdleSeconds);
        if (sqlite3_step(s.get()) != SQLITE_DONE) return Fail(), std::nullopt;
        return sqlite3_changes(m_db.get());
    }

    bool Append(const AuditEntry& entry) override { return Insert(entry); }

    bool ReadAudit(const AuditFilter& f, size_t limit, const std::function<bool(const AuditEntry&)>& sink) override {
        auto s = Prepare(
            "SELECT id, at, actor, remote, action, subject, detail FROM audit WHERE (?1 = '' OR actor = ?1) AND "
            "(?2 = '' OR action = ?2) AND (?3 = '' OR subject = ?3) AND "
            "(?4 = '' OR instr(subject, ?4) > 0 OR instr(detail, ?4) > 0) AND (?5 = 0 OR at >= ?5) AND "
            "(?6 = 0 OR at < ?6) AND (?7 = 0 OR id < ?7) ORDER BY id DESC LIMIT ?8");
        if (!s) return false;
        Bind(s, 1, f.actor);
        Bind(s, 2, f.action ? AuditActionName(*f.action) : "");
        Bind(s, 3, f.subject);
        Bind(s, 4, f.text);
        sqlite3_bind_int64(s.get(), 5, f.from);
        sqlite3_bind_int64(s.get(), 6, f.until);
        sqlite3_bind_int64(s.get(), 7, f.beforeId);
        sqlite3_bind_int64(s.get(), 8, static_cast<sqlite3_int64>(limit));
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
            AuditEntry e;
            e.id = sqlite3_column_int64(s.get(), 0);
            e.at = sqlite3_column_int64(s.get(), 1);
            e.actor = Text(s.get(), 2);
            e.remote = Text(s.get(), 3);
            e.action = ParseAuditAction(Text(s.get(), 4)).value_or(AuditAction::Login);
            e.subject = Text(s.get(), 5);
            e.detail = Text(s.get(), 6);
            if (!sink(e)) return false;
        }
        return rc == SQLITE_DONE || (Fail(), false);
    }

    std::optional<std::vector<SearchHit>> Search(const SupportQuery& query) override {
        std::vector<SearchHit> hits;
        if (!Query(SupportQueries::kSearch, SupportQueries::SearchParameters(query),
                   [&](const SupportQueries::Row& row) { hits.push_back(SupportQueries::ReadHit(row)); }))
            return std::nullopt;
        return hits;
    }

    std::optional<Attempts> AccountAttempts(const std::string& accountKey) override {
        return ReadAttempts(SupportQueries::kAccountAttempts, SupportQueries::kEnrolmentOfAccount, accountKey);
    }

    std::optional<Attempts> MachineAttempts(const std::string& machineKey) override {
        return ReadAttempts(SupportQueries::kMachineAttempts, SupportQueries::kEnrolmentOfMachine, machineKey);
    }

    std::optional<std::vector<EnrolmentRow>> Enrolments() override {
        std::vector<EnrolmentRow> rows;
        if (!Query(SupportQueries::kEnrolments, {},
                   [&](const SupportQueries::Row& row) { rows.push_back(SupportQueries::ReadEnrolment(row)); }))
            return std::nullopt;
        return rows;
    }

    std::optional<std::vector<std::pair<std::string, int64_t>>> OutcomeCounts() override {
        std::vector<std::pair<std::string, int64_t>> counts;
        if (!Query(SupportQueries::kOutcomeCounts, {},
                   [&](const SupportQueries::Row& row) { counts.emplace_back(row.Text(0), row.Int(1)); }))
            return std::nullopt;
        return counts;
    }

    std::string LastError() const override { return m_error; }

private:
    class Row final : public SupportQueries::Row {
    public:
        explicit Row(sqlite3_stmt* s) : m_s(s) {}
        std::string Text(int column) const override { return SqliteStaffStore::Text(m_s, column); }
        int64_t Int(int column) const override { return sqlite3_column_int64(m_s, column); }

    private:
        sqlite3_stmt* m_s;
    };
    // A statement written with $N parameters (as for both backends), each bound as text.
    template <typename Each>
    bool Query(const char* sql, const std::vector<std::string>& params, Each each) {
        std::string text(sql);
        std::replace(text.begin(), text.end(), '$', '?');
        auto s = Prepare(text.c_str());
        if (!s) return false;
        for (size_t i = 0; i < params.size(); ++i) Bind(s, static_cast<int>(i + 1), params[i]);
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) each(Row(s.get()));
        return rc == SQLITE_DONE || (Fail(), false);
    }
    std::optional<Attempts> ReadAttempts(const char* reportsSql, const char* enrolmentSql, const std::string& key) {
        Attempts a;
        if (!Query(reportsSql, {key}, [&](const SupportQueries::Row& row) { a.reports.push_back(SupportQueries::ReadAttempt(row)); }) ||
            !Query(enrolmentSql, {key}, [&](const SupportQueries::Row& row) { a.enrolment = SupportQueries::ReadEnrolment(row); }))
            return std::nullopt;
        std::reverse(a.reports.begin(), a.reports.end());
        return a;
    }

    bool Exec(const char* sql) {
        char* message = nullptr;
        if (sqlite3_exec(m_db.get(), sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
        m_error = message ? message : sqlite3_errmsg(m_db.get());
        sqlite3_free(message);
        return false;
    }
    Statement Prepare(const char* sql) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(m_db.get(), sql, -1, &s, nullptr) != SQLITE_OK) Fail();
        return Statement(s);
    }
    static void Bind(const Statement& s, int i, const std::string& v) {
        sqlite3_bind_text(s.get(), i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    static std::string Text(sqlite3_stmt* s, int i) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(s, i))) : std::string();
    }
    static StaffAccount Account(sqlite3_stmt* s, int first) {
        StaffAccount a;
        a.name = Text(s, first);
        a.role = ParseRole(Text(s, first + 1)).value_or(Role::Viewer);
        a.passwordHash = Text(s, first + 2);
        a.disabled = sqlite3_column_int(s, first + 3) != 0;
        a.createdAt = sqlite3_column_int64(s, first + 4);
        return a;
    }
    StaffWrite Fail() {
        m_error = sqlite3_errmsg(m_db.get());
        return StaffWrite::Failed;
    }
    bool Insert(const AuditEntry& e) {
        auto s = Prepare("INSERT INTO audit(at, actor, remote, action, subject, detail) VALUES(?, ?, ?, ?, ?, ?)");
        if (!s) return false;
        sqlite3_bind_int64(s.get(), 1, e.at);
        Bind(s, 2, e.actor);
        Bind(s, 3, e.remote);
        Bind(s, 4, AuditActionName(e.action));
        Bind(s, 5, e.subject);
        Bind(s, 6, e.detail);
        return sqlite3_step(s.get()) == SQLITE_DONE || (Fail(), false);
    }
    // The change and its audit entry in one transaction, committed only when both are written.
    template <typename Change>
    StaffWrite Write(const AuditEntry& audit, Change change) {
        if (!Exec("BEGIN IMMEDIATE")) return StaffWrite::Failed;
        const StaffWrite result = change();
        if (result != StaffWrite::Done || !Insert(audit) || !Exec("COMMIT")) {
            const std::string why = m_error;
            Exec("ROLLBACK");
            m_error = why;
            return result == StaffWrite::Done ? StaffWrite::Failed : result;
        }
        return StaffWrite::Done;
    }
    StaffWrite ChangeAndEndSessions(const char* sql, const std::string& name, const std::string& value) {
        auto s = Prepare(sql);
        auto end = Prepare("DELETE FROM staff_sessions WHERE staff = ?");
        if (!s || !end) return StaffWrite::Failed;
        Bind(s, 1, name);
        if (sqlite3_bind_parameter_count(s.get()) > 1) Bind(s, 2, value);
        if (sqlite3_step(s.get()) != SQLITE_DONE) return Fail();
        if (sqlite3_changes(m_db.get()) == 0) return StaffWrite::Missing;
        Bind(end, 1, name);
        return sqlite3_step(end.get()) == SQLITE_DONE ? StaffWrite::Done : Fail();
    }

    std::unique_ptr<sqlite3, Close> m_db;
    std::string m_error;
};

}  // namespace

std::unique_ptr<StaffStore> OpenSqliteStaffStore(const std::string& path, std::string& error) {
    auto store = std::make_unique<SqliteStaffStore>();
    if (!store->Open(path, error)) return nullptr;
    return store;
}

}  // namespace Service
