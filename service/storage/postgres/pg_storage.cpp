// The PostgreSQL backend over libpq: the tables of schema.sql, one transaction per batch, the rules' last word
// as UNIQUE constraints. Several service instances write to one database at once, so each batch first takes
// transaction-scoped advisory locks on the keys it touches (in one global order, so two batches never
// deadlock), then reads the facts the domain's rules ask for, all reports at once, and writes what they
// decided. The dashboard's counters are spread over shards so instances do not queue on one row.
#include "service/storage/postgres/pg_storage.h"

#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <utility>

#include "base/unique_handle.h"
#include "service/domain/figures.h"
#include "service/domain/machine_labels.h"

namespace Service {

namespace {

using Clock = std::chrono::steady_clock;

// The schema this program writes, by version. A database at an older version gets the later steps at start;
// one at a newer version is refused. Version 2 is the first with PostgreSQL, numbered like the SQLite schema
// it matches.
struct Migration {
    int version;
    const char* sql;
};
const char* const kWaveSchema =
#include "postgres_waves.inc"
    ;
const Migration kMigrations[] = {
    {2,
#include "postgres_schema.inc"
    },
    {3,
#include "postgres_schema_v3.inc"
    },
    {4,
#include "postgres_schema_v4.inc"
    },
    {5,
#include "postgres_schema_v5.inc"
    },
};

constexpr int kShards = 16;
// Pauses between connection attempts while the server is away: short at first, then at most this.
constexpr std::chrono::milliseconds kFirstPause{100}, kLongestPause{2000};

#define REPORT_INSERT                                                                                          \
    "INSERT INTO reports(received_at, remote, outcome, points, account, account_key, mac, cpu_name, cpu_count, " \
    "clock_mhz, memory_mb, displays, resolution, os, computer_name, machine_key, raw, code_page) "               \
    "VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17::bytea, $18::integer)"

// The statements the writer runs for every batch, prepared once per connection.
const std::pair<const char*, const char*> kPrepared[] = {
    {"locks", "SELECT pg_advisory_xact_lock(k) FROM unnest($1::bigint[]) AS k"},
    // What the rules ask about the batch: which of its keys the database holds, one index scan per kind of key
    // rather than a probe per report. $1 account keys, $2 machine keys (with the machine keys the
    // fingerprints have without a MAC), $3 fingerprints, $4 and $5 the days and addresses of (day, address)
    // pairs. Each row is a kind (FactKind), a key and, for an address, its day and count. Many machines may
    // share a fingerprint, so that look-up stops at the first. Each look-up is written so it can only be a
    // probe of an index: a join the planner may turn around would read a whole index per batch. Read under
    // the batch's locks, so nothing else changes the answers until the commit.
    {"facts",
     "SELECT 0, account_key, 0, 0 FROM accounts WHERE account_key = ANY($1::text[]) "
     "UNION ALL SELECT 1, account_key, 0, 0 FROM enrolments WHERE account_key = ANY($1::text[]) "
     "UNION ALL SELECT 2, machine_key, 0, 0 FROM enrolments WHERE machine_key = ANY($2::text[]) "
     "UNION ALL SELECT 3, f, 0, 0 FROM unnest($3::text[]) AS f "
     "CROSS JOIN LATERAL (SELECT 1 FROM enrolments WHERE fingerprint = f LIMIT 1) AS e "
     "UNION ALL SELECT 4, r, d, coalesce((SELECT n FROM address_enrolments WHERE day = d AND address = r), 0) "
     "FROM unnest($4::bigint[], $5::text[]) AS t(d, r)"},
    // A refused report: its row only.
    {"refused", REPORT_INSERT},
    // A success: its row and its enrolment ($19 the fingerprint). A unique constraint that still refuses the
    // enrolment (a writer outside the locks) fails the statement with 23505, and the batch runs again with
    // this report refused.
    {"success",
     "WITH r AS (" REPORT_INSERT " RETURNING id) "
     "INSERT INTO enrolments(account, account_key, machine_key, fingerprint, report_id, points, enrolled_at) "
     "SELECT $5, $6, $16, $19, id, $4, $1 FROM r"},
    // A name for the registered list; none returned when it was registered already.
    {"register",
     "INSERT INTO accounts(name, account_key, registered_at, remote) VALUES($1, $2, $3, $4) "
     "ON CONFLICT (account_key) DO NOTHING RETURNING id"},
    // Refused reports past the newest $1 (the partial index reports_refused walks only them) become counts
    // per UTC day and outcome. Another instance trimming at once waits for the rows and then finds them gone;
    // RETURNING counts only what this one deleted.
    {"summarise_refused",
     "WITH cut AS (SELECT id FROM reports WHERE outcome <> 'success' ORDER BY id DESC LIMIT 1 OFFSET $1), "
     "gone AS (DELETE FROM reports WHERE outcome <> 'success' AND id <= (SELECT id FROM cut) "
     "RETURNING received_at, outcome) "
     "INSERT INTO refused_summary(day, outcome, n) SELECT received_at / 86400, outcome, count(*) FROM gone "
     "GROUP BY 1, 2 ORDER BY 1, 2 "
     "ON CONFLICT (day, outcome) DO UPDATE SET n = refused_summary.n + EXCLUDED.n"},
    {"outcomes",
     "INSERT INTO outcome_counts(outcome, shard, n) SELECT o, $1, n FROM unnest($2::text[], $3::bigint[]) AS t(o, n) "
     "ON CONFLICT (outcome, shard) DO UPDATE SET n = outcome_counts.n + EXCLUDED.n"},
    {"timeline",
     "INSERT INTO timeline(hour, shard, successes, refusals, malformed) "
     "SELECT h, $1, s, r, m FROM unnest($2::bigint[], $3::bigint[], $4::bigint[], $5::bigint[]) AS t(h, s, r, m) "
     "ON CONFLICT (hour, shard) DO UPDATE SET successes = timeline.successes + EXCLUDED.successes, "
     "refusals = timeline.refusals + EXCLUDED.refusals, malformed = timeline.malformed + EXCLUDED.malformed"},
    // A label new past $5 of its aspect is counted as $6; folded rows are summed first, so each key is
    // written once. Scalar sub-queries, so the label is looked up by key rather than the table hashed whole for
    // each batch, and the aspect's labels are counted (at most $5 of them) only for a label it does not have.
    {"hardware",
     "INSERT INTO hardware_counts(aspect, label, shard, n) "
     "SELECT a, k, $1, sum(n) FROM (SELECT a, CASE "
     "WHEN (SELECT true FROM hardware_counts h WHERE h.aspect = a AND h.label = l LIMIT 1) THEN l "
     "WHEN (SELECT count(*) FROM (SELECT DISTINCT h.label FROM hardware_counts h WHERE h.aspect = a LIMIT $5) AS d) "
     "< $5 THEN l ELSE $6 END AS k, n "
     "FROM unnest($2::text[], $3::text[], $4::bigint[]) AS t(a, l, n)) AS folded GROUP BY a, k ORDER BY a, k "
     "ON CONFLICT (aspect, label, shard) DO UPDATE SET n = hardware_counts.n + EXCLUDED.n"},
    {"sample", "INSERT INTO malformed_samples(received_at, remote, reason, body) VALUES($1, $2, $3, $4::bytea)"},
    {"trim",
     "DELETE FROM malformed_samples WHERE id <= (SELECT max(id) FROM malformed_samples) - $1"},
    // Enrolments per address and day; only a day's own and the day before are kept.
    {"address_days",
     "WITH added AS (INSERT INTO address_enrolments(day, address, n) "
     "SELECT d, a, n FROM unnest($1::bigint[], $2::text[], $3::bigint[]) AS t(d, a, n) "
     "ON CONFLICT (day, address) DO UPDATE SET n = address_enrolments.n + EXCLUDED.n RETURNING 1) "
     "DELETE FROM address_enrolments WHERE day < $4 - 1"},
};
#undef REPORT_INSERT

// The kinds of key the facts statement answers for, its first column: the numbers 0 to 4 it writes.
enum FactKind { kRegisteredAccount, kEnrolledAccount, kEnrolledMachine, kEnrolledFingerprint, kAddressDay };
static_assert(kAddressDay == 4, "the facts statement numbers its kinds 0 to 4");

struct ResultTraits {
    using Handle = PGresult*;
    static PGresult* Empty() noexcept { return nullptr; }
    static void Close(PGresult* r) noexcept { PQclear(r); }
};
using Result = Base::UniqueHandle<ResultTraits>;

struct ConnectionTraits {
    using Handle = PGconn*;
    static PGconn* Empty() noexcept { return nullptr; }
    static void Close(PGconn* c) noexcept { PQfinish(c); }
};
using Connection = Base::UniqueHandle<ConnectionTraits>;
static_assert(Base::kIsMoveOnly<Result> && Base::kIsMoveOnly<Connection>, "libpq owners must not be copyable");

// 23505: a unique constraint refused the row. Any other class 23 failure (CHECK, NOT NULL, foreign key) is
// not an answer of the rules and fails the batch.
bool UniqueViolation(const char* state) { return state && std::string_view(state) == "23505"; }

// PostgreSQL text is valid UTF-8 without NUL; anything else would fail the whole batch. The parser hands over
// UTF-8 already, so this only ever replaces what should not be there, with U+FFFD.
std::string PgText(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    for (size_t i = 0; i < n;) {
        const unsigned c = p[i];
        if (c != 0 && c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        size_t len = 0;
        uint32_t cp = 0, least = 0;
        if (c >= 0xC2 && c <= 0xDF) len = 2, cp = c & 0x1F, least = 0x80;
        else if (c >= 0xE0 && c <= 0xEF) len = 3, cp = c & 0x0F, least = 0x800;
        else if (c >= 0xF0 && c <= 0xF4) len = 4, cp = c & 0x07, least = 0x10000;
        bool ok = len > 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) {
            ok = (p[i + k] & 0xC0) == 0x80;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        ok = ok && cp >= least && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        if (ok) {
            out.append(s.substr(i, len));
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

// One statement's parameters, kept alive while it runs. Text as text, bytes in binary form.
class Params {
public:
    Params& Text(std::string_view v) { return Add(PgText(v), 0); }
    Params& Int(int64_t v) { return Add(std::to_string(v), 0); }
    Params& Bool(bool v) { return Add(v ? "t" : "f", 0); }
    Params& Bytes(std::string_view v) { return Add(std::string(v), 1); }
    Params& Null() {
        m_values.emplace_back();
        m_formats.push_back(0);
        m_null.push_back(true);
        return *this;
    }
    // {"a","b"}: a text array literal.
    Params& TextArray(const std::vector<std::string>& items) {
        std::string lit = "{";
        for (const auto& item : items) {
            if (lit.size() > 1) lit += ',';
            lit += '"';
            for (char c : PgText(item)) {
                if (c == '"' || c == '\\') lit += '\\';
                lit += c;
            }
            lit += '"';
        }
        return Add(lit + "}", 0);
    }
    Params& IntArray(const std::vector<int64_t>& items) {
        std::string lit = "{";
        for (const auto item : items) lit += (lit.size() > 1 ? "," : "") + std::to_string(item);
        return Add(lit + "}", 0);
    }

    int Count() const { return static_cast<int>(m_values.size()); }
    void Pointers(std::vector<const char*>& values, std::vector<int>& lengths) const {
        for (size_t i = 0; i < m_values.size(); ++i) {
            values.push_back(m_null[i] ? nullptr : m_values[i].data());
            lengths.push_back(static_cast<int>(m_values[i].size()));
        }
    }
    const int* Formats() const { return m_formats.data(); }

private:
    Params& Add(std::string v, int format) {
        m_values.push_back(std::move(v));
        m_formats.push_back(format);
        m_null.push_back(false);
        return *this;
    }
    std::vector<std::string> m_values;
    std::vector<int> m_formats;
    std::vector<bool> m_null;
};

int64_t Int(const PGresult* r, int row, int col) { return std::strtoll(PQgetvalue(r, row, col), nullptr, 10); }
std::string Text(const PGresult* r, int row, int col) {
    return std::string(PQgetvalue(r, row, col), static_cast<size_t>(PQgetlength(r, row, col)));
}

// What the facts statement found, by kind of key; compared as sent, since text went through PgText on its way.
class HeldKeys {
public:
    explicit HeldKeys(const PGresult* facts) {
        for (int row = 0; row < PQntuples(facts); ++row) {
            const int64_t kind = Int(facts, row, 0);
            if (kind == kAddressDay) m_addressCounts[{Text(facts, row, 1), Int(facts, row, 2)}] = Int(facts, row, 3);
            else if (kind >= 0 && kind < kAddressDay) m_held[kind].insert(Text(facts, row, 1));
        }
    }
    StoredFacts For(const PendingReport& p) const {
        const auto count = m_addressCounts.find({PgText(p.remote), EnrolmentDay(p.receivedAt)});
        return {Holds(kRegisteredAccount, p.accountKey), Holds(kEnrolledAccount, p.accountKey),
                Holds(kEnrolledMachine, p.report.machineKey), Holds(kEnrolledFingerprint, p.fingerprint),
                Holds(kEnrolledMachine, p.fingerprintKey), count == m_addressCounts.end() ? 0 : count->second};
    }

private:
    bool Holds(FactKind kind, const std::string& key) const { return m_held[kind].count(PgText(key)) > 0; }
    std::set<std::string> m_held[kAddressDay];
    std::map<std::pair<std::string, int64_t>, int64_t> m_addressCounts;
};
std::string Bytes(const PGresult* r, int row, int col) {
    if (PQgetisnull(r, row, col)) return {};
    size_t n = 0;
    unsigned char* raw = PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(r, row, col)), &n);
    if (!raw) return {};
    std::string out(reinterpret_cast<const char*>(raw), n);
    PQfreemem(raw);
    return out;
}

// FNV-1a: advisory lock keys for identity keys. A collision only makes two batches wait for each other.
int64_t LockKey(std::string_view kind, std::string_view key) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](std::string_view s) {
        for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    };
    mix(kind);
    mix(std::string_view("\x1f", 1));
    mix(key);
    return static_cast<int64_t>(h);
}

// One result row as the domain's row reader reads it.
struct ResultRow {
    const PGresult* r;
    int row;
    int64_t Int(int col) const { return std::strtoll(PQgetvalue(r, row, col), nullptr, 10); }
    std::string Text(int col) const { return Service::Text(r, row, col); }
    std::string Bytes(int col) const { return Service::Bytes(r, row, col); }
};

class PgStorage final : public Storage {
public:
    explicit PgStorage(std::string url) : m_url(std::move(url)) {}

