#pragma once
// The service's SQLite database: every accepted report with its raw body, the enrolments (one per account
// and one per machine, enforced by UNIQUE indexes) and the registered accounts.
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/report_parse.h"

namespace Service {

enum class Outcome { Success, AccountUsed, MachineUsed, NotRegistered };
const char* OutcomeName(Outcome outcome);

constexpr int kRewardPoints = 20;

struct ReportRow {
    int64_t id = 0;
    int64_t receivedAt = 0;  // Unix seconds
    std::string remote;
    std::string outcome;
    int64_t points = 0;
    Report report;
    std::string rawBody;  // the bytes as they arrived
};

struct TimelineRow {
    int64_t start = 0;  // Unix seconds of the bucket
    int64_t successes = 0;
    int64_t refusals = 0;
    int64_t malformed = 0;
};

struct DashboardData {
    int64_t successes = 0, accountUsed = 0, machineUsed = 0, notRegistered = 0, malformed = 0;
    int64_t bucketSeconds = 3600;
    std::vector<TimelineRow> timeline;
    std::vector<Report> machines;  // the report of each enrolled machine
    int64_t registeredAccounts = 0;
};

struct AccountRow {
    std::string name;
    int64_t registeredAt = 0;
    bool enrolled = false;
};

class Store {
public:
    // Creates the schema on first use. Nothing on failure, with the reason in error.
    static std::unique_ptr<Store> Open(const std::string& path, std::string& error);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Applies the rules and commits the report with its outcome. Nothing when the database failed: then
    // nothing was stored and nothing may be acknowledged.
    std::optional<Outcome> Record(const Report& report, std::string_view rawBody, const std::string& remote,
                                  bool requireRegistered, int64_t now);
    // A report that did not parse, kept for the counts (not exported).
    bool RecordMalformed(std::string_view rawBody, const std::string& remote, const std::string& reason,
                         int64_t now);

    enum class RegisterResult { Registered, Duplicate, Failed };
    RegisterResult Register(const std::string& account, const std::string& remote, int64_t now);

    std::optional<DashboardData> Dashboard();
    std::optional<std::vector<AccountRow>> Accounts();
    // Every accepted (well-formed) report, oldest first.
    std::optional<std::vector<ReportRow>> Reports();

    const std::string& LastError() const { return m_lastError; }

private:
    Store() = default;
    bool Exec(const char* sql);
    bool Fail(const char* what);

    std::mutex m_mutex;
    sqlite3* m_db = nullptr;
    std::string m_lastError;
};

}  // namespace Service
