// The service's reading of a report over any body, declared UTF-8 or not: no crash, and what it accepts
// is sound (an account of 1 to 64 characters, texts in UTF-8, every element within the checker's limits)
// and reads the same when sent again as UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "fuzz_check.h"
#include "service/domain/report_parse.h"
#include "service/domain/service_text.h"
#include "text/wire_contract.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool declaredUtf8 = data[0] & 1;
    const std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
    const Service::ParseResult result = Service::ParseReport(body, declaredUtf8);
    FUZZ_CHECK(result.report.has_value() == result.error.empty());
    if (!result.report) return 0;
    const Service::Report& r = *result.report;
    FUZZ_CHECK(!r.account.empty() && ServiceText::CodePointCount(r.account) <= Service::kMaxAccountChars);
    for (const std::string* text : {&r.account, &r.mac, &r.cpuName, &r.memoryMB, &r.displays, &r.resolution, &r.os,
                                    &r.computerName})
        FUZZ_CHECK(ServiceText::IsValidUtf8(*text));

    // Nothing accepted is larger than the checker can make it: every text within its limit, at most ten
    // adapters, 16-bit numbers; so what is stored of a report is bounded whatever was sent.
    using WireContract::kLimits;
    const std::pair<const std::string*, size_t> positioned[] = {
        {&r.account, WireContract::kAccount},       {&r.mac, WireContract::kMacAddress},
        {&r.cpuName, WireContract::kCpuName},       {&r.memoryMB, WireContract::kMemoryMB},
        {&r.displays, WireContract::kDisplayList},  {&r.resolution, WireContract::kResolution},
        {&r.os, WireContract::kOsText},             {&r.computerName, WireContract::kComputerName}};
    size_t bytes = 0, most = 0;
    for (const auto& [text, position] : positioned) {
        FUZZ_CHECK(WireContract::CharacterCount(*text) <= kLimits[position].maxChars);
        FUZZ_CHECK(WireContract::FieldProblem(position, *text).empty());
        bytes += text->size();
        most += 4 * kLimits[position].maxChars;
    }
    FUZZ_CHECK(bytes <= most);
    FUZZ_CHECK(Service::SplitDisplayList(r.displays).size() <= WireContract::kMaxDisplayItems);
    FUZZ_CHECK(r.cpuCount >= INT16_MIN && r.cpuCount <= INT16_MAX && r.clockMHz >= INT16_MIN && r.clockMHz <= INT16_MAX);

    WireContract::ReportValues again;
    again.account = r.account;
    again.macAddress = r.mac;
    again.cpuName = r.cpuName;
    again.cpuCount = r.cpuCount;
    again.clockMHz = r.clockMHz;
    again.memoryMB = r.memoryMB;
    again.displayList = r.displays;
    again.resolution = r.resolution;
    again.osText = r.os;
    again.computerName = r.computerName;
    const auto reread = Service::ParseReport(WireContract::BuildPayload(again, [](unsigned char) { return false; }), true);
    FUZZ_CHECK(reread.report.has_value());
    FUZZ_CHECK(reread.report->account == r.account && reread.report->computerName == r.computerName &&
               reread.report->displays == r.displays && reread.report->mac == r.mac &&
               reread.report->cpuCount == r.cpuCount && reread.report->clockMHz == r.clockMHz);

    // The charset rule: a body that is not valid UTF-8 is refused when declared so.
    if (declaredUtf8) FUZZ_CHECK(ServiceText::IsValidUtf8(body));
    return 0;
}