    bool Open(std::string& error);
    using Storage::Apply;
    std::optional<std::vector<Outcome>> Apply(const Batch& batch, std::vector<RegisterResult>& registered) override;
    std::optional<DashboardData> Dashboard() override { return Reading([this] { return ReadDashboard(); }); }
    std::optional<AccountPage> Accounts(int64_t page) override {
        return Reading([this, page] { return ReadAccounts(page); });
    }
    bool Export(const std::function<bool(const ReportRow&)>& sink) override {
        // Once rows went out, a second try would send them again: only an export that sent nothing is retried.
        bool delivered = false;
        const std::function<bool(const ReportRow&)> counting = [&](const ReportRow& row) {
            delivered = true;
            return sink(row);
        };
        return Reading([&] { return ReadExport(counting) || delivered; }) && !m_exportFailed;
    }
    std::optional<std::vector<MalformedReport>> MalformedSamples() override {
        return Reading([this] { return ReadSamples(); });
    }
    // Connected, or connected again now; false while the server is away.
    bool Healthy() override { return Connected(); }
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
    // Support's changes: once more after a deadlock, or when the enrolment changed between the read that found
    // its keys and the locks on them (once sets again).
    template <class Once>
    EnrolmentChange Changing(Once once);
    EnrolmentChange RevokeOnce(const std::string& accountKey, const AuditEntry& audit, bool& again);
    EnrolmentChange RestoreOnce(const std::string& accountKey, const AuditEntry& audit, bool& again);
    // The writer's own locks on an account's, a machine's and a fingerprint's keys, in its order.
    bool LockKeys(const std::string& accountKey, const std::string& machineKey, const std::string& fingerprint);
    bool CountMachine(const std::string& reportId, int64_t n);
    bool Audit(const AuditEntry& audit);
    Result RunPrepared(const char* name, const Params& params, ExecStatusType want);

