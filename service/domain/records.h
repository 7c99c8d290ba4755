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
constexpr int kSchemaVersion = 4;
// Malformed bodies are counted; only the newest few are kept, each cut to this size, for diagnosis.
constexpr int kMalformedSamples = 100;
constexpr size_t kMalformedSampleBytes = 2048;

// A parsed report with the identity keys the rules compare (see identity.h).
struct PendingReport {
    Report report;            // report.machineKey filled by Identity::MachineKey
    std::string accountKey;   // NFKC case-folded account
    std::string macKey;       // twelve upper-case hex digits; empty when the report has no usable MAC
    std::string fingerprint;  // case-folded CPU name, display list and computer name
    std::string fingerprintKey;  // the machine key the fingerprint has without a MAC
    std::string rawBody;      // the bytes as they arrived (kept for accepted reports only)
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

// What one transaction applies: reports in order, then malformed records.
struct Batch {
    std::vector<PendingReport> reports;
    std::vector<MalformedReport> malformed;
    bool requireRegistered = false;
    int64_t maxEnrolmentsPerAddress = 0;  // per day; 0, no bound
};

struct ReportRow {
    int64_t id = 0;
    int64_t receivedAt = 0;  // Unix seconds
    std::string remote;
    std::string outcome;
    int64_t points = 0;
    Report report;
    std::string rawBody;  // the bytes as they arrived; empty for refused reports
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
};

struct AccountRow {
    std::string name;  // as registered
    int64_t registeredAt = 0;
    bool enrolled = false;
};

enum class RegisterResult { Registered, Duplicate, Failed };

}  // namespace Service
