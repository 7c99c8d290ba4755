#pragma once
// What the support desk looks up: the search box's keys, what a search finds, and everything one account or
// machine has sent.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/domain/signals.h"
#include "service/domain/records.h"

namespace Service {

// What the search box asks for: each non-empty key is tried, a report matching any of them is found.
struct SupportQuery {
    std::string accountKey;    // Identity::AccountKey of the text
    std::string machineKey;    // "mac:" and Identity::MacKey of the text, when it is a MAC
    std::string computerName;  // the text as typed (and in upper case, as Windows shows names)
    std::string remote;        // the text as an address
};
SupportQuery MakeSupportQuery(const std::string& typed);

// A revocation's reason as it is recorded: trimmed, cut to what the audit log keeps. Empty: there is none,
// and a revocation without a reason is refused.
std::string RevokeReason(const std::string& typed);
// An erasure is confirmed by typing the account's name again, in any spelling the account has (its identity
// key); nothing typed confirms nothing.
bool ErasureConfirmed(const std::string& typed, const std::string& accountKey);

// One account on one machine, as the reports found show it.
struct SearchHit {
    std::string accountKey, account, machineKey, mac, computerName, remote;  // the newest report's
    int64_t lastAt = 0;
    int64_t reports = 0;
    bool enrolled = false;  // this account stands enrolled on this machine
};
constexpr size_t kMaxSearchHits = 200;

// Every report of an account or machine, oldest first, and its standing enrolment if any.
struct Attempts {
    std::vector<ReportRow> reports;
    std::optional<EnrolmentRow> enrolment;
};

}  // namespace Service