    WaveChange BeginStep(int64_t id, Draw::WaveState from);
    WaveChange EndStep(bool ok);
    bool AddHardware(int64_t id, const char* side, const HardwareCounts& counts);


    // A read that failed because the connection had dropped (the server restarted since the last use) runs
    // once more on a new one.
    template <class Read>
    auto Reading(Read read) -> decltype(read()) {
        auto result = read();
        if (!result && Conn() && PQstatus(Conn()) != CONNECTION_OK) {
            Drop();
            m_nextAttempt = {};
            result = read();
        }
        return result;
    }
    std::optional<DashboardData> ReadDashboard();
    std::optional<AccountPage> ReadAccounts(int64_t page);
    bool ReadExport(const std::function<bool(const ReportRow&)>& sink);
    std::optional<std::vector<MalformedReport>> ReadSamples();
    bool Connect();
    bool Connected();
    void Drop();
    bool Migrate();
    // conflicted: the reports whose enrolment a unique constraint refused on an earlier attempt; one more is
    // added when it happens again.
    std::optional<std::vector<Outcome>> ApplyOnce(const Batch& batch, std::set<size_t>& conflicted, bool& commitSent,
                                                  std::vector<RegisterResult>& registered);
    PGconn* Conn() const { return m_owner.Get(); }
    // The statements adding the batch's figures to the dashboard's tables: how many, or kSendFailed.
    static constexpr size_t kSendFailed = ~size_t{0};
    size_t SendFigures(const BatchFigures& figures);
    // Pipeline mode: statements queued without waiting, then every result read at once after a sync.
    bool Send(const char* name, const Params& params);
    bool SendSql(const char* sql);
    // After a failure: m_failedAt is the index of the statement that failed, m_failedState its SQLSTATE.
    // lastAwaited: when every result but the last had arrived, for the timing of a batch's commit.
    bool Collect(size_t count, std::vector<Result>& results, Clock::time_point* lastAwaited = nullptr);
    // A statement, checked for the status it should end with. Null on failure, with the reason in m_lastError.
    Result Run(const char* sql, const Params& params = Params(), ExecStatusType want = PGRES_TUPLES_OK);
    Result Check(PGresult* raw, const char* what, ExecStatusType want);
    bool Command(const char* sql) { return static_cast<bool>(Run(sql, Params(), PGRES_COMMAND_OK)); }
    void Rollback() {
        if (Conn() && PQstatus(Conn()) == CONNECTION_OK && PQtransactionStatus(Conn()) != PQTRANS_IDLE)
            PQclear(PQexec(Conn(), "ROLLBACK"));
    }

