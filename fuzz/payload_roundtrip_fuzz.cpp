// The payload builder's promise: whatever the player types into the boxes (any UTF-16 text, turned into
// code page 936 as the boxes' text is, as long as the field holds), the payload is JSON that the service
// reads back to the same text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "text/text_encoding.h"
#include "service/domain/service_text.h"
#include "text/wire_contract.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // UTF-16 code units; U+0000, which no box can hold, separates the texts.
    std::u16string units;
    for (size_t i = 0; i + 1 < size; i += 2) units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    std::u16string texts[4];
    size_t n = 0;
    for (char16_t c : units) {
        if (c == 0) {
            if (++n == 4) break;
        } else {
            texts[n] += c;
        }
    }
    // Each text as long as its field holds (a UTF-16 unit is at most one character); the fourth is an
    // adapter's chip, where '|' would begin another adapter.
    const size_t limits[4] = {WireContract::kMaxAccountChars, WireContract::kMaxComputerNameChars,
                              WireContract::kMaxCpuNameChars, WireContract::kMaxDisplayTextChars};
    for (char16_t& c : texts[3])
        if (c == u'|') c = u'/';
    std::string ansi[4];
    for (int i = 0; i < 4; ++i) ansi[i] = TextEncoding::Utf16ToAnsi(texts[i].substr(0, limits[i]));

    WireContract::ReportValues values;
    values.account = ansi[0];
    values.computerName = ansi[1];
    values.cpuName = ansi[2];
    values.displayList = ansi[3] + ";;0;0";
    values.resolution = "0 x 0";
    values.osText = " 64-Bit";
    values.cpuCount = static_cast<int16_t>(size);
    values.clockMHz = -static_cast<int16_t>(units.size() & 0x7FFF);
    const std::string payload = WireContract::BuildPayload(values, CodePage::IsCp936LeadByte);

    const auto utf8 = ServiceText::DecodeReportBody(payload, false);
    FUZZ_CHECK(utf8.has_value());
    const WireContract::ParsedPayload parsed = WireContract::ParsePayload(*utf8);
    FUZZ_CHECK(parsed.ok);
    const auto expect = [](const std::string& text) { return TextEncoding::Utf16ToUtf8(TextEncoding::AnsiToUtf16(text)); };
    FUZZ_CHECK(parsed.elements[WireContract::kAccount].text == expect(ansi[0]));
    FUZZ_CHECK(parsed.elements[WireContract::kAccountAgain].text == expect(ansi[0]));
    FUZZ_CHECK(parsed.elements[WireContract::kComputerName].text == expect(ansi[1]));
    FUZZ_CHECK(parsed.elements[WireContract::kCpuName].text == expect(ansi[2]));
    FUZZ_CHECK(parsed.elements[WireContract::kDisplayList].text == expect(ansi[3]) + ";;0;0");
    FUZZ_CHECK(parsed.elements[WireContract::kCpuCount].number == values.cpuCount);
    FUZZ_CHECK(parsed.elements[WireContract::kClockMHz].number == values.clockMHz);
    return 0;
}
