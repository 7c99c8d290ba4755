#include "service/domain/login_throttle.h"

#include <arpa/inet.h>

#include <algorithm>

namespace Service {

int64_t WaitAfter(int failures, const ThrottlePolicy& policy) {
    const int past = failures - policy.freeFailures;
    if (past <= 0) return 0;
    int64_t wait = policy.firstWait;
    for (int i = 1; i < past && wait < policy.maxWait; ++i) wait *= 2;
    return std::min(wait, policy.maxWait);
}

std::string AddressKey(std::string_view address) {
    const std::string text(address);
    unsigned char bytes[16];
    if (inet_pton(AF_INET6, text.c_str(), bytes) != 1) return text;
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    char shown[INET6_ADDRSTRLEN];
    if (std::equal(mapped, mapped + 12, bytes)) {
        inet_ntop(AF_INET, bytes + 12, shown, sizeof shown);
        return shown;
    }
    std::fill(bytes + 8, bytes + 16, 0);
    inet_ntop(AF_INET6, bytes, shown, sizeof shown);
    return std::string(shown) + "/64";
}

LoginThrottle::LoginThrottle(size_t capacity, ThrottlePolicy account, ThrottlePolicy address)
    : m_capacity(std::max<size_t>(capacity, 2)), m_accountPolicy(account), m_addressPolicy(address) {}

int64_t LoginThrottle::Remaining(const Table& table, const std::string& key, const ThrottlePolicy& policy,
                                 int64_t now) {
    const auto it = table.find(key);
    if (it == table.end() || now - it->second.last >= policy.forgetAfter) return 0;
    return std::max<int64_t>(0, it->second.last + WaitAfter(it->second.failures, policy) - now);
}

int64_t LoginThrottle::WaitFor(const std::string& account, std::string_view address, int64_t now) const {
    return std::max(Remaining(m_accounts, account, m_accountPolicy, now),
                    Remaining(m_addresses, AddressKey(address), m_addressPolicy, now));
}

void LoginThrottle::Count(Table& table, const std::string& key, const ThrottlePolicy& policy, int64_t now) {
    auto it = table.find(key);
    if (it == table.end()) {
        // Full (each table has half the capacity): forget what is forgiven anyway, then, if still full, the
        // entry missed longest ago. Memory stays bounded however many names a flood invents.
        if (table.size() * 2 >= m_capacity) {
            for (auto i = table.begin(); i != table.end();)
                i = now - i->second.last >= policy.forgetAfter ? table.erase(i) : std::next(i);
            if (table.size() * 2 >= m_capacity)
                table.erase(std::min_element(table.begin(), table.end(), [](const auto& a, const auto& b) {
                    return a.second.last < b.second.last;
                }));
        }
        it = table.emplace(key, Misses{}).first;
    }
    Misses& m = it->second;
    if (now - m.last >= policy.forgetAfter) m.failures = 0;
    if (m.failures < 1000) ++m.failures;
    m.last = std::max(m.last, now);
}

void LoginThrottle::Failed(const std::string& account, std::string_view address, int64_t now) {
    Count(m_accounts, account, m_accountPolicy, now);
    Count(m_addresses, AddressKey(address), m_addressPolicy, now);
}

void LoginThrottle::Succeeded(const std::string& account) { m_accounts.erase(account); }

}  // namespace Service