    std::string m_url;
    Connection m_owner;
    int m_shard = 0;
    Clock::time_point m_nextAttempt{};
    std::chrono::milliseconds m_pause{0};
    // The last failure was a deadlock, a serialisation conflict or a unique constraint (a writer outside the
    // locks): nothing was written, and the batch may run again on fresh facts.
    bool m_retryable = false;
    bool m_exportFailed = false;  // the last export stopped before its end
    int64_t m_refusedSinceTrim = 0;  // refused reports this instance stored since it last trimmed them
    std::string m_lastError;
    std::string m_timing;
    size_t m_failedAt = 0;
    std::string m_failedState;
};

bool PgStorage::Connect() {
    // Defaults first: whatever the URL sets itself comes later and wins.
    const char* const keywords[] = {"connect_timeout", "keepalives", "keepalives_idle", "keepalives_interval",
                                    "keepalives_count", "application_name", "options", "dbname", nullptr};
    const char* const values[] = {"5", "1", "10", "3", "3", "report-service",
                                  // A batch never takes long; one that does waits for a stuck lock holder.
                                  "-c statement_timeout=15s -c idle_in_transaction_session_timeout=60s "
                                  "-c plan_cache_mode=force_generic_plan",
                                  m_url.c_str(), nullptr};
    m_owner.Reset(PQconnectdbParams(keywords, values, 1));
    if (!Conn() || PQstatus(Conn()) != CONNECTION_OK) {
        m_lastError = std::string("cannot connect to PostgreSQL: ") + (Conn() ? PQerrorMessage(Conn()) : "out of memory");
        // libpq's message spans lines; the log wants one.
        for (char& c : m_lastError)
            if (c == '\n' || c == '\t') c = ' ';
        while (!m_lastError.empty() && m_lastError.back() == ' ') m_lastError.pop_back();
        Drop();
        return false;
    }
    PQsetNoticeProcessor(Conn(), [](void*, const char*) {}, nullptr);
    // A reply follows the commit; with synchronous_commit off the commit could still be lost afterwards.
    if (auto r = Run("SHOW synchronous_commit"); !r || (Text(r.Get(), 0, 0) == "off" && !Command("SET synchronous_commit = on"))) {
        Drop();
        return false;
    }
    std::random_device random;
    m_shard = static_cast<int>(random() % kShards);
    return true;
}

void PgStorage::Drop() { m_owner.Reset(); }

bool PgStorage::Connected() {
    if (Conn() && PQstatus(Conn()) == CONNECTION_OK) return true;
    Drop();
    const auto now = Clock::now();
    if (now < m_nextAttempt) return false;  // m_lastError still says why
    if (Connect()) {
        for (const auto& [name, sql] : kPrepared) {
            if (!Check(PQprepare(Conn(), name, sql, 0, nullptr), name, PGRES_COMMAND_OK)) {
                Drop();
                break;
            }
        }
    }
    if (Conn()) {
        m_pause = std::chrono::milliseconds(0);
        return true;
    }
    m_pause = std::min(kLongestPause, std::max(kFirstPause, m_pause * 2));
    m_nextAttempt = now + m_pause;
    return false;
}

Result PgStorage::Check(PGresult* raw, const char* what, ExecStatusType want) {
    Result r(raw);
    m_retryable = false;
    if (r && PQresultStatus(r.Get()) == want) return r;
    const char* state = r ? PQresultErrorField(r.Get(), PG_DIAG_SQLSTATE) : nullptr;
    // 40001 serialisation failure, 40P01 deadlock, 23505 a unique constraint met outside the locks: the
    // transaction was undone and may simply run again.
    m_retryable = state && (std::string_view(state).substr(0, 2) == "40" || UniqueViolation(state));
    m_lastError = std::string(what) + ": " + (r ? PQresultErrorMessage(r.Get()) : PQerrorMessage(Conn()));
    while (!m_lastError.empty() && (m_lastError.back() == '\n' || m_lastError.back() == ' ')) m_lastError.pop_back();
    return Result();
}

Result PgStorage::Run(const char* sql, const Params& params, ExecStatusType want) {
    std::vector<const char*> values;
    std::vector<int> lengths;
    params.Pointers(values, lengths);
    return Check(PQexecParams(Conn(), sql, params.Count(), nullptr, values.data(), lengths.data(), params.Formats(), 0),
                 sql, want);
}

bool PgStorage::Migrate() {
    // Instances starting together: one migrates, the others wait on the lock and then find it done.
    if (!Command("BEGIN") || !Run("SELECT pg_advisory_xact_lock(7251400)") ||
        !Command("CREATE TABLE IF NOT EXISTS schema_version(version integer NOT NULL)"))
        return Rollback(), false;
    auto q = Run("SELECT max(version), to_regclass('reports') IS NOT NULL FROM schema_version");
    if (!q) return Rollback(), false;
    const int version = PQgetisnull(q.Get(), 0, 0) ? 0 : static_cast<int>(Int(q.Get(), 0, 0));
    if (version == 0 && Text(q.Get(), 0, 1) == "t") {
        m_lastError = "the database has a reports table but no schema version: it was not made by this program";
        return Rollback(), false;
    }
    if (version > kSchemaVersion) {
        m_lastError = "the database has schema version " + std::to_string(version) + ", newer than this program's " +
                      std::to_string(kSchemaVersion);
        return Rollback(), false;
    }
    for (const auto& m : kMigrations) {
        if (m.version <= version) continue;
        if (!Check(PQexec(Conn(), m.sql), "schema", PGRES_COMMAND_OK)) return Rollback(), false;
    }
    // The waves' tables join any database, under the same lock.
    if (!Check(PQexec(Conn(), kWaveSchema), "waves", PGRES_COMMAND_OK)) return Rollback(), false;
    if (!Command("DELETE FROM schema_version") ||
        !Run("INSERT INTO schema_version(version) VALUES($1)", Params().Int(kSchemaVersion), PGRES_COMMAND_OK))
        return Rollback(), false;
    return Command("COMMIT");
}

bool PgStorage::Open(std::string& error) {
    if (!Connect() || !Migrate()) {
        error = m_lastError;
        return false;
    }
    Drop();  // prepared on the next use, like after any reconnection
    if (!Connected()) {
        error = m_lastError;
        return false;
    }
    return true;
}

size_t PgStorage::SendFigures(const BatchFigures& f) {
    // One statement per table, its rows added in key order: rows locked in one order by all.
    size_t sent = 0;
    if (!f.outcomes.empty()) {
        std::vector<std::string> names;
        std::vector<int64_t> counts;
        for (const auto& [name, n] : f.outcomes) names.push_back(name), counts.push_back(n);
        if (!Send("outcomes", Params().Int(m_shard).TextArray(names).IntArray(counts))) return kSendFailed;
        ++sent;
    }
    if (!f.hours.empty()) {
        std::vector<int64_t> hours, s, r, m;
        for (const auto& [h, n] : f.hours) {
            hours.push_back(h);
            s.push_back(n[0]);
            r.push_back(n[1]);
            m.push_back(n[2]);
        }
        if (!Send("timeline", Params().Int(m_shard).IntArray(hours).IntArray(s).IntArray(r).IntArray(m)))
            return kSendFailed;
        ++sent;
    }
    if (!f.hardware.empty()) {
        std::vector<std::string> aspects, labels;
        std::vector<int64_t> counts;
        for (const auto& [key, n] : f.hardware) {
            aspects.push_back(key.first);
            labels.push_back(key.second);
            counts.push_back(n);
        }
        if (!Send("hardware", Params()
                                  .Int(m_shard)
                                  .TextArray(aspects)
                                  .TextArray(labels)
                                  .IntArray(counts)
                                  .Int(kMaxLabelsPerAspect)
                                  .Text(kOtherLabel)))
            return kSendFailed;
        ++sent;
    }
    if (!f.addressDays.empty()) {
        std::vector<int64_t> days, counts;
        std::vector<std::string> addresses;
        int64_t today = 0;
        for (const auto& [key, n] : f.addressDays) {
            addresses.push_back(key.first);
            days.push_back(key.second);
            counts.push_back(n);
            today = std::max(today, key.second);
        }
        if (!Send("address_days", Params().IntArray(days).TextArray(addresses).IntArray(counts).Int(today)))
            return kSendFailed;
        ++sent;
    }
    return sent;
}

bool PgStorage::Send(const char* name, const Params& params) {
    std::vector<const char*> values;
    std::vector<int> lengths;
    params.Pointers(values, lengths);
    const int sent =
        PQsendQueryPrepared(Conn(), name, params.Count(), values.data(), lengths.data(), params.Formats(), 0);
    if (!sent) m_lastError = std::string("send: ") + PQerrorMessage(Conn());
    return sent != 0;
}

bool PgStorage::SendSql(const char* sql) {
    if (PQsendQueryParams(Conn(), sql, 0, nullptr, nullptr, nullptr, nullptr, 0)) return true;
    m_lastError = std::string("send: ") + PQerrorMessage(Conn());
    return false;
}

bool PgStorage::Collect(size_t count, std::vector<Result>& results, Clock::time_point* lastAwaited) {
    // Every statement sent, then the sync: one round trip for all of them. After a failure the server skips
    // the rest (PIPELINE_ABORTED) up to the sync, which is read in any case so the connection stays usable.
    bool ok = true;
    results.clear();
    m_failedState.clear();
    for (size_t i = 0; i < count; ++i) {
        if (lastAwaited && i + 1 == count) *lastAwaited = Clock::now();
        PGresult* raw = PQgetResult(Conn());
        if (!raw) {
            if (ok) m_lastError = std::string("pipeline: ") + PQerrorMessage(Conn());
            return false;  // the connection is gone
        }
        const ExecStatusType status = PQresultStatus(raw);
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
            results.emplace_back(raw);
        } else {
            if (ok) {
                m_failedAt = i;
                const char* state = PQresultErrorField(raw, PG_DIAG_SQLSTATE);
                m_failedState = state ? state : "";
                Check(raw, "batch", PGRES_COMMAND_OK);
            } else {
                PQclear(raw);
            }
            ok = false;
            results.emplace_back();
        }
        PQclear(PQgetResult(Conn()));  // the end of this statement's results
    }
    Result sync(PQgetResult(Conn()));
    if (!sync || PQresultStatus(sync.Get()) != PGRES_PIPELINE_SYNC) {
        if (ok) m_lastError = std::string("pipeline sync: ") + PQerrorMessage(Conn());
        return false;
    }
    return ok;
}

std::optional<std::vector<Outcome>> PgStorage::ApplyOnce(const Batch& batch, std::set<size_t>& conflicted,
                                                          bool& commitSent, std::vector<RegisterResult>& registered) {
    if (!PQenterPipelineMode(Conn())) {
        m_lastError = "cannot use a pipeline";
        return std::nullopt;
    }
    struct Leave {
        PGconn* conn;
        ~Leave() { PQexitPipelineMode(conn); }
    } leave{Conn()};
    const auto& reports = batch.reports;

    // 1. BEGIN, the locks and the facts of every report: sent together, answered together. Each key is asked
    // once, however many reports of the batch carry it.
    std::set<int64_t> keys;
    std::set<std::string> accounts, machines, fingerprints;
    std::set<std::pair<int64_t, std::string>> addressDays;
    for (const auto& p : reports) {
        keys.insert(LockKey("account", p.accountKey));
        keys.insert(LockKey("machine", p.report.machineKey));
        keys.insert(LockKey("fingerprint", p.fingerprint));
        // The day's count of the address is read and raised under its lock, so instances keep one bound.
        if (batch.maxEnrolmentsPerAddress > 0) keys.insert(LockKey("address", p.remote));
        accounts.insert(PgText(p.accountKey));
        machines.insert(PgText(p.report.machineKey));
        machines.insert(PgText(p.fingerprintKey));
        fingerprints.insert(PgText(p.fingerprint));
        addressDays.emplace(EnrolmentDay(p.receivedAt), PgText(p.remote));
    }
    std::vector<int64_t> days;
    std::vector<std::string> addresses;
    for (const auto& [day, address] : addressDays) days.push_back(day), addresses.push_back(address);
    auto list = [](const std::set<std::string>& items) { return std::vector<std::string>(items.begin(), items.end()); };
    std::vector<Result> results;
    const auto start = Clock::now();
    // Plans are made once per connection, maybe while the tables were still empty; a sequential scan chosen
    // then would read a whole table for every batch once it has grown. Every statement of a batch finds its
    // rows by key, so the batch's transaction does without sequential scans.
    if (!SendSql("BEGIN") || !SendSql("SET LOCAL enable_seqscan = off") ||
        !Send("locks", Params().IntArray({keys.begin(), keys.end()})) ||
        !Send("facts", Params()
                           .TextArray(list(accounts))
                           .TextArray(list(machines))
                           .TextArray(list(fingerprints))
                           .IntArray(days)
                           .TextArray(addresses)) ||
        !PQpipelineSync(Conn()) || !Collect(4, results))
        return std::nullopt;
    const HeldKeys held(results[3].Get());

    const auto factsRead = Clock::now();
    // 2. The rules decide; each report's row (and a success's enrolment), the malformed samples, the figures
    // and the commit, in one round trip.
    BatchRules rules(batch.requireRegistered, batch.maxEnrolmentsPerAddress);
    std::vector<Outcome> outcomes;
    outcomes.reserve(reports.size());
    bool sent = true;
    for (size_t i = 0; sent && i < reports.size(); ++i) {
        const PendingReport& p = reports[i];
        const StoredFacts stored = held.For(p);
        Outcome outcome = rules.Decide(reports[i], stored);
        if (outcome == Outcome::Success && conflicted.count(i)) outcome = rules.Conflicted(reports[i], stored.accountEnrolled);
        outcomes.push_back(outcome);
        const KeptReport k = Kept(reports[i], outcome);
        Params q;
        q.Int(reports[i].receivedAt).Text(reports[i].remote).Text(k.outcome).Int(k.points).Text(k.account);
        q.Text(k.accountKey).Text(k.mac).Text(k.cpuName).Int(k.cpuCount).Int(k.clockMHz).Text(k.memoryMB);
        q.Text(k.displays).Text(k.resolution).Text(k.os).Text(k.computerName).Text(k.machineKey);
        if (k.rawBody) q.Bytes(*k.rawBody).Int(k.codePage);
        else q.Null().Null();
        if (outcome == Outcome::Success) q.Text(reports[i].fingerprint);
        sent = Send(outcome == Outcome::Success ? "success" : "refused", q);
    }
    // The names right after the reports, so their results sit at a known place.
    for (size_t i = 0; sent && i < batch.registrations.size(); ++i) {
        const Registration& r = batch.registrations[i];
        sent = Send("register", Params().Text(r.name).Text(r.accountKey).Int(r.at).Text(r.remote));
    }
    const int64_t refused =
        std::count_if(outcomes.begin(), outcomes.end(), [](Outcome o) { return o != Outcome::Success; });
    const bool refusals = RefusalTrimDue(m_refusedSinceTrim + refused, batch.refusedKept);
    if (sent && refusals) sent = Send("summarise_refused", Params().Int(std::max<int64_t>(batch.refusedKept, 0)));
    for (size_t i = 0; sent && i < batch.malformed.size(); ++i) {
        const auto& m = batch.malformed[i];
        sent = Send("sample",
                    Params().Int(m.receivedAt).Text(m.remote).Text(KeptReason(m.reason)).Bytes(KeptSample(m.body)));
    }
    if (sent && !batch.malformed.empty()) sent = Send("trim", Params().Int(kMalformedSamples));
    const size_t figures = sent ? SendFigures(Tally(batch, outcomes)) : kSendFailed;
    // The server holds its answers until the sync; a flush asked for before the commit sends the statements'
    // answers ahead of it, so the timing can tell the statements from the commit's flush to disk.
    if (figures == kSendFailed || !PQsendFlushRequest(Conn()) || !SendSql("COMMIT")) return std::nullopt;
    commitSent = true;
    const size_t statements = reports.size() + batch.registrations.size() + (refusals ? 1 : 0) +
                              batch.malformed.size() + (batch.malformed.empty() ? 0 : 1) + figures + 1;
    Clock::time_point statementsDone{};
    const bool ok = PQpipelineSync(Conn()) && Collect(statements, results, &statementsDone);
    if (!ok && !m_failedState.empty() && UniqueViolation(m_failedState.c_str()) && m_failedAt < reports.size() &&
        outcomes[m_failedAt] == Outcome::Success && PQstatus(Conn()) == CONNECTION_OK) {
        // Every statement after the failed one was skipped, the COMMIT with them: nothing was written, and the
        // batch may run again with this report refused.
        conflicted.insert(m_failedAt);
        commitSent = false;
        return std::nullopt;
    }
    if (!ok) return std::nullopt;
    // A transaction that failed unnoticed ends in ROLLBACK, which is not an error to the protocol.
    if (std::string_view(PQcmdStatus(results.back().Get())) != "COMMIT") {
        m_lastError = "commit: the transaction was rolled back";
        return std::nullopt;
    }
    m_refusedSinceTrim = refusals ? 0 : m_refusedSinceTrim + refused;
    registered.clear();
    for (size_t i = 0; i < batch.registrations.size(); ++i)
        registered.push_back(PQntuples(results[reports.size() + i].Get()) == 1 ? RegisterResult::Registered
                                                                               : RegisterResult::Duplicate);
    const auto written = Clock::now();
    // The statements and the commit share one round trip: the commit's share is the wait for its own answer
    // after the last statement's.
    m_timing = Timing({{"facts", factsRead - start},
                       {"statements", statementsDone - factsRead},
                       {"commit", written - statementsDone}});
    return outcomes;
}

std::optional<std::vector<Outcome>> PgStorage::Apply(const Batch& batch, std::vector<RegisterResult>& registered) {
    std::set<size_t> conflicted;
    for (int attempt = 1;; ++attempt) {
        if (!Connected()) return std::nullopt;
        bool commitSent = false;
        const size_t known = conflicted.size();
        if (auto outcomes = ApplyOnce(batch, conflicted, commitSent, registered)) return outcomes;
        // A report newly found conflicting is progress, not a failed attempt: each one is found once.
        if (conflicted.size() > known) --attempt;
        // A pipeline that could not be read to its end leaves the connection unusable: treated as lost.
        const bool lost = PQstatus(Conn()) != CONNECTION_OK || PQpipelineStatus(Conn()) != PQ_PIPELINE_OFF;
        Rollback();
        // Nothing is written unless the commit went out; then whether it landed is unknown, and the answer
        // must stay "failed" rather than guess. Before that, a new connection (the server restarted) or a
        // deadlock victim may simply try the batch again.
        if (commitSent || attempt >= 3 || !(lost || m_retryable)) {
            if (lost) Drop();
            return std::nullopt;
        }
        if (lost) {
            Drop();
            m_nextAttempt = {};
        }
    }
}

std::optional<DashboardData> PgStorage::ReadDashboard() {
    if (!Connected()) return std::nullopt;
    // One snapshot for every figure; the shards are summed as the rows are added.
    if (!Command("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")) return std::nullopt;
    auto totals = Run("SELECT outcome, n FROM outcome_counts");
    auto hours = Run("SELECT hour, successes, refusals, malformed FROM timeline");
    auto hardware = Run("SELECT aspect, label, n FROM hardware_counts");
    auto accounts = Run("SELECT count(*) FROM accounts");
    auto summarised = Run("SELECT coalesce(sum(n), 0) FROM refused_summary");
    auto revoked = Run("SELECT count(*) FROM revoked_enrolments");
    if (!totals || !hours || !hardware || !accounts || !summarised || !revoked) return Rollback(), std::nullopt;
    Rollback();
    DashboardBuilder data;
    for (int i = 0; i < PQntuples(totals.Get()); ++i) data.Outcome(Text(totals.Get(), i, 0), Int(totals.Get(), i, 1));
    for (int i = 0; i < PQntuples(hours.Get()); ++i) {
        const ResultRow h{hours.Get(), i};
        data.Hour(h.Int(0), h.Int(1), h.Int(2), h.Int(3));
    }
    for (int i = 0; i < PQntuples(hardware.Get()); ++i)
        data.Hardware(Text(hardware.Get(), i, 0), Text(hardware.Get(), i, 1), Int(hardware.Get(), i, 2));
    data.RegisteredAccounts(Int(accounts.Get(), 0, 0));
    data.SummarisedRefusals(Int(summarised.Get(), 0, 0));
    data.Revoked(Int(revoked.Get(), 0, 0));
    return data.Finish();
}

std::optional<AccountPage> PgStorage::ReadAccounts(int64_t page) {
    if (!Connected()) return std::nullopt;
    AccountPage result;
    result.page = std::max<int64_t>(page, 1);
    // The count and the page from one snapshot.
    if (!Command("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")) return std::nullopt;
    auto count = Run("SELECT count(*) FROM accounts");
    auto q = Run("SELECT a.name, a.registered_at, e.account_key IS NOT NULL FROM accounts a "
                 "LEFT JOIN enrolments e ON e.account_key = a.account_key ORDER BY a.id LIMIT $1 OFFSET $2",
                 Params().Int(kAccountsPerPage).Int((result.page - 1) * kAccountsPerPage));
    Rollback();
    if (!count || !q) return std::nullopt;
    result.total = Int(count.Get(), 0, 0);
    for (int i = 0; i < PQntuples(q.Get()); ++i)
        result.rows.push_back({Text(q.Get(), i, 0), Int(q.Get(), i, 1), Text(q.Get(), i, 2) == "t"});
    return result;
}

bool PgStorage::ReadExport(const std::function<bool(const ReportRow&)>& sink) {
    m_exportFailed = true;
    if (!Connected()) return false;
    // A cursor in one snapshot: a page of rows in memory at a time, however many there are. A slow reader
    // may keep the transaction open for a while, which is what the export asks for.
    if (!Command("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY") ||
        !Command("SET LOCAL idle_in_transaction_session_timeout = 0") ||
        !Command((std::string("DECLARE export NO SCROLL CURSOR FOR SELECT ") + kReportColumns +
                  " FROM reports ORDER BY id")
                     .c_str()))
        return Rollback(), false;
    ReportRow row;
    for (;;) {
        auto page = Run("FETCH 500 FROM export");
        if (!page) return Rollback(), false;
        const PGresult* q = page.Get();
        if (PQntuples(q) == 0) break;
        for (int i = 0; i < PQntuples(q); ++i) {
            ReadReportRow(ResultRow{q, i}, row);
            if (!sink(row)) return Rollback(), false;
        }
    }
    Rollback();
    m_exportFailed = false;
    return true;
}

std::optional<std::vector<MalformedReport>> PgStorage::ReadSamples() {
    if (!Connected()) return std::nullopt;
    auto q = Run("SELECT body, remote, reason, received_at FROM malformed_samples ORDER BY id DESC LIMIT $1",
                 Params().Int(kMalformedSamples));
    if (!q) return std::nullopt;
    std::vector<MalformedReport> rows;
    for (int i = 0; i < PQntuples(q.Get()); ++i)
        rows.push_back({Bytes(q.Get(), i, 0), Text(q.Get(), i, 1), Text(q.Get(), i, 2), Int(q.Get(), i, 3)});
    return rows;
}

}  // namespace

