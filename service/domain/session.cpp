#include "service/domain/session.h"

#include <algorithm>

#include "service/domain/credentials.h"

namespace Service::Sessions {

SessionState Check(const SessionRecord& session, int64_t now) {
    if (now - session.createdAt >= kAbsoluteSeconds) return SessionState::Expired;
    if (now - std::max(session.lastSeenAt, session.createdAt) >= kIdleSeconds) return SessionState::Idle;
    return SessionState::Live;
}

int64_t EndsAt(const SessionRecord& session) {
    return std::min(session.createdAt + kAbsoluteSeconds,
                    std::max(session.lastSeenAt, session.createdAt) + kIdleSeconds);
}

bool NeedsTouch(const SessionRecord& session, int64_t now) {
    return Check(session, now) == SessionState::Live && now - session.lastSeenAt >= kTouchSeconds;
}

StartedSession Start(const std::string& staff, int64_t now) {
    StartedSession started;
    started.token = Credentials::NewToken();
    started.record.tokenHash = Credentials::TokenHash(started.token);
    started.record.staff = staff;
    started.record.createdAt = now;
    started.record.lastSeenAt = now;
    return started;
}

std::string SessionCookie(std::string_view token) {
    return std::string(kCookieName) + "=" + std::string(token) + "; Path=/; Max-Age=" +
           std::to_string(kAbsoluteSeconds) + "; HttpOnly; Secure; SameSite=Strict";
}

std::string ClearedCookie() {
    return std::string(kCookieName) + "=; Path=/; Max-Age=0; HttpOnly; Secure; SameSite=Strict";
}

std::string CsrfToken(std::string_view sessionToken) {
    return Credentials::DeriveFromSecret(sessionToken, "csrf");
}

bool CsrfValid(std::string_view sessionToken, std::string_view submitted) {
    if (!Credentials::LooksLikeToken(sessionToken)) return false;
    return Credentials::SameSecret(CsrfToken(sessionToken), submitted);
}

bool PostedFromHere(std::string_view origin, std::string_view host, bool originPresent) {
    if (!originPresent) return true;
    const size_t scheme = origin.find("://");
    if (scheme == std::string_view::npos || host.empty()) return false;
    const std::string_view named = origin.substr(scheme + 3);
    if (named.size() != host.size()) return false;
    for (size_t i = 0; i < host.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(named[i]) != lower(host[i])) return false;
    }
    return true;
}

}  // namespace Service::Sessions
