#pragma once
// Signing staff in and out, and telling who a request is from its session cookie. Every login, failed
// login and logout is audited; a failed one never records the password, nor a name that is no staff (people
// type their password into the name box). Logins inside their growing wait are refused before any hashing.
// One thread calls it (the one that owns the store).
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "service/domain/login_throttle.h"
#include "service/domain/roles.h"
#include "service/storage/staff_store.h"

namespace Service {

struct LoginResult {
    enum class Kind { SignedIn, Refused, Wait, Failed } kind = Kind::Failed;
    int64_t waitSeconds = 0;  // Wait: when to try again
    std::string token;        // SignedIn: the new session's token, and its cookie
    std::string setCookie;
};

// A request's signed-in staff member, with what its forms must carry.
struct SignedIn {
    Principal who;
    std::string csrf;
};

class StaffAccess {
public:
    using Clock = std::function<int64_t()>;  // Unix seconds
    StaffAccess(StaffStore& store, Clock clock);

    // presentedToken: the session cookie the browser sent with the login, if any; it ends either way.
    LoginResult Login(std::string_view typedName, std::string_view password, const std::string& remote,
                      std::string_view presentedToken);
    // The staff member a session cookie belongs to; nothing for no cookie, a session that ended (it is then
    // removed) or a disabled account. A live session's last use is written now and then.
    std::optional<SignedIn> Authenticate(std::string_view token);
    bool Logout(std::string_view token, const std::string& remote);

    // An action with nothing else to write (a search, a page viewed, an export).
    bool Record(const Principal& who, const std::string& remote, AuditAction action, std::string_view subject = {},
                std::string_view detail = {});

private:
    LoginResult Refuse(const std::string& throttleKey, const std::string& remote, std::string_view subject,
                       const char* why, int64_t now);

    StaffStore& m_store;
    Clock m_clock;
    std::mutex m_mutex;
    LoginThrottle m_throttle;
};

}  // namespace Service
