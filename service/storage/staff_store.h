#pragma once
// Where staff accounts, their sessions and the audit log are kept, on the service's own database (SQLite or
// PostgreSQL), and what the support desk reads of the reports. Every change is one transaction together with its audit entry: a change without its record,
// or a record of a change that did not happen, cannot be left behind. The audit log is insert-only: the
// interface has no way to change or delete an entry, and the database refuses it too (a trigger).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "service/domain/audit.h"
#include "service/domain/roles.h"
#include "service/domain/session.h"
#include "service/domain/support.h"

namespace Service {

struct StaffAccount {
    std::string name;  // as StaffName gives it
    Role role = Role::Viewer;
    std::string passwordHash;  // argon2id string
    bool disabled = false;
    int64_t createdAt = 0;
};

// A session found by its token's hash, with the account it belongs to.
struct FoundSession {
    Sessions::SessionRecord session;
    StaffAccount staff;
};

enum class StaffWrite { Done, Exists, Missing, Failed };

class StaffStore {
public:
    virtual ~StaffStore() = default;

    virtual StaffWrite AddStaff(const StaffAccount& account, const AuditEntry& audit) = 0;
    // A new password, or disabling, also ends every session of that account.
    virtual StaffWrite SetPassword(const std::string& name, const std::string& hash, const AuditEntry& audit) = 0;
    virtual StaffWrite Disable(const std::string& name, const AuditEntry& audit) = 0;
    // A new role takes effect at the account's next request: its sessions stay.
    virtual StaffWrite SetRole(const std::string& name, Role role, const AuditEntry& audit) = 0;
    // By name. Nothing when the database failed.
    virtual std::optional<std::vector<StaffAccount>> ListStaff() = 0;
    // The inner nothing: no such account.
    virtual std::optional<std::optional<StaffAccount>> FindStaff(const std::string& name) = 0;

    // A login: the new session stored and the one the browser presented (its hash; may be empty) ended.
    virtual bool StartSession(const Sessions::SessionRecord& fresh, const std::string& endedTokenHash,
                              const AuditEntry& audit) = 0;
    virtual std::optional<std::optional<FoundSession>> FindSession(const std::string& tokenHash) = 0;
    virtual bool TouchSession(const std::string& tokenHash, int64_t now) = 0;
    // Logout (with its entry) or a session found expired (audit nothing).
    virtual bool EndSession(const std::string& tokenHash, const AuditEntry* audit) = 0;
    // Removes every session that has ended by now; the number removed, or nothing on failure.
    virtual std::optional<int64_t> EndSessionsOver(int64_t now) = 0;

    // An entry of an action that changes nothing here (a search, a page viewed, a failed login).
    virtual bool Append(const AuditEntry& entry) = 0;
    // Entries matching the filter, newest first, at most limit; the sink returns false to stop.
    virtual bool ReadAudit(const AuditFilter& filter, size_t limit,
                           const std::function<bool(const AuditEntry&)>& sink) = 0;

    // The support desk's look-ups, read-only. Nothing when the database failed.
    virtual std::optional<std::vector<SearchHit>> Search(const SupportQuery& query) = 0;
    virtual std::optional<Attempts> AccountAttempts(const std::string& accountKey) = 0;
    virtual std::optional<Attempts> MachineAttempts(const std::string& machineKey) = 0;
    // Every standing enrolment with the report that made it, oldest first: what the signals look at.
    virtual std::optional<std::vector<EnrolmentRow>> Enrolments() = 0;
    // The service's own tally of what came in, by outcome ("success", …, "malformed"), over every instance.
    virtual std::optional<std::vector<std::pair<std::string, int64_t>>> OutcomeCounts() = 0;

    virtual std::string LastError() const = 0;
};

// Opens the staff tables on the database --db names (a SQLite file or a postgresql:// URL), creating them.
// Nothing, with the reason in error, when that fails.
std::unique_ptr<StaffStore> OpenSqliteStaffStore(const std::string& path, std::string& error);
std::unique_ptr<StaffStore> OpenPostgresStaffStore(const std::string& url, std::string& error);
std::unique_ptr<StaffStore> OpenStaffStore(const std::string& db, std::string& error);

}  // namespace Service