std::optional<int64_t> PgStorage::CreateWave(const std::string& name, const std::string& params, int64_t now) {
    if (!Connected()) return std::nullopt;
    // Numbers without gaps, "第N批" in order of creation, whichever instance creates them.
    if (!Command("BEGIN") || !Command("LOCK TABLE waves IN EXCLUSIVE MODE")) return Rollback(), std::nullopt;
    auto q = Run("INSERT INTO waves(id, name, params, state, created_at) "
                 "SELECT coalesce(max(id), 0) + 1, $1, $2, 'created', $3 FROM waves RETURNING id",
                 Params().Text(name).Text(params).Int(now));
    if (!q || !Command("COMMIT")) return Rollback(), std::nullopt;
    return Int(q.Get(), 0, 0);
}

std::optional<std::vector<Draw::WaveRecord>> PgStorage::Waves() {
    return Reading([this]() -> std::optional<std::vector<Draw::WaveRecord>> {
        if (!Connected()) return std::nullopt;
        auto q = Run((std::string("SELECT ") + kWaveColumns + " FROM waves ORDER BY id").c_str());
        if (!q) return std::nullopt;
        std::vector<Draw::WaveRecord> waves;
        for (int i = 0; i < PQntuples(q.Get()); ++i) waves.push_back(ReadWave(ResultRow{q.Get(), i}));
        return waves;
    });
}

