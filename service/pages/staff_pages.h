#pragma once
// The bodies of the staff pages (the page frame around them is the dashboard's): the login, the bar with who
// is signed in, the audit log with its filter, the suspicious enrolments, and the forms that change an
// enrolment. Every text from outside is escaped; every form that changes anything carries the session's
// CSRF token.
#include <string>
#include <vector>

#include "service/domain/audit.h"
#include "service/domain/roles.h"
#include "service/domain/signals.h"
#include "service/domain/support.h"

namespace Service {

// The hidden field with a session's CSRF token.
std::string CsrfField(const std::string& csrf);
// application/x-www-form-urlencoded for a link's query value: everything but letters, digits and "-._~".
std::string UrlEncode(const std::string& text);

std::string LoginBody(const std::string& notice, const std::string& typedName);
// Who is signed in, with the role, the pages the role may open, and the logout button.
std::string StaffBar(const Principal& who, const std::string& csrf);

// entries: one page, newest first (at most kAuditPageSize); a full page links to the older ones.
std::string AuditBody(const std::vector<AuditEntry>& entries, const AuditFilter& filter);
// The same filter as a query string (without "before"), for the CSV link and paging.
std::string AuditQuery(const AuditFilter& filter);

// Each suspicion with its enrolments, each linking to its account and machine page.
std::string SuspiciousBody(const std::vector<Suspicion>& found, const std::vector<EnrolmentRow>& rows);

// The search box, and what it found (nothing before a search: typed is empty).
std::string SearchBody(const std::string& typed, const std::vector<SearchHit>& hits);
// An account's or a machine's page: every attempt with time, address and outcome, the hardware it reported,
// the standing enrolment, the audit history, and (for support) the forms that act on the enrolment.
struct SubjectPage {
    bool machine = false;        // a machine page, else an account page
    std::string key;             // its account or machine key
    Attempts attempts;
    std::vector<AuditEntry> history;  // newest first
    std::string csrf;            // empty: the viewer may not act
    bool restorable = false;     // a revoked enrolment that may come back
};
std::string SubjectBody(const SubjectPage& page);

// The admin's staff page: every account with its role and state, a form to add one, and per account the forms
// that change its role, set a new password and disable it (none on the admin's own row: nobody locks
// themselves out). notice: what the last change came to, shown above.
struct StaffRow {
    std::string name;
    Role role = Role::Viewer;
    bool disabled = false;
    int64_t createdAt = 0;
};
std::string StaffBody(const std::vector<StaffRow>& staff, const std::string& self, const std::string& csrf,
                      const std::string& notice);

// On an account page: revoke (a reason is required), restore, and erase (confirmed by typing the account).
std::string RevokeForm(const std::string& csrf, const std::string& accountKey);
std::string RestoreForm(const std::string& csrf, const std::string& accountKey);
std::string EraseForm(const std::string& csrf, const std::string& accountKey, const std::string& accountName);

}  // namespace Service
