#include "service/domain/report_parse.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "service/domain/service_text.h"
#include "text/wire_contract.h"

namespace Service {

namespace {

bool ParseInt(const std::string& text, int64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

ParseResult ParseReport(std::string_view body, bool declaredUtf8) {
    using namespace WireContract;
    ParseResult result;
    const auto text = ServiceText::DecodeReportBody(body, declaredUtf8);
    if (!text) {
        result.error = declaredUtf8 ? "body declared UTF-8 is not UTF-8" : "body is not GB18030 text";
        return result;
    }
    ParsedPayload parsed = ParsePayload(*text);
    if (!parsed.ok) {
        result.error = std::move(parsed.error);
        return result;
    }
    Elements& e = parsed.elements;
    Report r;
    r.account = ServiceText::Trim(e[kAccount].text);
    if (r.account.empty() || ServiceText::CodePointCount(r.account) > kMaxAccountChars) {
        result.error = "account empty or too long";
        return result;
    }
    if (ServiceText::Trim(e[kAccountAgain].text) != r.account) {
        result.error = "the two account elements differ";
        return result;
    }
    r.mac = std::move(e[kMacAddress].text);
    r.cpuName = std::move(e[kCpuName].text);
    r.cpuCount = e[kCpuCount].number;
    r.clockMHz = e[kClockMHz].number;
    r.memoryMB = std::move(e[kMemoryMB].text);
    r.displays = std::move(e[kDisplayList].text);
    r.resolution = std::move(e[kResolution].text);
    r.os = std::move(e[kOsText].text);
    r.computerName = std::move(e[kComputerName].text);
    result.report = std::move(r);
    return result;
}

std::vector<DisplayItem> SplitDisplayList(const std::string& displays) {
    std::vector<DisplayItem> items;
    if (displays.empty()) return items;
    size_t start = 0;
    while (start <= displays.size()) {
        size_t end = displays.find('|', start);
        if (end == std::string::npos) end = displays.size();
        const std::string item = displays.substr(start, end - start);
        // chip;name;MB;0: the chip is the first field, the MB the second-to-last, so a ';' inside the
        // adapter name does not shift them.
        DisplayItem d;
        const size_t p1 = item.find(';');
        const size_t p3 = item.rfind(';');
        const size_t p2 = (p3 == std::string::npos || p3 == 0) ? std::string::npos : item.rfind(';', p3 - 1);
        d.chip = item.substr(0, p1);
        if (p1 != std::string::npos && p2 != std::string::npos && p1 < p2) {
            d.name = item.substr(p1 + 1, p2 - p1 - 1);
            const std::string mb = item.substr(p2 + 1, p3 - p2 - 1);
            const bool negative = !mb.empty() && mb[0] == '-';
            int64_t v = 0;
            if (ParseInt(negative ? mb.substr(1) : mb, v)) d.memoryMB = negative ? -v : v;
        }
        items.push_back(std::move(d));
        start = end + 1;
    }
    return items;
}

std::string CpuVendor(const std::string& cpuName) {
    const std::string lower = Lower(cpuName);
    if (lower.find("intel") != std::string::npos) return "Intel";
    if (lower.find("amd") != std::string::npos || lower.find("ryzen") != std::string::npos ||
        lower.find("athlon") != std::string::npos)
        return "AMD";
    if (ServiceText::Trim(cpuName).empty()) return "未知";
    return "其他";
}

std::string ClockBand(int64_t mhz) {
    if (mhz <= 0) return "未测得";
    const int64_t band = mhz / 400;
    char text[64];
    std::snprintf(text, sizeof text, "%.1f–%.1f GHz", band * 0.4, (band + 1) * 0.4);
    return text;
}

std::string MemoryBand(const std::string& memoryMB) {
    int64_t mb = 0;
    if (!ParseInt(memoryMB, mb) || mb == 0) return "未知";
    // Installed memory shows a little less than its size (8 GB reads as about 8067 MB): round to GB first.
    const int64_t gb = (mb + 512) / 1024;
    if (gb <= 2) return "≤2 GB";
    if (gb <= 4) return "3–4 GB";
    if (gb <= 8) return "5–8 GB";
    if (gb <= 16) return "9–16 GB";
    if (gb <= 32) return "17–32 GB";
    return ">32 GB";
}

std::string VramBand(int64_t mb) {
    if (mb <= 0) return "未知";
    if (mb <= 256) return "≤256 MB";
    if (mb <= 512) return "257–512 MB";
    if (mb <= 1024) return "0.5–1 GB";
    if (mb <= 2048) return "1–2 GB";
    if (mb <= 4096) return "2–4 GB";
    if (mb <= 8192) return "4–8 GB";
    return ">8 GB";
}

}  // namespace Service
