#pragma once
// The growing wait after failed logins, kept per account and per address: a guesser at one account waits
// longer after every miss, and so does one address trying many accounts. A login inside its wait is refused
// before the password is looked at, so waiting guessers cost no hashing either. Figures live in memory: a
// restart forgives, which an attacker cannot cause.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace Service {

struct ThrottlePolicy {
    int freeFailures;      // misses allowed without any wait
    int64_t firstWait;     // seconds after the first miss past those; doubled with each further one
    int64_t maxWait;       // the wait never grows past this
    int64_t forgetAfter;   // seconds without a miss after which the count starts again
};
// An account: three free misses, then 1 s, 2 s, 4 s … up to 15 minutes.
constexpr ThrottlePolicy kAccountPolicy{3, 1, 15 * 60, 60 * 60};
// An address is shared by an office or an internet café: more free misses, the same growth.
constexpr ThrottlePolicy kAddressPolicy{10, 1, 15 * 60, 60 * 60};

// Seconds to wait after this many misses in a row.
int64_t WaitAfter(int failures, const ThrottlePolicy& policy);
// What an address is counted by: IPv4 as it is (an IPv4-mapped IPv6 address as its IPv4), IPv6 by its /64,
// the block one subscriber gets. Anything else as it is.
std::string AddressKey(std::string_view address);

// Not thread-safe: one owner (the thread that checks logins) calls it.
class LoginThrottle {
public:
    explicit LoginThrottle(size_t capacity = 100000, ThrottlePolicy account = kAccountPolicy,
                           ThrottlePolicy address = kAddressPolicy);

    // Seconds until a login for this account from this address may be tried; 0 when it may be now.
    // account: the typed staff name as stored (lower case), whether or not such staff exists.
    int64_t WaitFor(const std::string& account, std::string_view address, int64_t now) const;
    void Failed(const std::string& account, std::string_view address, int64_t now);
    // The account's count starts again; the address's stays, or one good password would clear the misses
    // at every other account tried from there.
    void Succeeded(const std::string& account);

    size_t Tracked() const { return m_accounts.size() + m_addresses.size(); }

private:
    struct Misses {
        int failures = 0;
        int64_t last = 0;
    };
    using Table = std::unordered_map<std::string, Misses>;
    static int64_t Remaining(const Table& table, const std::string& key, const ThrottlePolicy& policy, int64_t now);
    void Count(Table& table, const std::string& key, const ThrottlePolicy& policy, int64_t now);

    size_t m_capacity;
    ThrottlePolicy m_accountPolicy, m_addressPolicy;
    Table m_accounts, m_addresses;
};

}  // namespace Service
