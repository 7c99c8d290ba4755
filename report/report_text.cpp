#include "report/report_text.h"

#include <cstring>

#include "text/format.h"
#include "text/wire_contract.h"

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

std::string BuildReportJson(const CheckReport& r) {
    WireContract::ReportValues values;
    values.account = r.account;
    values.macAddress = r.macAddress;
    values.cpuName = TrimmedCpuName(r.cpu);
    values.cpuCount = r.cpu.processorCount;
    values.clockMHz = r.cpu.clockMHz;
    values.memoryMB = std::to_string(r.memory.physicalMemoryMB);
    values.displayList = BuildDisplayList(r.displays);
    values.resolution = Format("%d x %d", r.screenWidth, r.screenHeight);
    values.osText = FormatOsText(r.os);
    values.computerName = r.computerName;
    return WireContract::BuildPayload(values);
}
