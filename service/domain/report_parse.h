#pragma once
// The checker's report, as the wire contract reads it, and what the service derives from it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Service {

struct Report {
    std::string account;       // 0 (and 1, which must be the same)
    std::string mac;           // 2
    std::string cpuName;       // 3
    int64_t cpuCount = 0;      // 4
    int64_t clockMHz = 0;      // 5
    std::string memoryMB;      // 6, decimal text
    std::string displays;      // 7, "chip;name;MB;0" items joined by '|'
    std::string resolution;    // 8
    std::string os;            // 9
    std::string computerName;  // 10
    std::string machineKey;    // derived (Identity::MachineKey): the MAC or a fingerprint
};

struct ParseResult {
    std::optional<Report> report;
    std::string error;  // why it was refused, for the log; empty on success
};

// Longest account, in characters; the checker's box takes 127 ANSI bytes.
constexpr size_t kMaxAccountChars = 64;

// body: the raw request body, read per the wire contract (text/wire_contract.h). declaredUtf8: the request's
// Content-Type says charset=utf-8; otherwise the body is the checker's ANSI code page, decoded as GB18030.
// Nothing is guessed: a GBK name can also be valid UTF-8.
ParseResult ParseReport(std::string_view body, bool declaredUtf8);

struct DisplayItem {
    std::string chip;
    std::string name;
    int64_t memoryMB = 0;
};
std::vector<DisplayItem> SplitDisplayList(const std::string& displays);

// The payload has no vendor field: it is read from the CPU name.
std::string CpuVendor(const std::string& cpuName);
// Bands for the dashboard.
std::string ClockBand(int64_t mhz);
std::string MemoryBand(const std::string& memoryMB);
std::string VramBand(int64_t mb);

}  // namespace Service
