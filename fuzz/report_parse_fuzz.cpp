// The service's reading of a report over any body, declared UTF-8 or not: no crash, and what it accepts
// is sound (an account of 1 to 64 characters, texts in UTF-8) and reads the same when sent again as UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>

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
