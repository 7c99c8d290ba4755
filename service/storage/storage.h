#pragma once
// Where the service keeps what it receives, behind one interface so the database can change. Every call is
// made from one thread per instance: the service's single writer owns one instance, its admin reader
// another. The rules themselves are the domain's (service/domain/rules.h); a backend reads the facts they
// need, runs the statements and keeps the UNIQUE constraints that have the last word, so several writers
// (or several service instances) still enrol each account and machine once.
#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "service/domain/audit.h"
#include "service/domain/records.h"
#include "service/domain/rules.h"
#include "service/domain/wave_records.h"

namespace Service {

// "name_us N …" for Storage::LastTiming.
inline std::string Timing(std::initializer_list<std::pair<const char*, std::chrono::steady_clock::duration>> parts) {
    std::string line;
    for (const auto& [name, d] : parts)
        line += (line.empty() ? "" : " ") + std::string(name) + "_us " +
                std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(d).count());
    return line;
}

class Storage {
public:
    virtual ~Storage() = default;

    // Applies every report's rules, records the malformed ones and registers the names in one transaction,
    // committed durably before it returns; refused reports past batch.refusedKept are summarised into
    // counts in the same transaction. The outcomes are in the order of batch.reports, and registered (one
    // per batch.registrations) says which names were new. Nothing when the transaction failed or the
    // database is no longer the one opened: then nothing was stored and nothing may be acknowledged.
    // A unique constraint refusing an enrolment is a rule's answer (the account or machine is taken); any
    // other failure, another constraint's included, fails the whole batch.
    virtual std::optional<std::vector<Outcome>> Apply(const Batch& batch, std::vector<RegisterResult>& registered) = 0;
    std::optional<std::vector<Outcome>> Apply(const Batch& batch) {
        std::vector<RegisterResult> registered;
        return Apply(batch, registered);
    }
    // One name, in a transaction of its own.
    RegisterResult Register(const std::string& name, const std::string& accountKey, const std::string& remote,
                            int64_t now) {
        Batch batch;
        batch.registrations.push_back({name, accountKey, remote, now});
        std::vector<RegisterResult> registered;
        return Apply(batch, registered) && registered.size() == 1 ? registered[0] : RegisterResult::Failed;
    }

    virtual std::optional<DashboardData> Dashboard() = 0;
    // Page `page` (from 1) of the registered list, kAccountsPerPage names to a page, oldest first.
    virtual std::optional<AccountPage> Accounts(int64_t page) = 0;
    // Every well-formed report (accepted and refused), oldest first, one at a time: memory stays constant.
    // The sink returns false to stop early (then Export returns false too).
    virtual bool Export(const std::function<bool(const ReportRow&)>& sink) = 0;
    // Up to kMalformedSamples of the newest malformed bodies, newest first.
    virtual std::optional<std::vector<MalformedReport>> MalformedSamples() = 0;

    // False once the database file was deleted or replaced under the running program, and while the free
    // space on its disk is below the floor.
    virtual bool Healthy() = 0;
    // Below this many bytes free on the database's disk nothing is written (503), before the disk is full;
    // 0: no floor. Only a backend that sees its own disk keeps it.
    virtual void SetFreeSpaceFloor(uint64_t /*bytes*/) {}
    virtual std::string LastError() const = 0;
    // The closed test's waves (service/domain/wave.h). Each step checks the wave's state in the transaction
    // that changes it, and only one wave at a time stands between freeze and draw.
    virtual std::optional<int64_t> CreateWave(const std::string& name, const std::string& params, int64_t now) = 0;
    virtual std::optional<std::vector<Draw::WaveRecord>> Waves() = 0;
    // A record with id 0 when there is no such wave; nothing when the read failed.
    virtual std::optional<Draw::WaveRecord> Wave(int64_t id) = 0;
    // Every machine a freeze may list, from one snapshot: enrolled, not chosen by any wave, and registered when
    // registration is required. A backend may read them in parts side by side, up to one part per sink: each
    // machine reaches one sink, and a sink is never called from two threads at once.
    virtual bool EligibleMachines(bool requireRegistered, const std::vector<MachineSink>& sinks) = 0;
    // The machines these accounts have enrolled (those still enrolled).
    virtual bool MachinesOf(const std::vector<std::string>& accountKeys, const MachineSink& sink) = 0;
    virtual WaveChange SaveFrozen(int64_t id, const FrozenWave& frozen, int64_t now) = 0;
    virtual WaveChange SaveSeed(int64_t id, const std::string& seed, int64_t now) = 0;
    virtual WaveChange SaveDraw(int64_t id, const DrawnWave& drawn, int64_t now) = 0;
    virtual WaveChange Publish(int64_t id, int64_t now) = 0;
    // The frozen list or the result, byte for byte as hashed.
    virtual std::optional<std::string> WaveFile(int64_t id, WaveFileKind kind) = 0;
    virtual std::optional<WaveCoverage> Coverage(int64_t id) = 0;
    // A wave's chosen accounts that still stand, by account key.
    virtual bool WaveCodes(int64_t id, const std::function<bool(const Draw::ChosenRow&)>& sink) = 0;
    virtual std::optional<Draw::Standing> Standing(const std::string& accountKey) = 0;
    // A chosen account whose enrolment was revoked: its place is marked withdrawn, nobody else moves.
    virtual bool MarkWithdrawn(const std::string& accountKey, int64_t now) = 0;

    // Support's changes to an account's enrolment, each one transaction with its audit entry, taking the locks
    // the writer takes for the same keys, so reports of that account or machine arriving meanwhile (on any
    // instance) see the enrolment either before the change or after it.
    // Revoke: the enrolment is kept aside, its account and machine are free to enrol again, its points are
    // withdrawn, its machine leaves the hardware counts, and a draw's place is marked withdrawn.
    virtual EnrolmentChange Revoke(const std::string& accountKey, const AuditEntry& audit) = 0;
    // The account's newest revoked enrolment stands again, unless the rules say its account or machine has
    // enrolled since (RestoreDecision); a draw's place withdrawn by that revocation comes back with it.
    virtual EnrolmentChange Restore(const std::string& accountKey, const AuditEntry& audit) = 0;
    // Whether the account has a revoked enrolment. Nothing when the read failed.
    virtual std::optional<bool> Revoked(const std::string& accountKey) = 0;
    // A player's data removed from every report of the account: the raw bodies, the computer names and the
    // addresses (and the address of its registration). The counts stay. Irreversible.
    virtual EnrolmentChange Erase(const std::string& accountKey, const AuditEntry& audit) = 0;

    // Where the last Apply's time went ("facts_us N statements_us N commit_us N"), for the benchmark.
    virtual std::string LastTiming() const { return {}; }
};

// postgresql://… or postgres://… (libpq's URL form); anything else is a SQLite file.
bool IsPostgresUrl(const std::string& db);
// The database as it may be printed: a PostgreSQL URL without its password.
std::string PrintableDb(const std::string& db);
// Either backend, by the form of db, its schema created or migrated. Nothing on failure, with the reason in
// error.
std::unique_ptr<Storage> OpenStorage(const std::string& db, std::string& error);

}  // namespace Service
