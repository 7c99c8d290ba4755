#include "service/domain/signals.h"

#include <algorithm>
#include <map>

#include "service/domain/login_throttle.h"

namespace Service {

namespace {

// Far beyond any processor sold (the fastest run near 6 GHz at their peak) and below any that runs Windows.
constexpr int64_t kMinClockMHz = 100;
constexpr int64_t kMaxClockMHz = 7000;
// Windows 7, the oldest system the checker runs on, does not start in less.
constexpr int64_t kMinMemoryMB = 256;
// A 32-bit Windows sees at most 4 GiB and 32 processors; a Home edition at most 128 GiB; none more than 6 TiB.
constexpr int64_t kMax32BitMemoryMB = 4096;
constexpr int64_t kMax32BitProcessors = 32;
constexpr int64_t kMaxHomeMemoryMB = 128 * 1024;
constexpr int64_t kMaxMemoryMB = 6LL * 1024 * 1024;

struct KindText {
    SignalKind kind;
    const char* name;
    const char* label;
};
constexpr KindText kKinds[] = {
    {SignalKind::BusyAddress, "busy_address", "同一地址短时间内多次报名"},
    {SignalKind::LocalMac, "local_mac", "本地管理的 MAC 地址"},
    {SignalKind::MulticastMac, "multicast_mac", "组播 MAC 地址"},
    {SignalKind::ConsecutiveMacs, "consecutive_macs", "连续的 MAC 地址"},
    {SignalKind::IdenticalMachines, "identical_machines", "硬件完全相同的电脑"},
    {SignalKind::ImpossibleSurvey, "impossible_survey", "不可能的硬件信息"},
};

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Memory as sent (decimal text); -1 when it is not a number.
int64_t MemoryOf(const Report& r) {
    if (r.memoryMB.empty() || r.memoryMB.size() > 12 || r.memoryMB.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::stoll(r.memoryMB);
}

bool IsMacKey(const std::string& key) {
    return key.size() == 12 && key.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

uint64_t MacValue(const std::string& macKey) { return std::stoull(macKey, nullptr, 16); }

std::string DurationText(int64_t seconds) {
    if (seconds % 3600 == 0) return std::to_string(seconds / 3600) + " 小时";
    if (seconds % 60 == 0) return std::to_string(seconds / 60) + " 分钟";
    return std::to_string(seconds) + " 秒";
}

void ByTime(const std::vector<EnrolmentRow>& rows, std::vector<size_t>& indexes) {
    std::stable_sort(indexes.begin(), indexes.end(), [&](size_t a, size_t b) {
        return rows[a].enrolledAt != rows[b].enrolledAt ? rows[a].enrolledAt < rows[b].enrolledAt : a < b;
    });
}

void BusyAddresses(const std::vector<EnrolmentRow>& rows, const SignalOptions& options, std::vector<Suspicion>& out) {
    std::map<std::string, std::vector<size_t>> byAddress;
    for (size_t i = 0; i < rows.size(); ++i) byAddress[AddressKey(rows[i].remote)].push_back(i);
    for (auto& [address, members] : byAddress) {
        if (members.size() < std::max<size_t>(options.busyCount, 1)) continue;
        ByTime(rows, members);
        // Every row inside some window of busyWindow seconds that holds busyCount rows or more.
        std::vector<bool> flagged(members.size(), false);
        size_t most = 0;
        for (size_t first = 0, last = 0; last < members.size(); ++last) {
            while (rows[members[last]].enrolledAt - rows[members[first]].enrolledAt >= options.busyWindow) ++first;
            const size_t inside = last - first + 1;
            if (inside >= options.busyCount) std::fill(flagged.begin() + first, flagged.begin() + last + 1, true);
            most = std::max(most, inside);
        }
        if (most < options.busyCount) continue;
        Suspicion s{SignalKind::BusyAddress,
                    address + "：" + DurationText(options.busyWindow) + "内最多 " + std::to_string(most) + " 次报名",
                    {}};
        for (size_t k = 0; k < members.size(); ++k)
            if (flagged[k]) s.rows.push_back(members[k]);
        out.push_back(std::move(s));
    }
}

void MacBits(const std::vector<EnrolmentRow>& rows, std::vector<Suspicion>& out) {
    for (SignalKind kind : {SignalKind::LocalMac, SignalKind::MulticastMac}) {
        const unsigned bit = kind == SignalKind::LocalMac ? 0x02 : 0x01;
        for (size_t i = 0; i < rows.size(); ++i) {
            const std::string& mac = rows[i].macKey;
            if (!IsMacKey(mac)) continue;
            if ((std::stoul(mac.substr(0, 2), nullptr, 16) & bit) == 0) continue;
            out.push_back({kind, mac, {i}});
        }
    }
}

void ConsecutiveMacs(const std::vector<EnrolmentRow>& rows, const SignalOptions& options, std::vector<Suspicion>& out) {
    std::vector<std::pair<uint64_t, size_t>> macs;
    for (size_t i = 0; i < rows.size(); ++i)
        if (IsMacKey(rows[i].macKey)) macs.emplace_back(MacValue(rows[i].macKey), i);
    std::sort(macs.begin(), macs.end());
    for (size_t start = 0; start < macs.size();) {
        size_t end = start + 1;
        while (end < macs.size() && macs[end].first == macs[end - 1].first + 1) ++end;
        if (end - start >= std::max<size_t>(options.runLength, 2)) {
            Suspicion s{SignalKind::ConsecutiveMacs,
                        rows[macs[start].second].macKey + " – " + rows[macs[end - 1].second].macKey + "：" +
                            std::to_string(end - start) + " 个",
                        {}};
            for (size_t k = start; k < end; ++k) s.rows.push_back(macs[k].second);
            ByTime(rows, s.rows);
            out.push_back(std::move(s));
        }
        start = end;
    }
}

void IdenticalMachines(const std::vector<EnrolmentRow>& rows, const SignalOptions& options,
                       std::vector<Suspicion>& out) {
    std::map<std::string, std::vector<size_t>> groups;
    for (size_t i = 0; i < rows.size(); ++i) {
        const Report& r = rows[i].report;
        const std::string key = r.cpuName + '\x1f' + std::to_string(r.cpuCount) + '\x1f' + std::to_string(r.clockMHz) +
                                '\x1f' + r.memoryMB + '\x1f' + r.displays + '\x1f' + r.resolution + '\x1f' + r.os;
        groups[key].push_back(i);
    }
    for (auto& [key, members] : groups) {
        if (members.size() < std::max<size_t>(options.identicalCount, 2)) continue;
        ByTime(rows, members);
        const Report& r = rows[members.front()].report;
        out.push_back({SignalKind::IdenticalMachines,
                       std::to_string(members.size()) + " 台：" + r.cpuName + "，" + std::to_string(r.clockMHz) +
                           " MHz，" + (r.memoryMB.empty() ? "?" : r.memoryMB) + " MB，" + r.os,
                       members});
    }
}

}  // namespace

const char* SignalName(SignalKind kind) { return kKinds[static_cast<int>(kind)].name; }
const char* SignalLabel(SignalKind kind) { return kKinds[static_cast<int>(kind)].label; }

std::string ImpossibleSurvey(const Report& r) {
    const bool is32 = EndsWith(r.os, " 32-Bit");
    const bool home = r.os.find(" Home") != std::string::npos;
    const int64_t memory = MemoryOf(r);
    if (r.cpuCount < 1) return "处理器数为 " + std::to_string(r.cpuCount);
    if (is32 && r.cpuCount > kMax32BitProcessors)
        return "32 位系统报告了 " + std::to_string(r.cpuCount) + " 个处理器";
    if (r.clockMHz != 0 && (r.clockMHz < kMinClockMHz || r.clockMHz > kMaxClockMHz))
        return "主频 " + std::to_string(r.clockMHz) + " MHz";
    if (memory >= 0) {
        if (memory < kMinMemoryMB) return "内存 " + std::to_string(memory) + " MB";
        if (is32 && memory > kMax32BitMemoryMB) return "32 位系统报告了 " + std::to_string(memory) + " MB 内存";
        if (home && memory > kMaxHomeMemoryMB) return "家庭版系统报告了 " + std::to_string(memory) + " MB 内存";
        if (memory > kMaxMemoryMB) return "内存 " + std::to_string(memory) + " MB";
    }
    return {};
}

std::vector<Suspicion> FindSuspicious(const std::vector<EnrolmentRow>& rows, const SignalOptions& options) {
    std::vector<Suspicion> found;
    BusyAddresses(rows, options, found);
    MacBits(rows, found);
    ConsecutiveMacs(rows, options, found);
    IdenticalMachines(rows, options, found);
    for (size_t i = 0; i < rows.size(); ++i) {
        std::string why = ImpossibleSurvey(rows[i].report);
        if (!why.empty()) found.push_back({SignalKind::ImpossibleSurvey, std::move(why), {i}});
    }
    std::stable_sort(found.begin(), found.end(), [&](const Suspicion& a, const Suspicion& b) {
        if (a.kind != b.kind) return a.kind < b.kind;
        return rows[a.rows.front()].enrolledAt < rows[b.rows.front()].enrolledAt;
    });
    return found;
}

}  // namespace Service
