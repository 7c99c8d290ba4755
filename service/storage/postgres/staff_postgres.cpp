// The staff tables in the service's PostgreSQL database, shared by every instance. The audit table refuses
// UPDATE, DELETE and TRUNCATE by trigger, whatever client asks.
#include <libpq-fe.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <vector>

#include "service/storage/staff_store.h"
#include "service/storage/support_queries.h"

namespace Service {

namespace {

const char* const kStaffSchema = R"sql(
SELECT pg_advisory_xact_lock(7235101);
CREATE TABLE IF NOT EXISTS staff(
  name text PRIMARY KEY,
  role text NOT NULL CHECK(role IN ('viewer', 'support', 'admin')),
  password_hash text NOT NULL,
  disabled boolean NOT NULL DEFAULT false,
  created_at bigint NOT NULL);
CREATE TABLE IF NOT EXISTS staff_sessions(
  token_hash text PRIMARY KEY,
  staff text NOT NULL REFERENCES staff(name),
  created_at bigint NOT NULL,
  last_seen_at bigint NOT NULL);
CREATE INDEX IF NOT EXISTS staff_sessions_by_staff ON staff_sessions(staff);
CREATE TABLE IF NOT EXISTS audit(
  id bigserial PRIMARY KEY,
  at bigint NOT NULL,
  actor text NOT NULL,
  remote text NOT NULL,
  action text NOT NULL,
  subject text NOT NULL,
  detail text NOT NULL);
CREATE INDEX IF NOT EXISTS audit_by_subject ON audit(subject, id);
CREATE OR REPLACE FUNCTION audit_refuse_change() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  RAISE EXCEPTION 'the audit log is append-only';
END $$;
CREATE OR REPLACE TRIGGER audit_append_only BEFORE UPDATE OR DELETE ON audit
  FOR EACH ROW EXECUTE FUNCTION audit_refuse_change();
CREATE OR REPLACE TRIGGER audit_no_truncate BEFORE TRUNCATE ON audit
  FOR EACH STATEMENT EXECUTE FUNCTION audit_refuse_change();
)sql";

struct Clear {
    void operator()(PGresult* r) const { PQclear(r); }
};
struct Finish {
    void operator()(PGconn* c) const { PQfinish(c); }
};
using Result = std::unique_ptr<PGresult, Clear>;

class PgStaffStore final : public StaffStore {
public:
    bool Open(const std::string& url, std::string& error) {
        const char* const keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
        const char* const values[] = {"5", "report-service", url.c_str(), nullptr};
        m_conn.reset(PQconnectdbParams(keywords, values, 1));
        if (!m_conn || PQstatus(m_conn.get()) != CONNECTION_OK) {
            error = std::string("cannot connect to PostgreSQL: ") + (m_conn ? PQerrorMessage(m_conn.get()) : "out of memory");
            return false;
        }
        PQsetNoticeProcessor(m_conn.get(), [](void*, const char*) {}, nullptr);
        if (!Command("BEGIN") || !Command(kStaffSchema) || !Command("COMMIT")) {
            error = m_error;
            return false;
        }
        return true;
    }

    StaffWrite AddStaff(const StaffAccount& a, const AuditEntry& audit) override {
        return Write(audit, [&] {
            Result r = Run("INSERT INTO staff(name, role, password_hash, disabled, created_at) VALUES($1, $2, $3, $4, $5)",
                           {a.name, RoleName(a.role), a.passwordHash, a.disabled ? "true" : "false",
                            std::to_string(a.createdAt)},
                           PGRES_COMMAND_OK);
            if (r) return StaffWrite::Done;
            return m_uniqueViolation ? StaffWrite::Exists : StaffWrite::Failed;
        });
    }

    StaffWrite SetPassword(const std::string& name, const std::string& hash, const AuditEntry& audit) override {
        return Write(audit, [&] {
            return ChangeAndEndSessions("UPDATE staff SET password_hash = $2 WHERE name = $1", {name, hash});
        });
    }

    StaffWrite Disable(const std::string& name, const AuditEntry& audit) override {
        return Write(audit, [&] { return ChangeAndEndSessions("UPDATE staff SET disabled = true WHERE name = $1", {name}); });
    }

