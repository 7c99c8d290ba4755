#pragma once
// The dashboard's figures, written once for every database: what one batch adds to the kept counts, and how
// the stored counts become the dashboard (hours, or days once the test runs longer than two).
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "service/domain/records.h"
#include "service/domain/rules.h"

namespace Service {

constexpr int64_t kHourSeconds = 3600;
constexpr int64_t kDaySeconds = 86400;

// What a batch adds, summed per key and in key order, so every writer locks the counter rows in one order.
struct BatchFigures {
    std::map<std::string, int64_t> outcomes;                           // outcome name -> count
    std::map<int64_t, std::array<int64_t, 3>> hours;                   // hour -> successes, refusals, malformed
    std::map<std::pair<std::string, std::string>, int64_t> hardware;  // (aspect, label) -> machines
    std::map<std::pair<std::string, int64_t>, int64_t> addressDays;    // (address, day) -> enrolments
};
// outcomes[i] is the outcome of batch.reports[i].
BatchFigures Tally(const Batch& batch, const std::vector<Outcome>& outcomes);

// Assembles the dashboard from the stored counts, whatever order the rows come in.
class DashboardBuilder {
public:
    void Outcome(std::string_view name, int64_t n);  // "success", …, "malformed"
    void Hour(int64_t hour, int64_t successes, int64_t refusals, int64_t malformed);
    void Hardware(std::string aspect, std::string label, int64_t n);
    void RegisteredAccounts(int64_t n) { m_data.registeredAccounts = n; }
    void SummarisedRefusals(int64_t n) { m_data.summarisedRefusals = n; }
    // Enrolments support revoked (and has not restored): their machines no longer count as enrolled.
    void Revoked(int64_t n) { m_revoked = n; }
    DashboardData Finish();

private:
    DashboardData m_data;
    std::map<int64_t, TimelineRow> m_hours;
    int64_t m_revoked = 0;
};

// The stored report columns, in the order the export selects them.
constexpr const char* kReportColumns =
    "id, received_at, remote, outcome, points, account, mac, cpu_name, cpu_count, clock_mhz, memory_mb, displays, "
    "resolution, os, computer_name, machine_key, raw, code_page";
// One exported row from a result row of those columns: Text(i), Int(i) and Bytes(i) read column i.
template <class Row>
void ReadReportRow(const Row& q, ReportRow& row) {
    row.id = q.Int(0);
    row.receivedAt = q.Int(1);
    row.remote = q.Text(2);
    row.outcome = q.Text(3);
    row.points = q.Int(4);
    Report& r = row.report;
    r.account = q.Text(5);
    r.mac = q.Text(6);
    r.cpuName = q.Text(7);
    r.cpuCount = q.Int(8);
    r.clockMHz = q.Int(9);
    r.memoryMB = q.Text(10);
    r.displays = q.Text(11);
    r.resolution = q.Text(12);
    r.os = q.Text(13);
    r.computerName = q.Text(14);
    r.machineKey = q.Text(15);
    row.rawBody = q.Bytes(16);
    row.codePage = static_cast<unsigned>(q.Int(17));  // NULL, before the table was kept: 0
}

}  // namespace Service
