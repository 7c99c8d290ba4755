#pragma once
// What the service keeps and shows, as plain data: a report on its way to storage, a malformed body, one
// batch of writes, and the rows and figures read back for the admin. Both databases read and write these.
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "service/domain/report_parse.h"

namespace Service {

// The schema version this program writes; opening a database migrates older ones up to it.
constexpr int kSchemaVersion = 5;
// Malformed bodies are counted; only the newest few are kept, each cut to this size, for diagnosis.
constexpr int kMalformedSamples = 100;
constexpr size_t kMalformedSampleBytes = 2048;
// Refused reports kept row by row by default; older ones are summarised into counts per UTC day and outcome.
constexpr int64_t kDefaultRefusedKept = 100000;
// The registered list is shown this many names to a page.
constexpr int64_t kAccountsPerPage = 500;

// A parsed report with the identity keys the rules compare (see identity.h).
struct PendingReport {
    Report report;            // report.machineKey filled by Identity::MachineKey
    std::string accountKey;   // NFKC case-folded account
    std::string macKey;       // twelve upper-case hex digits; empty when the report has no usable MAC
    std::string fingerprint;  // the hash of the case-folded CPU name, display list and computer name
    std::string fingerprintKey;  // the machine key the fingerprint has without a MAC
    std::string rawBody;      // the bytes as they arrived (kept for accepted reports only)
    unsigned codePage = 936;  // the table the body was read by (936: none declared, read as GB18030)
    std::string remote;
    int64_t receivedAt = 0;   // Unix seconds
};

// A body that did not parse: counted, and sampled in bounded space.
struct MalformedReport {
    std::string body;
    std::string remote;
    std::string reason;
    int64_t receivedAt = 0;
};

// An account name for the registered list, checked already (RegistrationProblem).
struct Registration {
    std::string name;        // as typed, kept for display
    std::string accountKey;  // decides duplicates
    std::string remote;
    int64_t at = 0;          // Unix seconds
};

enum class RegisterResult { Registered, Duplicate, Failed };

// What one transaction applies: reports in order, then malformed records and registrations.
struct Batch {
    std::vector<PendingReport> reports;
    std::vector<MalformedReport> malformed;
    bool requireRegistered = false;
    int64_t maxEnrolmentsPerAddress = 0;  // per day; 0, no bound
    std::vector<Registration> registrations;
    // Refused reports kept row by row, the newest; older ones become counts (refused_summary).
    int64_t refusedKept = kDefaultRefusedKept;
};

struct ReportRow {
    int64_t id = 0;
    int64_t receivedAt = 0;  // Unix seconds
    std::string remote;
    std::string outcome;
    int64_t points = 0;
    Report report;
    std::string rawBody;  // the bytes as they arrived; empty for refused reports
    unsigned codePage = 0;  // the table rawBody was read by; 0 for reports stored before it was kept
};

struct TimelineRow {
    int64_t start = 0;  // Unix seconds of the bucket
    int64_t successes = 0;
    int64_t refusals = 0;
    int64_t malformed = 0;
};

// aspect ("os", "vendor", "cores", "clock", "memory", "chip", "vram", "resolution") -> label -> machines
using HardwareCounts = std::map<std::string, std::map<std::string, int64_t>>;

struct DashboardData {
    int64_t successes = 0, accountUsed = 0, machineUsed = 0, notRegistered = 0, addressLimit = 0, malformed = 0;
    int64_t bucketSeconds = 3600;
    std::vector<TimelineRow> timeline;
    int64_t enrolledMachines = 0;
    HardwareCounts hardware;  // kept as machines enrol, never recounted from the reports
    int64_t registeredAccounts = 0;
    int64_t summarisedRefusals = 0;  // refused reports past the kept bound, now only counted per day
};

struct AccountRow {
    std::string name;  // as registered
    int64_t registeredAt = 0;
    bool enrolled = false;
};

// One page of the registered list, oldest first.
struct AccountPage {
    int64_t page = 1;  // from 1
    int64_t total = 0;  // names registered in all
    std::vector<AccountRow> rows;  // at most kAccountsPerPage
};

}  // namespace Service