    StaffWrite SetRole(const std::string& name, Role role, const AuditEntry& audit) override {
        return Write(audit, [&] {
            Result r = Run("UPDATE staff SET role = $2 WHERE name = $1", {name, RoleName(role)}, PGRES_COMMAND_OK);
            if (!r) return StaffWrite::Failed;
            return std::string_view(PQcmdTuples(r.get())) == "0" ? StaffWrite::Missing : StaffWrite::Done;
        });
    }

    std::optional<std::vector<StaffAccount>> ListStaff() override {
        Result r = Run("SELECT name, role, password_hash, disabled, created_at FROM staff ORDER BY name", {});
        if (!r) return std::nullopt;
        std::vector<StaffAccount> all;
        for (int i = 0; i < PQntuples(r.get()); ++i) all.push_back(Account(r.get(), i, 0));
        return all;
    }

    std::optional<std::optional<StaffAccount>> FindStaff(const std::string& name) override {
        Result r = Run("SELECT name, role, password_hash, disabled, created_at FROM staff WHERE name = $1", {name});
        if (!r) return std::nullopt;
        if (PQntuples(r.get()) == 0) return std::optional<StaffAccount>();
        return std::optional<StaffAccount>(Account(r.get(), 0, 0));
    }

    bool StartSession(const Sessions::SessionRecord& fresh, const std::string& endedTokenHash,
                      const AuditEntry& audit) override {
        return Write(audit, [&] {
            if (!Run("DELETE FROM staff_sessions WHERE token_hash = $1", {endedTokenHash}, PGRES_COMMAND_OK) ||
                !Run("INSERT INTO staff_sessions(token_hash, staff, created_at, last_seen_at) VALUES($1, $2, $3, $4)",
                     {fresh.tokenHash, fresh.staff, std::to_string(fresh.createdAt), std::to_string(fresh.lastSeenAt)},
                     PGRES_COMMAND_OK))
                return StaffWrite::Failed;
            return StaffWrite::Done;
        }) == StaffWrite::Done;
    }

    std::optional<std::optional<FoundSession>> FindSession(const std::string& tokenHash) override {
        Result r = Run("SELECT s.token_hash, s.staff, s.created_at, s.last_seen_at, a.name, a.role, a.password_hash, "
                       "a.disabled, a.created_at FROM staff_sessions s JOIN staff a ON a.name = s.staff "
                       "WHERE s.token_hash = $1",
                       {tokenHash});
        if (!r) return std::nullopt;
        if (PQntuples(r.get()) == 0) return std::optional<FoundSession>();
        FoundSession found;
        found.session = {Text(r.get(), 0, 0), Text(r.get(), 0, 1), Int(r.get(), 0, 2), Int(r.get(), 0, 3)};
        found.staff = Account(r.get(), 0, 4);
        return std::optional<FoundSession>(std::move(found));
    }

    bool TouchSession(const std::string& tokenHash, int64_t now) override {
        return Run("UPDATE staff_sessions SET last_seen_at = greatest(last_seen_at, $2) WHERE token_hash = $1",
                   {tokenHash, std::to_string(now)}, PGRES_COMMAND_OK) != nullptr;
    }

    bool EndSession(const std::string& tokenHash, const AuditEntry* audit) override {
        const auto end = [&] {
            return Run("DELETE FROM staff_sessions WHERE token_hash = $1", {tokenHash}, PGRES_COMMAND_OK)
                       ? StaffWrite::Done
                       : StaffWrite::Failed;
        };
        if (!audit) return end() == StaffWrite::Done;
        return Write(*audit, end) == StaffWrite::Done;
    }

    std::optional<int64_t> EndSessionsOver(int64_t now) override {
        Result r = Run("DELETE FROM staff_sessions WHERE created_at <= $1 OR greatest(last_seen_at, created_at) <= $2",
                       {std::to_string(now - Sessions::kAbsoluteSeconds), std::to_string(now - Sessions::kIdleSeconds)},
                       PGRES_COMMAND_OK);
        if (!r) return std::nullopt;
        return std::strtoll(PQcmdTuples(r.get()), nullptr, 10);
    }

    bool Append(const AuditEntry& entry) override { return Insert(entry); }