std::optional<Draw::WaveRecord> PgStorage::Wave(int64_t id) {
    return Reading([this, id]() -> std::optional<Draw::WaveRecord> {
        if (!Connected()) return std::nullopt;
        auto q = Run((std::string("SELECT ") + kWaveColumns + " FROM waves WHERE id = $1").c_str(), Params().Int(id));
        if (!q) return std::nullopt;
        return PQntuples(q.Get()) ? ReadWave(ResultRow{q.Get(), 0}) : Draw::WaveRecord{};
    });
}

bool PgStorage::EligibleMachines(bool requireRegistered, const std::vector<MachineSink>& sinks) {
    // The server does the work here, in one part: the first sink hears every machine.
    if (sinks.empty() || !Connected()) return false;
    const MachineSink& sink = sinks.front();
    // One snapshot for the whole list, read in pieces through a cursor so a million rows are never held twice.
    if (!Command("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY") ||
        !Run((std::string("DECLARE eligible NO SCROLL CURSOR FOR SELECT ") + kEligibleColumns +
              " FROM enrolments e JOIN reports r ON r.id = e.report_id WHERE " + kEligibleEnrolment)
                 .c_str(),
             Params().Bool(requireRegistered), PGRES_COMMAND_OK))
        return Rollback(), false;
    ReportRow row;
    for (;;) {
        auto q = Run("FETCH 10000 FROM eligible");
        if (!q) return Rollback(), false;
        const int n = PQntuples(q.Get());
        for (int i = 0; i < n; ++i) {
            const ResultRow r{q.Get(), i};
            ReadReportRow(r, row);
            sink(r.Text(kMachineKeyColumn), row.report);
        }
        if (n == 0) break;
    }
    return Command("COMMIT") || (Rollback(), false);
}

bool PgStorage::MachinesOf(const std::vector<std::string>& accountKeys, const MachineSink& sink) {
    if (!Connected()) return false;
    auto q = Run((std::string("SELECT ") + kMachineColumns +
                  " FROM reports WHERE id IN (SELECT report_id FROM enrolments WHERE account_key = ANY($1::text[]))")
                     .c_str(),
                 Params().TextArray(accountKeys));
    if (!q) return false;
    ReportRow row;
    for (int i = 0; i < PQntuples(q.Get()); ++i) {
        const ResultRow r{q.Get(), i};
        ReadReportRow(r, row);
        sink(r.Text(kMachineKeyColumn), row.report);
    }
    return true;
}

WaveChange PgStorage::BeginStep(int64_t id, Draw::WaveState from) {
    if (!Connected()) return WaveChange::Failed;
    // Every step holds the table: two instances taking one step at once take it one after the other.
    if (!Command("BEGIN") || !Command("LOCK TABLE waves IN EXCLUSIVE MODE")) return Rollback(), WaveChange::Failed;
    auto q = Run("SELECT state FROM waves WHERE id = $1", Params().Int(id));
    if (!q) return Rollback(), WaveChange::Failed;
    const WaveChange change = PQntuples(q.Get()) == 0                            ? WaveChange::NoWave
                              : Text(q.Get(), 0, 0) != Draw::WaveStateName(from) ? WaveChange::WrongState
                                                                                   : WaveChange::Done;
    if (change != WaveChange::Done) Rollback();
    return change;
}

WaveChange PgStorage::EndStep(bool ok) {
    if (ok && Command("COMMIT")) return WaveChange::Done;
    Rollback();
    return WaveChange::Failed;
}

bool PgStorage::AddHardware(int64_t id, const char* side, const HardwareCounts& counts) {
    std::vector<std::string> aspects, labels;
    std::vector<int64_t> ns;
    for (const auto& [aspect, byLabel] : counts)
        for (const auto& [label, n] : byLabel) aspects.push_back(aspect), labels.push_back(label), ns.push_back(n);
    return static_cast<bool>(Run("INSERT INTO wave_hardware(wave_id, side, aspect, label, n) "
                                 "SELECT $1, $2, a, l, n FROM unnest($3::text[], $4::text[], $5::bigint[]) AS t(a, l, n)",
                                 Params().Int(id).Text(side).TextArray(aspects).TextArray(labels).IntArray(ns),
                                 PGRES_COMMAND_OK));
}

WaveChange PgStorage::SaveFrozen(int64_t id, const FrozenWave& frozen, int64_t now) {
    if (const auto change = BeginStep(id, Draw::WaveState::Created); change != WaveChange::Done) return change;
    auto busy = Run("SELECT 1 FROM waves WHERE state IN ('frozen', 'seeded') AND id <> $1", Params().Int(id));
    if (!busy) return EndStep(false);
    if (PQntuples(busy.Get())) return Rollback(), WaveChange::Busy;
    const bool ok =
        Run("UPDATE waves SET state = 'frozen', frozen_at = $1, list_sha256 = $2, list_count = $3, "
            "eligible_machines = $4 WHERE id = $5",
            Params().Int(now).Text(frozen.sha256).Int(frozen.count).Int(frozen.machines).Int(id), PGRES_COMMAND_OK) &&
        Run("INSERT INTO wave_files(wave_id, kind, body) VALUES($1, 'list', $2::bytea)",
            Params().Int(id).Bytes(frozen.csv), PGRES_COMMAND_OK) &&
        AddHardware(id, "eligible", frozen.hardware);
    return EndStep(ok);
}

