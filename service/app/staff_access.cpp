#include "service/app/staff_access.h"

#include "service/domain/credentials.h"
#include "service/domain/session.h"

namespace Service {

namespace {

// What a typed name is counted under before it is known to be staff: lower case, bounded.
std::string ThrottleKey(std::string_view typed) {
    if (const auto name = StaffName(typed)) return *name;
    std::string key(typed.substr(0, 64));
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

}  // namespace

StaffAccess::StaffAccess(StaffStore& store, Clock clock) : m_store(store), m_clock(std::move(clock)) {}

LoginResult StaffAccess::Refuse(const std::string& throttleKey, const std::string& remote, std::string_view subject,
                                const char* why, int64_t now) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_throttle.Failed(throttleKey, remote, now);
    }
    LoginResult result;
    result.kind = LoginResult::Kind::Refused;
    if (!m_store.Append(MakeAuditEntry(now, subject, remote, AuditAction::LoginFailed, subject, why)))
        result.kind = LoginResult::Kind::Failed;
    return result;
}

LoginResult StaffAccess::Login(std::string_view typedName, std::string_view password, const std::string& remote,
                               std::string_view presentedToken) {
    const int64_t now = m_clock();
    const std::string key = ThrottleKey(typedName);
    LoginResult result;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        result.waitSeconds = m_throttle.WaitFor(key, remote, now);
    }
    if (result.waitSeconds > 0) {
        result.kind = LoginResult::Kind::Wait;
        return result;
    }
    const auto name = StaffName(typedName);
    std::optional<std::optional<StaffAccount>> found;
    if (name) {
        found = m_store.FindStaff(*name);
        if (!found) return result;  // the database failed: Failed, nothing counted against the person
    }
    if (!name || !*found) {
        Credentials::VerifyNothing(password);
        return Refuse(key, remote, "(unknown name)", "unknown name", now);
    }
    const StaffAccount& staff = **found;
    if (!Credentials::VerifyPassword(staff.passwordHash, password))
        return Refuse(key, remote, staff.name, "wrong password", now);
    if (staff.disabled) return Refuse(key, remote, staff.name, "account disabled", now);

    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_throttle.Succeeded(key);
    }
    const auto started = Sessions::Start(staff.name, now);
    const std::string ended = Credentials::LooksLikeToken(presentedToken) ? Credentials::TokenHash(presentedToken) : "";
    if (started.token.empty() ||
        !m_store.StartSession(started.record, ended,
                              MakeAuditEntry(now, staff.name, remote, AuditAction::Login, staff.name, RoleName(staff.role))))
        return result;
    m_store.EndSessionsOver(now);  // housekeeping: sessions that ended without a logout
    result.kind = LoginResult::Kind::SignedIn;
    result.token = started.token;
    result.setCookie = Sessions::SessionCookie(started.token);
    return result;
}

std::optional<SignedIn> StaffAccess::Authenticate(std::string_view token) {
    if (!Credentials::LooksLikeToken(token)) return std::nullopt;
    const std::string hash = Credentials::TokenHash(token);
    const auto found = m_store.FindSession(hash);
    if (!found || !*found) return std::nullopt;
    const int64_t now = m_clock();
    const FoundSession& s = **found;
    if (Sessions::Check(s.session, now) != Sessions::SessionState::Live) {
        m_store.EndSession(hash, nullptr);
        return std::nullopt;
    }
    if (s.staff.disabled) return std::nullopt;
    if (Sessions::NeedsTouch(s.session, now)) m_store.TouchSession(hash, now);
    return SignedIn{{Principal::Kind::Staff, s.staff.name, s.staff.role}, Sessions::CsrfToken(token)};
}

bool StaffAccess::Logout(std::string_view token, const std::string& remote) {
    const auto who = Authenticate(token);
    if (!who) return false;
    const AuditEntry entry = MakeAuditEntry(m_clock(), who->who.name, remote, AuditAction::Logout, who->who.name);
    return m_store.EndSession(Credentials::TokenHash(token), &entry);
}

bool StaffAccess::Record(const Principal& who, const std::string& remote, AuditAction action, std::string_view subject,
                         std::string_view detail) {
    return m_store.Append(MakeAuditEntry(m_clock(), who.name, remote, action, subject, detail));
}

}  // namespace Service