    bool ReadAudit(const AuditFilter& f, size_t limit, const std::function<bool(const AuditEntry&)>& sink) override {
        Result r = Run("SELECT id, at, actor, remote, action, subject, detail FROM audit WHERE ($1 = '' OR actor = $1) "
                       "AND ($2 = '' OR action = $2) AND ($3 = '' OR subject = $3) AND "
                       "($4 = '' OR strpos(subject, $4) > 0 OR strpos(detail, $4) > 0) AND ($5::bigint = 0 OR at >= $5) "
                       "AND ($6::bigint = 0 OR at < $6) AND ($7::bigint = 0 OR id < $7) ORDER BY id DESC LIMIT $8",
                       {f.actor, f.action ? AuditActionName(*f.action) : "", f.subject, f.text, std::to_string(f.from),
                        std::to_string(f.until), std::to_string(f.beforeId), std::to_string(limit)});
        if (!r) return false;
        for (int i = 0; i < PQntuples(r.get()); ++i) {
            AuditEntry e;
            e.id = Int(r.get(), i, 0);
            e.at = Int(r.get(), i, 1);
            e.actor = Text(r.get(), i, 2);
            e.remote = Text(r.get(), i, 3);
            e.action = ParseAuditAction(Text(r.get(), i, 4)).value_or(AuditAction::Login);
            e.subject = Text(r.get(), i, 5);
            e.detail = Text(r.get(), i, 6);
            if (!sink(e)) return false;
        }
        return true;
    }

    std::optional<std::vector<SearchHit>> Search(const SupportQuery& query) override {
        static const std::string sql = [] {
            std::string text = SupportQueries::kSearch;
            const std::string from = SupportQueries::kUpperName;
            return text.replace(text.find(from), from.size(), SupportQueries::kUpperNameAscii);
        }();
        Result r = Run(sql.c_str(), SupportQueries::SearchParameters(query));
        if (!r) return std::nullopt;
        std::vector<SearchHit> hits;
        for (int i = 0; i < PQntuples(r.get()); ++i) hits.push_back(SupportQueries::ReadHit(Row(r.get(), i)));
        return hits;
    }

    std::optional<Attempts> AccountAttempts(const std::string& accountKey) override {
        return ReadAttempts(SupportQueries::kAccountAttempts, SupportQueries::kEnrolmentOfAccount, accountKey);
    }

    std::optional<Attempts> MachineAttempts(const std::string& machineKey) override {
        return ReadAttempts(SupportQueries::kMachineAttempts, SupportQueries::kEnrolmentOfMachine, machineKey);
    }

    std::optional<std::vector<EnrolmentRow>> Enrolments() override {
        Result r = Run(SupportQueries::kEnrolments, {});
        if (!r) return std::nullopt;
        std::vector<EnrolmentRow> rows;
        for (int i = 0; i < PQntuples(r.get()); ++i) rows.push_back(SupportQueries::ReadEnrolment(Row(r.get(), i)));
        return rows;
    }

    std::optional<std::vector<std::pair<std::string, int64_t>>> OutcomeCounts() override {
        Result r = Run(SupportQueries::kOutcomeCounts, {});
        if (!r) return std::nullopt;
        std::vector<std::pair<std::string, int64_t>> counts;
        for (int i = 0; i < PQntuples(r.get()); ++i) counts.emplace_back(Text(r.get(), i, 0), Int(r.get(), i, 1));
        return counts;
    }

    std::string LastError() const override { return m_error; }

private:
    class Row final : public SupportQueries::Row {
    public:
        Row(PGresult* r, int row) : m_r(r), m_row(row) {}
        std::string Text(int column) const override { return PgStaffStore::Text(m_r, m_row, column); }
        int64_t Int(int column) const override { return PgStaffStore::Int(m_r, m_row, column); }

    private:
        PGresult* m_r;
        int m_row;
    };
    std::optional<Attempts> ReadAttempts(const char* reportsSql, const char* enrolmentSql, const std::string& key) {
        Result reports = Run(reportsSql, {key});
        Result enrolment = reports ? Run(enrolmentSql, {key}) : nullptr;
        if (!reports || !enrolment) return std::nullopt;
        Attempts a;
        for (int i = PQntuples(reports.get()) - 1; i >= 0; --i)
            a.reports.push_back(SupportQueries::ReadAttempt(Row(reports.get(), i)));
        if (PQntuples(enrolment.get()) > 0) a.enrolment = SupportQueries::ReadEnrolment(Row(enrolment.get(), 0));
        return a;
    }

