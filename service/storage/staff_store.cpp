#include "service/storage/staff_store.h"

#include <cctype>

#include "service/storage/storage.h"
#include "service/storage/support_queries.h"

namespace Service {

namespace SupportQueries {

namespace {

// The report columns from first on, in the order of ZORV_REPORT_COLUMNS.
Report ReadReport(const Row& row, int first) {
    Report r;
    r.account = row.Text(first);
    r.mac = row.Text(first + 1);
    r.cpuName = row.Text(first + 2);
    r.cpuCount = row.Int(first + 3);
    r.clockMHz = row.Int(first + 4);
    r.memoryMB = row.Text(first + 5);
    r.displays = row.Text(first + 6);
    r.resolution = row.Text(first + 7);
    r.os = row.Text(first + 8);
    r.computerName = row.Text(first + 9);
    r.machineKey = row.Text(first + 10);
    return r;
}

}  // namespace

SearchHit ReadHit(const Row& row) {
    SearchHit h;
    h.accountKey = row.Text(0);
    h.account = row.Text(1);
    h.machineKey = row.Text(2);
    h.mac = row.Text(3);
    h.computerName = row.Text(4);
    h.remote = row.Text(5);
    h.lastAt = row.Int(6);
    h.reports = row.Int(7);
    h.enrolled = row.Int(8) != 0;
    return h;
}

ReportRow ReadAttempt(const Row& row) {
    ReportRow r;
    r.id = row.Int(0);
    r.receivedAt = row.Int(1);
    r.remote = row.Text(2);
    r.outcome = row.Text(3);
    r.points = row.Int(4);
    r.report = ReadReport(row, 5);
    return r;
}

EnrolmentRow ReadEnrolment(const Row& row) {
    EnrolmentRow e;
    e.reportId = row.Int(0);
    e.enrolledAt = row.Int(1);
    e.accountKey = row.Text(2);
    e.machineKey = row.Text(3);
    if (e.machineKey.rfind("mac:", 0) == 0) e.macKey = e.machineKey.substr(4);
    e.remote = row.Text(4);
    e.report = ReadReport(row, 5);
    return e;
}

std::vector<std::string> SearchParameters(const SupportQuery& q) {
    std::string upper = q.computerName;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return {q.accountKey, q.machineKey, q.computerName, upper, q.remote};
}

}  // namespace SupportQueries

std::unique_ptr<StaffStore> OpenStaffStore(const std::string& db, std::string& error) {
    return IsPostgresUrl(db) ? OpenPostgresStaffStore(db, error) : OpenSqliteStaffStore(db, error);
}

}  // namespace Service