WaveChange PgStorage::SaveSeed(int64_t id, const std::string& seed, int64_t now) {
    if (const auto change = BeginStep(id, Draw::WaveState::Frozen); change != WaveChange::Done) return change;
    return EndStep(static_cast<bool>(Run("UPDATE waves SET state = 'seeded', seed = $1, seeded_at = $2 WHERE id = $3",
                                         Params().Text(seed).Int(now).Int(id), PGRES_COMMAND_OK)));
}

WaveChange PgStorage::SaveDraw(int64_t id, const DrawnWave& drawn, int64_t now) {
    if (const auto change = BeginStep(id, Draw::WaveState::Seeded); change != WaveChange::Done) return change;
    std::vector<std::string> keys, accounts, codes;
    std::vector<int64_t> withdrawn;
    for (const auto& c : drawn.chosen)
        keys.push_back(c.accountKey), accounts.push_back(c.account), codes.push_back(c.code), withdrawn.push_back(c.withdrawnAt);
    const bool ok =
        Run("UPDATE waves SET state = 'drawn', drawn_at = $1, result_sha256 = $2, chosen_machines = $3 WHERE id = $4",
            Params().Int(now).Text(drawn.sha256).Int(static_cast<int64_t>(drawn.chosen.size())).Int(id),
            PGRES_COMMAND_OK) &&
        Run("INSERT INTO wave_files(wave_id, kind, body) VALUES($1, 'result', $2::bytea)",
            Params().Int(id).Bytes(drawn.csv), PGRES_COMMAND_OK) &&
        Run("INSERT INTO wave_chosen(account_key, wave_id, account, code, withdrawn_at) "
            "SELECT k, $1, a, c, w FROM unnest($2::text[], $3::text[], $4::text[], $5::bigint[]) AS t(k, a, c, w)",
            Params().Int(id).TextArray(keys).TextArray(accounts).TextArray(codes).IntArray(withdrawn),
            PGRES_COMMAND_OK) &&
        AddHardware(id, "chosen", drawn.hardware);
    return EndStep(ok);
}

WaveChange PgStorage::Publish(int64_t id, int64_t now) {
    if (const auto change = BeginStep(id, Draw::WaveState::Drawn); change != WaveChange::Done) return change;
    return EndStep(static_cast<bool>(Run("UPDATE waves SET state = 'published', published_at = $1 WHERE id = $2",
                                         Params().Int(now).Int(id), PGRES_COMMAND_OK)));
}

std::optional<std::string> PgStorage::WaveFile(int64_t id, WaveFileKind kind) {
    return Reading([&]() -> std::optional<std::string> {
        if (!Connected()) return std::nullopt;
        auto q = Run("SELECT body FROM wave_files WHERE wave_id = $1 AND kind = $2",
                     Params().Int(id).Text(WaveFileName(kind)));
        if (!q || PQntuples(q.Get()) == 0) return std::nullopt;
        return Bytes(q.Get(), 0, 0);
    });
}

std::optional<WaveCoverage> PgStorage::Coverage(int64_t id) {
    return Reading([&]() -> std::optional<WaveCoverage> {
        if (!Connected()) return std::nullopt;
        auto totals = Run("SELECT eligible_machines, chosen_machines FROM waves WHERE id = $1", Params().Int(id));
        auto q = Run("SELECT side, aspect, label, n FROM wave_hardware WHERE wave_id = $1", Params().Int(id));
        if (!totals || !q || PQntuples(totals.Get()) == 0) return std::nullopt;
        WaveCoverage c;
        c.eligibleMachines = Int(totals.Get(), 0, 0);
        c.chosenMachines = Int(totals.Get(), 0, 1);
        for (int i = 0; i < PQntuples(q.Get()); ++i)
            (Text(q.Get(), i, 0) == "chosen" ? c.chosen : c.eligible)[Text(q.Get(), i, 1)][Text(q.Get(), i, 2)] =
                Int(q.Get(), i, 3);
        return c;
    });
}

bool PgStorage::WaveCodes(int64_t id, const std::function<bool(const Draw::ChosenRow&)>& sink) {
    if (!Connected()) return false;
    auto q = Run("SELECT account, account_key, code, wave_id, withdrawn_at FROM wave_chosen "
                 "WHERE wave_id = $1 AND withdrawn_at = 0 ORDER BY account_key COLLATE \"C\"",
                 Params().Int(id));
    if (!q) return false;
    for (int i = 0; i < PQntuples(q.Get()); ++i)
        if (!sink({Text(q.Get(), i, 0), Text(q.Get(), i, 1), Text(q.Get(), i, 2), Int(q.Get(), i, 3), Int(q.Get(), i, 4)}))
            return false;
    return true;
}

std::optional<Draw::Standing> PgStorage::Standing(const std::string& accountKey) {
    return Reading([&]() -> std::optional<Draw::Standing> {
        if (!Connected()) return std::nullopt;
        auto q = Run("SELECT EXISTS (SELECT 1 FROM enrolments WHERE account_key = $1), coalesce((SELECT c.wave_id "
                     "FROM wave_chosen c JOIN waves w ON w.id = c.wave_id WHERE c.account_key = $1 AND "
                     "c.withdrawn_at = 0 AND w.state = 'published'), 0)",
                     Params().Text(accountKey));
        if (!q) return std::nullopt;
        return Draw::Standing{Text(q.Get(), 0, 0) == "t", Int(q.Get(), 0, 1)};
    });
}

bool PgStorage::MarkWithdrawn(const std::string& accountKey, int64_t now) {
    return Connected() && Run("UPDATE wave_chosen SET withdrawn_at = $1 WHERE account_key = $2 AND withdrawn_at = 0",
                              Params().Int(now).Text(accountKey), PGRES_COMMAND_OK);
}

Result PgStorage::RunPrepared(const char* name, const Params& params, ExecStatusType want) {
    std::vector<const char*> values;
    std::vector<int> lengths;
    params.Pointers(values, lengths);
    return Check(PQexecPrepared(Conn(), name, params.Count(), values.data(), lengths.data(), params.Formats(), 0), name,
                 want);
}

bool PgStorage::LockKeys(const std::string& accountKey, const std::string& machineKey, const std::string& fingerprint) {
    const std::set<int64_t> keys{LockKey("account", accountKey), LockKey("machine", machineKey),
                                 LockKey("fingerprint", fingerprint)};
    return static_cast<bool>(RunPrepared("locks", Params().IntArray({keys.begin(), keys.end()}), PGRES_TUPLES_OK));
}

bool PgStorage::CountMachine(const std::string& reportId, int64_t n) {
    auto q = Run((std::string("SELECT ") + kReportColumns + " FROM reports WHERE id = $1").c_str(),
                 Params().Text(reportId));
    if (!q || PQntuples(q.Get()) != 1) return false;
    ReportRow row;
    ReadReportRow(ResultRow{q.Get(), 0}, row);
    std::vector<std::string> aspects, labels;
    std::vector<int64_t> counts;
    for (auto& [aspect, label] : MachineLabels(row.report))
        aspects.push_back(std::move(aspect)), labels.push_back(std::move(label)), counts.push_back(n);
    return static_cast<bool>(RunPrepared(
        "hardware",
        Params().Int(m_shard).TextArray(aspects).TextArray(labels).IntArray(counts).Int(kMaxLabelsPerAspect).Text(kOtherLabel),
        PGRES_COMMAND_OK));
}

bool PgStorage::Audit(const AuditEntry& e) {
    return static_cast<bool>(Run("INSERT INTO audit(at, actor, remote, action, subject, detail) VALUES($1, $2, $3, $4, $5, $6)",
                                 Params().Int(e.at).Text(e.actor).Text(e.remote).Text(AuditActionName(e.action))
                                     .Text(e.subject).Text(e.detail),
                                 PGRES_COMMAND_OK));
}

template <class Once>
EnrolmentChange PgStorage::Changing(Once once) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!Connected()) return EnrolmentChange::Failed;
        bool again = false;
        const EnrolmentChange change = once(again);
        if (change != EnrolmentChange::Failed) return change;
        // Whether a commit that went out on a lost connection landed is unknown: not tried again.
        const bool lost = PQstatus(Conn()) != CONNECTION_OK;
        Rollback();
        if (lost) Drop();
        if (lost || !(again || m_retryable)) return EnrolmentChange::Failed;
    }
    return EnrolmentChange::Failed;
}

