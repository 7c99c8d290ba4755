// The payload builder's promise, on every ANSI code page of Windows: whatever the player types into the
// boxes (any UTF-16 text), either the checker refuses it, because the code page cannot carry it exactly,
// or the payload, read by the charset its Content-Type declares, gives back exactly the typed text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_check.h"
#include "service/domain/report_charset.h"
#include "text/charset.h"
#include "text/text_encoding.h"
#include "text/wire_contract.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const unsigned codePage = Charset::kAnsiCodePages[data[0] % Charset::kAnsiCodePageCount].codePage;
    TextEncoding::SetAnsiCodePage(codePage);
    // UTF-16 code units; U+0000, which no box can hold, separates the texts.
    std::u16string units;
    for (size_t i = 1; i + 1 < size; i += 2) units += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    std::u16string typed[4];
    size_t n = 0;
    for (char16_t c : units) {
        if (c == 0) {
            if (++n == 4) break;
        } else {
            typed[n] += c;
        }
    }
    // Each text as long as its field holds (a UTF-16 unit is at most one character); the fourth is an
    // adapter's chip, where '|' would begin another adapter. A text the code page cannot carry is refused,
    // and only then: its lossy conversion would lose a character. A refused text is not sent (its field
    // stays empty here).
    const size_t limits[4] = {WireContract::kMaxAccountChars, WireContract::kMaxComputerNameChars,
                              WireContract::kMaxCpuNameChars, WireContract::kMaxDisplayTextChars};
    for (char16_t& c : typed[3])
        if (c == u'|') c = u'/';
    std::string sent[4];
    std::string expected[4];
    for (int i = 0; i < 4; ++i) {
        const std::u16string text = typed[i].substr(0, limits[i]);
        const std::optional<std::string> ansi = TextEncoding::Utf16ToAnsiExact(text);
        if (!ansi) {
            FUZZ_CHECK(TextEncoding::AnsiToUtf16(TextEncoding::Utf16ToAnsi(text)) != text);
            continue;
        }
        sent[i] = *ansi;
        expected[i] = TextEncoding::Utf16ToUtf8(text);
    }

    WireContract::ReportValues values;
    values.account = sent[0];
    values.computerName = sent[1];
    values.cpuName = sent[2];
    values.displayList = sent[3] + ";;0;0";
    values.resolution = "0 x 0";
    values.osText = " 64-Bit";
    values.cpuCount = static_cast<int16_t>(size);
    values.clockMHz = -static_cast<int16_t>(units.size() & 0x7FFF);
    const std::string payload = WireContract::BuildPayload(values);

    const std::string header = Charset::ContentTypeLine(codePage);
    const ServiceText::BodyCharset charset = ServiceText::ReadBodyCharset(header.substr(header.find(':') + 1));
    FUZZ_CHECK(charset.supported);
    const auto utf8 = ServiceText::DecodeBody(payload, charset.table);
    FUZZ_CHECK(utf8.has_value());
    const WireContract::ParsedPayload parsed = WireContract::ParsePayload(*utf8);
    FUZZ_CHECK(parsed.ok);
    FUZZ_CHECK(parsed.elements[WireContract::kAccount].text == expected[0]);
    FUZZ_CHECK(parsed.elements[WireContract::kAccountAgain].text == expected[0]);
    FUZZ_CHECK(parsed.elements[WireContract::kComputerName].text == expected[1]);
    FUZZ_CHECK(parsed.elements[WireContract::kCpuName].text == expected[2]);
    FUZZ_CHECK(parsed.elements[WireContract::kDisplayList].text == expected[3] + ";;0;0");
    FUZZ_CHECK(parsed.elements[WireContract::kCpuCount].number == values.cpuCount);
    FUZZ_CHECK(parsed.elements[WireContract::kClockMHz].number == values.clockMHz);
    return 0;
}
