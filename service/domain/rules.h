#pragma once
// The enrolment rules, written once for every database: what a report's outcome is, given what is stored
// already and what the same batch has enrolled before it, and what of a refused report is kept.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "service/domain/records.h"

namespace Service {

enum class Outcome { Success, AccountUsed, MachineUsed, NotRegistered, AddressLimit };
// The name stored with the report and counted on the dashboard ("success", "account_used", …).
const char* OutcomeName(Outcome outcome);
std::optional<Outcome> OutcomeFromName(std::string_view name);
// Malformed bodies are counted under this name beside the outcomes.
constexpr const char* kMalformedName = "malformed";

constexpr int kRewardPoints = 20;
// Enrolments one address may make in a day by default: an internet café has a few hundred machines.
constexpr int64_t kDefaultEnrolmentsPerAddress = 300;

// Sane ranges for the numbers a report carries; outside them the report is refused as malformed.
constexpr int64_t kMaxCpuCount = 4096;
constexpr int64_t kMaxClockMHz = 100000;
constexpr int64_t kMaxMemoryMB = 64LL * 1024 * 1024;  // 64 TiB

// Why the numbers of a parsed report are not believable; empty when they are.
std::string NumbersProblem(const Report& report);

// The day an enrolment counts for, per address (UTC days since the epoch).
constexpr int64_t EnrolmentDay(int64_t unixSeconds) { return unixSeconds / 86400; }

// A parsed report with its identity keys, ready for the rules.
PendingReport Prepare(Report report, std::string rawBody, std::string remote, int64_t receivedAt);

// What the database holds about one report's keys before it is applied.
struct StoredFacts {
    bool registered = false;           // the account is registered
    bool accountEnrolled = false;      // the account has enrolled
    bool machineEnrolled = false;      // the machine key has enrolled
    bool fingerprintEnrolled = false;  // some enrolled machine (with or without a MAC) has this fingerprint
    bool fingerprintKeyEnrolled = false;     // a machine enrolled without a MAC has this fingerprint
    int64_t addressEnrolmentsToday = 0;      // enrolments from the report's address on its day
};

// The rules over one batch, report by report in order. A success's keys count for the reports after it, so a
// backend may read every report's facts before writing any of them.
class BatchRules {
public:
    // maxPerAddress: enrolments one address may make in a day; 0, no bound.
    explicit BatchRules(bool requireRegistered, int64_t maxPerAddress = 0)
        : m_requireRegistered(requireRegistered), m_maxPerAddress(maxPerAddress) {}
    Outcome Decide(const PendingReport& report, const StoredFacts& stored);
    // The database refused a success's enrolment on a unique constraint: another writer got the account or the
    // machine first. The report is refused instead, and its keys no longer count as enrolled by this batch.
    Outcome Conflicted(const PendingReport& report, bool accountTaken);

private:
    bool m_requireRegistered;
    int64_t m_maxPerAddress;
    std::set<std::string> m_accounts, m_machines, m_fingerprints, m_fingerprintKeys;
    std::map<std::pair<std::string, int64_t>, int64_t> m_addressDays;  // (address, day) -> this batch's
};

// Whether a writer that has stored `since` refused reports since it last trimmed them should trim now: at
// most 1 % past the kept bound, so the walk to the bound's edge is not paid on every batch.
constexpr bool RefusalTrimDue(int64_t since, int64_t kept) { return since > 0 && since >= (kept > 100 ? kept / 100 : 1); }

// A report as its row keeps it. A refused report keeps who sent it and why, with the long free-text fields cut,
// so a flood of refusals costs a bounded amount per row; only a success keeps its raw body and points.
struct KeptReport {
    const char* outcome;
    int64_t points;
    std::string_view account, accountKey, mac, cpuName, memoryMB, displays, resolution, os, computerName, machineKey;
    int64_t cpuCount, clockMHz;
    std::optional<std::string_view> rawBody;
    int64_t codePage;  // the table rawBody was read by, so the export reads it the same way
};
KeptReport Kept(const PendingReport& report, Outcome outcome);

// What support's change to one enrolment came to. Taken: the account or the machine has enrolled since the
// enrolment was revoked, so it cannot come back.
enum class EnrolmentChange { Done, Missing, AccountTaken, MachineTaken, Failed };
const char* EnrolmentChangeName(EnrolmentChange change);

// An enrolment's keys as the rules compare them, from what its row keeps: its report may have been erased
// since, so the keys are not computed again.
PendingReport EnrolledKeys(const std::string& accountKey, const std::string& machineKey, const std::string& fingerprint);
// Whether a revoked enrolment may stand again, by the rules a report meets when it enrols: the account and the
// machine (by key and fingerprint) must be free. Registration and the address's day bound were met when it
// enrolled first, and are not asked again.
EnrolmentChange RestoreDecision(const PendingReport& enrolled, const StoredFacts& stored);
// Malformed samples keep at most this much of the reason and of the body.
std::string_view KeptReason(std::string_view reason);
std::string_view KeptSample(std::string_view body);

// Text cut to at most `bytes` bytes on a UTF-8 character boundary.
std::string_view Cut(std::string_view text, size_t bytes = 256);

}  // namespace Service