EnrolmentChange PgStorage::Revoke(const std::string& accountKey, const AuditEntry& audit) {
    return Changing([&](bool& again) { return RevokeOnce(accountKey, audit, again); });
}

EnrolmentChange PgStorage::Restore(const std::string& accountKey, const AuditEntry& audit) {
    return Changing([&](bool& again) { return RestoreOnce(accountKey, audit, again); });
}

EnrolmentChange PgStorage::RevokeOnce(const std::string& accountKey, const AuditEntry& audit, bool& again) {
    constexpr const char* kFind = "SELECT report_id, machine_key, fingerprint FROM enrolments WHERE account_key = $1";
    if (!Command("BEGIN")) return EnrolmentChange::Failed;
    auto before = Run(kFind, Params().Text(accountKey));
    if (!before) return EnrolmentChange::Failed;
    if (PQntuples(before.Get()) == 0) return Rollback(), EnrolmentChange::Missing;
    const std::string reportId = Text(before.Get(), 0, 0);
    // Under the keys' locks no report of this account or machine is being decided on any instance; the row
    // read again is the one that stands until the commit.
    if (!LockKeys(accountKey, Text(before.Get(), 0, 1), Text(before.Get(), 0, 2))) return EnrolmentChange::Failed;
    auto now = Run(kFind, Params().Text(accountKey));
    if (!now) return EnrolmentChange::Failed;
    if (PQntuples(now.Get()) == 0) return Rollback(), EnrolmentChange::Missing;
    if (Text(now.Get(), 0, 0) != reportId) return again = true, EnrolmentChange::Failed;
    const bool ok =
        Run("INSERT INTO revoked_enrolments(report_id, account, account_key, machine_key, fingerprint, points, "
            "enrolled_at, revoked_at) SELECT report_id, account, account_key, machine_key, fingerprint, points, "
            "enrolled_at, $2 FROM enrolments WHERE report_id = $1",
            Params().Text(reportId).Int(audit.at), PGRES_COMMAND_OK) &&
        Run("DELETE FROM enrolments WHERE report_id = $1", Params().Text(reportId), PGRES_COMMAND_OK) &&
        Run("UPDATE reports SET points = 0 WHERE id = $1", Params().Text(reportId), PGRES_COMMAND_OK) &&
        CountMachine(reportId, -1) &&
        Run("UPDATE wave_chosen SET withdrawn_at = $1 WHERE account_key = $2 AND withdrawn_at = 0",
            Params().Int(audit.at).Text(accountKey), PGRES_COMMAND_OK) &&
        Audit(audit) && Command("COMMIT");
    return ok ? EnrolmentChange::Done : EnrolmentChange::Failed;
}

EnrolmentChange PgStorage::RestoreOnce(const std::string& accountKey, const AuditEntry& audit, bool& again) {
    constexpr const char* kFind =
        "SELECT v.report_id, v.account, v.machine_key, v.fingerprint, v.points, v.enrolled_at, v.revoked_at, "
        "r.received_at, r.remote FROM revoked_enrolments v JOIN reports r ON r.id = v.report_id "
        "WHERE v.account_key = $1 ORDER BY v.revoked_at DESC, v.report_id DESC LIMIT 1";
    if (!Command("BEGIN")) return EnrolmentChange::Failed;
    auto before = Run(kFind, Params().Text(accountKey));
    if (!before) return EnrolmentChange::Failed;
    if (PQntuples(before.Get()) == 0) return Rollback(), EnrolmentChange::Missing;
    if (!LockKeys(accountKey, Text(before.Get(), 0, 2), Text(before.Get(), 0, 3))) return EnrolmentChange::Failed;
    auto found = Run(kFind, Params().Text(accountKey));
    if (!found) return EnrolmentChange::Failed;
    if (PQntuples(found.Get()) == 0) return Rollback(), EnrolmentChange::Missing;
    const PGresult* v = found.Get();
    if (Text(v, 0, 0) != Text(before.Get(), 0, 0)) return again = true, EnrolmentChange::Failed;
    const std::string reportId = Text(v, 0, 0);
    PendingReport keys = EnrolledKeys(accountKey, Text(v, 0, 2), Text(v, 0, 3));
    keys.receivedAt = Int(v, 0, 7);
    keys.remote = Text(v, 0, 8);
    // The writer's own question about these keys, under the same locks.
    auto facts = RunPrepared("facts",
                             Params()
                                 .TextArray({PgText(keys.accountKey)})
                                 .TextArray({PgText(keys.report.machineKey), PgText(keys.fingerprintKey)})
                                 .TextArray({PgText(keys.fingerprint)})
                                 .IntArray({EnrolmentDay(keys.receivedAt)})
                                 .TextArray({PgText(keys.remote)}),
                             PGRES_TUPLES_OK);
    if (!facts) return EnrolmentChange::Failed;
    const StoredFacts stored = HeldKeys(facts.Get()).For(keys);
    if (const auto decision = RestoreDecision(keys, stored); decision != EnrolmentChange::Done)
        return Rollback(), decision;
    const bool ok =
        Run("INSERT INTO enrolments(account, account_key, machine_key, fingerprint, report_id, points, enrolled_at) "
            "VALUES($1, $2, $3, $4, $5, $6, $7)",
            Params().Text(Text(v, 0, 1)).Text(accountKey).Text(keys.report.machineKey).Text(keys.fingerprint)
                .Text(reportId).Int(Int(v, 0, 4)).Int(Int(v, 0, 5)),
            PGRES_COMMAND_OK) &&
        Run("DELETE FROM revoked_enrolments WHERE report_id = $1", Params().Text(reportId), PGRES_COMMAND_OK) &&
        Run("UPDATE reports SET points = $2 WHERE id = $1", Params().Text(reportId).Int(Int(v, 0, 4)),
            PGRES_COMMAND_OK) &&
        CountMachine(reportId, 1) &&
        Run("UPDATE wave_chosen SET withdrawn_at = 0 WHERE account_key = $1 AND withdrawn_at = $2",
            Params().Text(accountKey).Int(Int(v, 0, 6)), PGRES_COMMAND_OK) &&
        Audit(audit) && Command("COMMIT");
    return ok ? EnrolmentChange::Done : EnrolmentChange::Failed;
}

std::optional<bool> PgStorage::Revoked(const std::string& accountKey) {
    return Reading([&]() -> std::optional<bool> {
        if (!Connected()) return std::nullopt;
        auto q = Run("SELECT EXISTS (SELECT 1 FROM revoked_enrolments WHERE account_key = $1)", Params().Text(accountKey));
        if (!q) return std::nullopt;
        return Text(q.Get(), 0, 0) == "t";
    });
}

EnrolmentChange PgStorage::Erase(const std::string& accountKey, const AuditEntry& audit) {
    if (!Connected()) return EnrolmentChange::Failed;
    const std::set<int64_t> keys{LockKey("account", accountKey)};
    if (!Command("BEGIN") || !RunPrepared("locks", Params().IntArray({keys.begin(), keys.end()}), PGRES_TUPLES_OK))
        return Rollback(), EnrolmentChange::Failed;
    auto reports = Run("UPDATE reports SET raw = NULL, computer_name = '', remote = '' WHERE account_key = $1",
                       Params().Text(accountKey), PGRES_COMMAND_OK);
    auto registration =
        reports ? Run("UPDATE accounts SET remote = '' WHERE account_key = $1", Params().Text(accountKey), PGRES_COMMAND_OK)
                : Result();
    if (!reports || !registration) return Rollback(), EnrolmentChange::Failed;
    if (std::atoll(PQcmdTuples(reports.Get())) + std::atoll(PQcmdTuples(registration.Get())) == 0)
        return Rollback(), EnrolmentChange::Missing;
    if (!Audit(audit) || !Command("COMMIT")) return Rollback(), EnrolmentChange::Failed;
    return EnrolmentChange::Done;
}

std::unique_ptr<Storage> OpenPostgresStorage(const std::string& url, std::string& error) {
    auto storage = std::make_unique<PgStorage>(url);
    if (!storage->Open(error)) return nullptr;
    return storage;
}

}  // namespace Service
