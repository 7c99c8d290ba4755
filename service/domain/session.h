#pragma once
// Staff sessions as rules of time alone: a session ends 30 minutes after its last use and 12 hours after the
// login, whichever comes first; every login starts a new one (a token known before the login is worth
// nothing after it); the CSRF token of a session is derived from its secret, so a form posted from another
// site, which cannot read the page, cannot carry it.
#include <cstdint>
#include <string>
#include <string_view>

namespace Service::Sessions {

constexpr int64_t kIdleSeconds = 30 * 60;
constexpr int64_t kAbsoluteSeconds = 12 * 60 * 60;
// A session's last use is written at most this often: a page with its images is one write, not five.
constexpr int64_t kTouchSeconds = 60;
constexpr const char* kCookieName = "zorv_staff";
// The form field that carries the CSRF token.
constexpr const char* kCsrfField = "csrf";

// What is stored of a session: never its token, only the token's hash.
struct SessionRecord {
    std::string tokenHash;
    std::string staff;       // the staff name it belongs to
    int64_t createdAt = 0;   // Unix seconds of the login
    int64_t lastSeenAt = 0;  // Unix seconds of the last request that used it
};

enum class SessionState { Live, Idle, Expired };
// Idle once kIdleSeconds have passed since its last use, Expired once kAbsoluteSeconds since the login (the
// boundaries themselves already end it). A clock that went back never makes a session older.
SessionState Check(const SessionRecord& session, int64_t now);
// The moment it ends if nothing uses it again.
int64_t EndsAt(const SessionRecord& session);
// Whether this use should be written back (a live session not written for kTouchSeconds).
bool NeedsTouch(const SessionRecord& session, int64_t now);

// A new session for a login: the token goes to the browser, the record to the database. The caller ends the
// session the browser presented, if any, in the same step.
struct StartedSession {
    std::string token;
    SessionRecord record;
};
StartedSession Start(const std::string& staff, int64_t now);

// Set-Cookie values: the session (HttpOnly, Secure, SameSite=Strict, gone with the absolute limit) and the
// one that removes it at logout.
std::string SessionCookie(std::string_view token);
std::string ClearedCookie();

// The session's CSRF token, for the hidden field of every form that changes anything.
std::string CsrfToken(std::string_view sessionToken);
// Whether a posted form carries this session's CSRF token (constant-time comparison).
bool CsrfValid(std::string_view sessionToken, std::string_view submitted);

// Whether a form was posted from this site's own pages, for the login, which has no session and so no CSRF
// token yet: the Origin header browsers send with every POST must name the host the request went to (scheme
// aside, case aside). No header at all (an old browser, a script) passes; "null" (a sandboxed or privacy-
// stripped origin) and any other site do not.
bool PostedFromHere(std::string_view origin, std::string_view host, bool originPresent);

}  // namespace Service::Sessions
