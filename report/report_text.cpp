#include "report/report_text.h"

#include <cstdarg>
#include <cstring>

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string out;
    if (length > 0) {
        out.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(&out[0], out.size(), format, again);
        out.resize(static_cast<size_t>(length));
    }
    va_end(again);
    return out;
}

namespace {

// The record's arrays are NUL-terminated; this never reads past an array even if one were not.
template <size_t N>
std::string Text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

}  // namespace

std::string FormatOsText(const Device::OsInfo& os) {
    return Format("%s %d-Bit", Text(os.productName).c_str(), static_cast<int>(os.bitness));
}

std::string TrimmedCpuName(const Device::CpuInfo& cpu) {
    static const char kBlanks[] = " \t\n\v\f\r";
    const std::string brand = Text(cpu.brandName);
    const size_t first = brand.find_first_not_of(kBlanks);
    if (first == std::string::npos) return {};
    const size_t last = brand.find_last_not_of(kBlanks);
    return brand.substr(first, last - first + 1);
}

std::string BuildDisplayList(const Device::DisplayAdapterList& displays) {
    std::string list;
    const int count = displays.count < Device::kMaxDisplayAdapters ? displays.count : Device::kMaxDisplayAdapters;
    for (int n = 0; n < count; ++n) {
        const Device::DisplayAdapterInfo& adapter = displays.adapters[n];
        list += Format(n == 0 ? "%s;%s;%d;0" : "|%s;%s;%d;0", Text(adapter.chipType).c_str(),
                       Text(adapter.name).c_str(), static_cast<int>(adapter.memoryMB));
    }
    return list;
}

std::string FormatSurveyLog(const CheckReport& r) {
    std::string log;
    log += Format("MAC address is: %s\n", r.macAddress.c_str());
    log += Format("System is: %s\n", FormatOsText(r.os).c_str());
    log += Format("CPU name: %s\n", TrimmedCpuName(r.cpu).c_str());
    log += Format("CPU vendor: %s\n", Text(r.cpu.vendor).c_str());
    log += Format("CPU speed: %dMHz\n", static_cast<int>(r.cpu.clockMHz));
    log += Format("CPU count: %d\n", static_cast<int>(r.cpu.processorCount));
    log += Format("Physical memory: %s\n", Format("%dMB", static_cast<int>(r.memory.physicalMemoryMB)).c_str());
    const int count = r.displays.count < Device::kMaxDisplayAdapters ? r.displays.count : Device::kMaxDisplayAdapters;
    for (int n = 0; n < count; ++n)
        log += Format("Display adapter %d, name: %s, ram: %dMB\n", n, Text(r.displays.adapters[n].name).c_str(),
                      static_cast<int>(r.displays.adapters[n].memoryMB));
    log += Format("Screen resolution: %s\n", Format("%d x %d", r.screenWidth, r.screenHeight).c_str());
    log += Format("Computer name: %s\n", r.computerName.c_str());
    log += Format("Computer user name: %s\n", r.userName.c_str());
    return log;
}

void WriteSurveyLog(const CheckReport& report, std::FILE* out) {
    const std::string log = FormatSurveyLog(report);
    std::fwrite(log.data(), 1, log.size(), out);
    std::fflush(out);
}

std::string JsonEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) out += Format("\\u%04x", c);
            else out += ch;
        }
    }
    return out;
}

std::string BuildReportJson(const CheckReport& r) {
    // The service reads the elements by position; the order and the types (numbers at 4 and 5, the memory
    // size as a string) are the format.
    const std::string account = JsonEscape(r.account);
    return Format("{\"param\":[\"%s\",\"%s\",\"%s\",\"%s\",%d,%d,\"%u\",\"%s\",\"%s\",\"%s\",\"%s\",\"\",\"\",\"\"]}",
                  account.c_str(), account.c_str(), JsonEscape(r.macAddress).c_str(),
                  JsonEscape(TrimmedCpuName(r.cpu)).c_str(), static_cast<int>(r.cpu.processorCount),
                  static_cast<int>(r.cpu.clockMHz), static_cast<unsigned>(r.memory.physicalMemoryMB),
                  JsonEscape(BuildDisplayList(r.displays)).c_str(),
                  JsonEscape(Format("%d x %d", r.screenWidth, r.screenHeight)).c_str(),
                  JsonEscape(FormatOsText(r.os)).c_str(), JsonEscape(r.computerName).c_str());
}
