#pragma once
// Where the service keeps what it receives, behind one interface so the database can change. Every call is
// made from one thread per instance: the service's single writer owns one instance, its admin reader
// another. An instance never decides an outcome outside a transaction: the rules are UNIQUE constraints in
// the database, so several writers (or several service instances) still enrol each account and machine once.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/domain/report_parse.h"

namespace Service {

enum class Outcome { Success, AccountUsed, MachineUsed, NotRegistered };
const char* OutcomeName(Outcome outcome);

constexpr int kRewardPoints = 20;
// The schema version this program writes; Open migrates older databases up to it.
constexpr int kSchemaVersion = 2;
// Malformed bodies are counted; only the newest few are kept, each cut to this size, for diagnosis.
constexpr int kMalformedSamples = 100;
constexpr size_t kMalformedSampleBytes = 2048;

// A parsed report with the identity keys the rules compare (see identity.h).
struct PendingReport {
    Report report;
    std::string accountKey;   // NFKC case-folded account
    std::string macKey;       // twelve upper-case hex digits; empty when the report has no usable MAC
    std::string fingerprint;  // case-folded CPU name, display list and computer name
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
    int64_t successes = 0, accountUsed = 0, machineUsed = 0, notRegistered = 0, malformed = 0;
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

class Storage {
public:
    virtual ~Storage() = default;

    // Applies every report's rules and records the malformed ones in one transaction, committed durably
    // before it returns. The outcomes are in the order of batch.reports. Nothing when the transaction failed
    // or the database is no longer the one opened: then nothing was stored and nothing may be acknowledged.
    virtual std::optional<std::vector<Outcome>> Apply(const Batch& batch) = 0;

    // accountKey decides duplicates; name is kept for display.
    virtual RegisterResult Register(const std::string& name, const std::string& accountKey,
                                    const std::string& remote, int64_t now) = 0;

    virtual std::optional<DashboardData> Dashboard() = 0;
    virtual std::optional<std::vector<AccountRow>> Accounts() = 0;
    // Every well-formed report (accepted and refused), oldest first, one at a time: memory stays constant.
    // The sink returns false to stop early (then Export returns false too).
    virtual bool Export(const std::function<bool(const ReportRow&)>& sink) = 0;
    // Up to kMalformedSamples of the newest malformed bodies, newest first.
    virtual std::optional<std::vector<MalformedReport>> MalformedSamples() = 0;

    // False once the database file was deleted or replaced under the running program.
    virtual bool Healthy() = 0;
    virtual std::string LastError() const = 0;
};

// Opens (creating or migrating the schema) a SQLite database. Nothing on failure, with the reason in error.
std::unique_ptr<Storage> OpenSqliteStorage(const std::string& path, std::string& error);

}  // namespace Service
