#include "service/domain/rules.h"

#include "service/domain/identity.h"
#include "service/domain/service_text.h"

namespace Service {

namespace {

// Digits only, within [0, max]; memory may also be left empty (not measured).
bool SaneDecimal(const std::string& text, int64_t max) {
    if (text.empty()) return true;
    if (text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    return std::stoll(text) <= max;
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Success: return "success";
    case Outcome::AccountUsed: return "account_used";
    case Outcome::MachineUsed: return "machine_used";
    case Outcome::NotRegistered: return "not_registered";
    case Outcome::AddressLimit: return "address_limit";
    }
    return "unknown";
}

std::optional<Outcome> OutcomeFromName(std::string_view name) {
    for (const Outcome o : {Outcome::Success, Outcome::AccountUsed, Outcome::MachineUsed, Outcome::NotRegistered,
                            Outcome::AddressLimit})
        if (name == OutcomeName(o)) return o;
    return std::nullopt;
}

std::string NumbersProblem(const Report& r) {
    if (r.cpuCount < 0 || r.cpuCount > kMaxCpuCount) return "processor count out of range";
    if (r.clockMHz < 0 || r.clockMHz > kMaxClockMHz) return "clock out of range";
    if (!SaneDecimal(r.memoryMB, kMaxMemoryMB)) return "memory out of range";
    return {};
}

PendingReport Prepare(Report report, std::string rawBody, std::string remote, int64_t receivedAt) {
    PendingReport p;
    p.accountKey = Identity::AccountKey(report.account);
    p.macKey = Identity::MacKey(report.mac);
    p.fingerprint = Identity::Fingerprint(report);
    report.machineKey = Identity::MachineKey(p.macKey, p.fingerprint);
    p.fingerprintKey = Identity::MachineKey({}, p.fingerprint);
    p.report = std::move(report);
    p.rawBody = std::move(rawBody);
    p.remote = std::move(remote);
    p.receivedAt = receivedAt;
    return p;
}

Outcome BatchRules::Decide(const PendingReport& p, const StoredFacts& stored) {
    if (m_requireRegistered && !stored.registered) return Outcome::NotRegistered;
    if (stored.accountEnrolled || m_accounts.count(p.accountKey)) return Outcome::AccountUsed;
    if (stored.machineEnrolled || m_machines.count(p.report.machineKey)) return Outcome::MachineUsed;
    // Without a MAC the fingerprint is all there is: any enrolled machine with it, MAC or not, is this one.
    if (p.macKey.empty() && (stored.fingerprintEnrolled || m_fingerprints.count(p.fingerprint)))
        return Outcome::MachineUsed;
    // With a MAC, a machine enrolled without one by the same fingerprint is this one too, so a MAC typed in
    // after a blank one does not enrol it again; two machines with the fingerprint and MACs of their own are
    // two machines.
    if (stored.fingerprintKeyEnrolled || m_fingerprintKeys.count(p.fingerprintKey)) return Outcome::MachineUsed;
    // Each success earns points: a script inventing machines from one address is held to what a café needs.
    const auto addressDay = std::make_pair(p.remote, EnrolmentDay(p.receivedAt));
    if (m_maxPerAddress > 0 && stored.addressEnrolmentsToday + m_addressDays[addressDay] >= m_maxPerAddress)
        return Outcome::AddressLimit;
    m_accounts.insert(p.accountKey);
    m_machines.insert(p.report.machineKey);
    m_fingerprints.insert(p.fingerprint);
    if (p.macKey.empty()) m_fingerprintKeys.insert(p.fingerprintKey);
    ++m_addressDays[addressDay];
    return Outcome::Success;
}

Outcome BatchRules::Conflicted(const PendingReport& p, bool accountTaken) {
    // Decide admitted it, so no earlier report of the batch holds these keys: they were this report's own.
    m_accounts.erase(p.accountKey);
    m_machines.erase(p.report.machineKey);
    m_fingerprints.erase(p.fingerprint);
    if (p.macKey.empty()) m_fingerprintKeys.erase(p.fingerprintKey);
    --m_addressDays[std::make_pair(p.remote, EnrolmentDay(p.receivedAt))];
    return accountTaken ? Outcome::AccountUsed : Outcome::MachineUsed;
}

std::string_view Cut(std::string_view text, size_t bytes) {
    if (text.size() <= bytes) return text;
    size_t n = bytes;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return text.substr(0, n);
}

KeptReport Kept(const PendingReport& p, Outcome outcome) {
    const Report& r = p.report;
    const bool ok = outcome == Outcome::Success;
    auto keep = [ok](std::string_view text, size_t bytes = 256) { return ok ? text : Cut(text, bytes); };
    KeptReport k{OutcomeName(outcome), ok ? kRewardPoints : 0,
                 keep(r.account), keep(p.accountKey), keep(r.mac, 64), keep(r.cpuName), keep(r.memoryMB, 32),
                 keep(r.displays), keep(r.resolution, 64), keep(r.os), keep(r.computerName), keep(r.machineKey),
                 r.cpuCount, r.clockMHz, std::nullopt, p.codePage};
    if (ok) k.rawBody = p.rawBody;
    return k;
}

const char* EnrolmentChangeName(EnrolmentChange change) {
    switch (change) {
    case EnrolmentChange::Done: return "done";
    case EnrolmentChange::Missing: return "missing";
    case EnrolmentChange::AccountTaken: return "account_taken";
    case EnrolmentChange::MachineTaken: return "machine_taken";
    case EnrolmentChange::Failed: return "failed";
    }
    return "unknown";
}

PendingReport EnrolledKeys(const std::string& accountKey, const std::string& machineKey, const std::string& fingerprint) {
    PendingReport p;
    p.accountKey = accountKey;
    p.report.machineKey = machineKey;
    if (machineKey.rfind("mac:", 0) == 0) p.macKey = machineKey.substr(4);
    p.fingerprint = fingerprint;
    p.fingerprintKey = Identity::MachineKey({}, fingerprint);
    return p;
}

EnrolmentChange RestoreDecision(const PendingReport& enrolled, const StoredFacts& stored) {
    BatchRules rules(false, 0);
    switch (rules.Decide(enrolled, stored)) {
    case Outcome::Success: return EnrolmentChange::Done;
    case Outcome::AccountUsed: return EnrolmentChange::AccountTaken;
    default: return EnrolmentChange::MachineTaken;
    }
}

std::string_view KeptReason(std::string_view reason) { return Cut(reason); }
std::string_view KeptSample(std::string_view body) { return body.substr(0, kMalformedSampleBytes); }

}  // namespace Service