    // A lost connection is made again once before a statement outside a transaction.
    bool Ready() {
        if (PQstatus(m_conn.get()) == CONNECTION_OK) return true;
        if (m_inTransaction) return false;
        PQreset(m_conn.get());
        return PQstatus(m_conn.get()) == CONNECTION_OK;
    }
    Result Run(const char* sql, const std::vector<std::string>& params, ExecStatusType want = PGRES_TUPLES_OK) {
        m_uniqueViolation = false;
        if (!Ready()) {
            m_error = PQerrorMessage(m_conn.get());
            return nullptr;
        }
        std::vector<const char*> values;
        for (const auto& p : params) values.push_back(p.c_str());
        Result r(PQexecParams(m_conn.get(), sql, static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                              nullptr, 0));
        if (r && PQresultStatus(r.get()) == want) return r;
        const char* state = r ? PQresultErrorField(r.get(), PG_DIAG_SQLSTATE) : nullptr;
        m_uniqueViolation = state && std::string_view(state) == "23505";
        m_error = r ? PQresultErrorMessage(r.get()) : PQerrorMessage(m_conn.get());
        return nullptr;
    }
    bool Command(const char* sql) {
        if (!Ready()) return false;
        Result r(PQexec(m_conn.get(), sql));
        if (r && PQresultStatus(r.get()) == PGRES_COMMAND_OK) return true;
        m_error = r ? PQresultErrorMessage(r.get()) : PQerrorMessage(m_conn.get());
        return false;
    }
    static std::string Text(PGresult* r, int row, int column) { return PQgetvalue(r, row, column); }
    static int64_t Int(PGresult* r, int row, int column) { return std::strtoll(PQgetvalue(r, row, column), nullptr, 10); }
    static StaffAccount Account(PGresult* r, int row, int first) {
        StaffAccount a;
        a.name = Text(r, row, first);
        a.role = ParseRole(Text(r, row, first + 1)).value_or(Role::Viewer);
        a.passwordHash = Text(r, row, first + 2);
        a.disabled = Text(r, row, first + 3) == "t";
        a.createdAt = Int(r, row, first + 4);
        return a;
    }
    bool Insert(const AuditEntry& e) {
        return Run("INSERT INTO audit(at, actor, remote, action, subject, detail) VALUES($1, $2, $3, $4, $5, $6)",
                   {std::to_string(e.at), e.actor, e.remote, AuditActionName(e.action), e.subject, e.detail},
                   PGRES_COMMAND_OK) != nullptr;
    }
    // The change and its audit entry in one transaction, committed only when both are written.
    template <typename Change>
    StaffWrite Write(const AuditEntry& audit, Change change) {
        if (!Command("BEGIN")) return StaffWrite::Failed;
        m_inTransaction = true;
        const StaffWrite result = change();
        const bool ok = result == StaffWrite::Done && Insert(audit) && Command("COMMIT");
        m_inTransaction = false;
        if (!ok) {
            const std::string why = m_error;
            Command("ROLLBACK");
            m_error = why;
            return result == StaffWrite::Done ? StaffWrite::Failed : result;
        }
        return StaffWrite::Done;
    }
    StaffWrite ChangeAndEndSessions(const char* sql, const std::vector<std::string>& params) {
        Result r = Run(sql, params, PGRES_COMMAND_OK);
        if (!r) return StaffWrite::Failed;
        if (std::string_view(PQcmdTuples(r.get())) == "0") return StaffWrite::Missing;
        return Run("DELETE FROM staff_sessions WHERE staff = $1", {params[0]}, PGRES_COMMAND_OK) ? StaffWrite::Done
                                                                                                 : StaffWrite::Failed;
    }

    std::unique_ptr<PGconn, Finish> m_conn;
    bool m_inTransaction = false;
    bool m_uniqueViolation = false;
    std::string m_error;
};

}  // namespace

std::unique_ptr<StaffStore> OpenPostgresStaffStore(const std::string& url, std::string& error) {
    auto store = std::make_unique<PgStaffStore>();
    if (!store->Open(url, error)) return nullptr;
    return store;
}

}  // namespace Service
