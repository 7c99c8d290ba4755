#pragma once
// The support desk's read-only statements, written once for both backends ($N parameters; SQLite reads them
// as ?N), and the one mapping of their rows.
#include <cstdint>
#include <string>

#include "service/storage/staff_store.h"

namespace Service::SupportQueries {

// reports_by_machine indexes the start of the key.
#define ZORV_MACHINE_IS(p) "substr(r.machine_key, 1, 80) = substr(" p ", 1, 80) AND r.machine_key = " p
#define ZORV_REPORT_COLUMNS \
    "r.account, r.mac, r.cpu_name, r.cpu_count, r.clock_mhz, r.memory_mb, r.displays, r.resolution, r.os, " \
    "r.computer_name, r.machine_key"

// $1 account key, $2 machine key, $3 computer name as typed and $4 in upper case, $5 address; at most
// kMaxSearchHits hits, each term by an index of its own (schema version 5). Computer names match in any case
// of ASCII letters (so the name as typed matches too): PostgreSQL runs this with upper()
// in the "C" collation (kUpperName, kUpperNameAscii), which like SQLite's upper() changes ASCII letters only.
constexpr const char* kSearch =
    "SELECT account_key, account, machine_key, mac, computer_name, remote, received_at, n, "
    "CASE WHEN EXISTS (SELECT 1 FROM enrolments e WHERE e.account_key = h.account_key AND "
    "e.machine_key = h.machine_key) THEN 1 ELSE 0 END FROM "
    "(SELECT r.id, r.account_key, r.account, r.machine_key, r.mac, r.computer_name, r.remote, r.received_at, "
    "count(*) OVER (PARTITION BY r.account_key, r.machine_key) AS n, "
    "row_number() OVER (PARTITION BY r.account_key, r.machine_key ORDER BY r.id DESC) AS k FROM reports r WHERE "
    "($1 <> '' AND r.account_key = $1) OR ($2 <> '' AND " ZORV_MACHINE_IS("$2") ") OR "
    "($3 <> '' AND upper(r.computer_name) = $4) OR ($5 <> '' AND r.remote = $5)) h "
    "WHERE k = 1 ORDER BY received_at DESC, id DESC LIMIT 200";
static_assert(kMaxSearchHits == 200, "the statement's limit");
constexpr const char* kUpperName = "upper(r.computer_name)";
constexpr const char* kUpperNameAscii = "upper(r.computer_name COLLATE \"C\")";

// The newest 1000 reports of an account ($1) or a machine: a script's flood cannot make the page endless.
constexpr const char* kAccountAttempts =
    "SELECT r.id, r.received_at, r.remote, r.outcome, r.points, " ZORV_REPORT_COLUMNS
    " FROM reports r WHERE r.account_key = $1 ORDER BY r.id DESC LIMIT 1000";
constexpr const char* kMachineAttempts =
    "SELECT r.id, r.received_at, r.remote, r.outcome, r.points, " ZORV_REPORT_COLUMNS
    " FROM reports r WHERE " ZORV_MACHINE_IS("$1") " ORDER BY r.id DESC LIMIT 1000";

#define ZORV_ENROLMENT_SELECT \
    "SELECT r.id, e.enrolled_at, e.account_key, e.machine_key, r.remote, " ZORV_REPORT_COLUMNS \
    " FROM enrolments e JOIN reports r ON r.id = e.report_id"
constexpr const char* kEnrolmentOfAccount = ZORV_ENROLMENT_SELECT " WHERE e.account_key = $1";
constexpr const char* kEnrolmentOfMachine = ZORV_ENROLMENT_SELECT " WHERE e.machine_key = $1";
constexpr const char* kEnrolments = ZORV_ENROLMENT_SELECT " ORDER BY e.enrolled_at, r.id";

constexpr const char* kOutcomeCounts = "SELECT outcome, sum(n) FROM outcome_counts GROUP BY outcome ORDER BY outcome";

#undef ZORV_ENROLMENT_SELECT
#undef ZORV_REPORT_COLUMNS
#undef ZORV_MACHINE_IS

// One row as the backend gives it: text or integer by column, NULL as empty or 0.
class Row {
public:
    virtual ~Row() = default;
    virtual std::string Text(int column) const = 0;
    virtual int64_t Int(int column) const = 0;
};

SearchHit ReadHit(const Row& row);
ReportRow ReadAttempt(const Row& row);
EnrolmentRow ReadEnrolment(const Row& row);

// kSearch's parameters, in order.
std::vector<std::string> SearchParameters(const SupportQuery& query);

}  // namespace Service::SupportQueries
