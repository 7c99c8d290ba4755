#pragma once
// The audit log: one entry per staff action, written once and never changed. Who (a staff name, "token" or
// "console"), when, from which address, what, on what, and the detail the action had (a search's query,
// a revocation's reason).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Service {

enum class AuditAction {
    Login,
    LoginFailed,
    Logout,
    Search,
    ViewAccount,
    ViewMachine,
    ViewSuspicious,
    Revoke,
    Restore,
    Erase,
    Export,
    StaffAdd,
    StaffPasswd,
    StaffDisable,
    ViewAudit,
    ExportAudit,
    // A wave's steps (subject "wave N"; detail: its name, parameters and hashes as they stand after the step).
    WaveCreate,
    WaveFreeze,
    WaveSeed,
    WaveDraw,
    WavePublish,
    WaveExport,
    StaffRole,
    ViewStaff,
};
constexpr int kAuditActionCount = static_cast<int>(AuditAction::ViewStaff) + 1;

const char* AuditActionName(AuditAction action);   // "login", "revoke", …: stored, filtered, exported
const char* AuditActionLabel(AuditAction action);  // for the pages
std::optional<AuditAction> ParseAuditAction(std::string_view name);

// Longest subject and detail kept, in bytes (cut on a UTF-8 character boundary): a search box or a reason
// typed into a form cannot grow the log without bound.
constexpr size_t kMaxAuditSubject = 256;
constexpr size_t kMaxAuditDetail = 1024;

struct AuditEntry {
    int64_t id = 0;  // given by the database, rising
    int64_t at = 0;  // Unix seconds
    std::string actor;
    std::string remote;
    AuditAction action = AuditAction::Login;
    std::string subject;  // an account key, a machine key, a staff name; empty when the action has none
    std::string detail;
};

// An entry with its texts cut to the limits above and made valid UTF-8 (a stray byte becomes U+FFFD), so
// every entry can be shown and exported as it is stored.
AuditEntry MakeAuditEntry(int64_t at, std::string_view actor, std::string_view remote, AuditAction action,
                          std::string_view subject = {}, std::string_view detail = {});

// Valid UTF-8 of at most maxBytes: malformed bytes and control characters other than tab and line feed
// become U+FFFD (NUL among them, which PostgreSQL's text refuses); a cut falls between characters.
std::string CleanUtf8(std::string_view text, size_t maxBytes);

// What the admin's audit page asks for. Empty fields match everything.
struct AuditFilter {
    std::string actor;                  // exactly
    std::optional<AuditAction> action;  // exactly
    std::string subject;                // exactly (an account or machine page's history)
    std::string text;                   // anywhere in subject or detail
    int64_t from = 0;                   // Unix seconds, inclusive; 0: no bound
    int64_t until = 0;                  // Unix seconds, exclusive; 0: no bound
    int64_t beforeId = 0;               // paging: entries older than this id; 0: from the newest
};
constexpr size_t kAuditPageSize = 100;

bool Matches(const AuditFilter& filter, const AuditEntry& entry);
// The filter from the page's query: actor, action, subject, q, from and until as YYYY-MM-DD (UTC; until
// takes the whole day in), before. Nothing, with the reason (for the page), when a value is not understood.
std::optional<AuditFilter> ParseAuditFilter(const std::vector<std::pair<std::string, std::string>>& query,
                                            std::string& problem);

// Unix seconds as UTC text in a strftime format: the audit log, its CSV and the staff pages all show UTC.
std::string FormatUtc(int64_t unixSeconds, const char* format = "%Y-%m-%d %H:%M:%S");

// "YYYY-MM-DD" as the Unix seconds of its midnight UTC; nothing for any other text or an impossible date.
std::optional<int64_t> ParseUtcDate(std::string_view text);

}  // namespace Service
