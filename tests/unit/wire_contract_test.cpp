#include "text/wire_contract.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "report/report_text.h"
#include "tests/support/code_page.h"
#include "text/text_encoding.h"

namespace {

using namespace WireContract;

std::string Repeat(const std::string& unit, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += unit;
    return out;
}

// The example report with one element replaced by `json`, as a UTF-8 body.
std::string WithElement(size_t position, const std::string& json) {
    std::string elements[kPositionCount] = {"\"player1\"", "\"player1\"", "\"00-11-22-33-44-55\"",
                                            "\"Example CPU 3.0GHz\"", "4", "2993", "\"8192\"",
                                            "\"Chip X;Adapter A;1024;0\"", "\"1920 x 1080\"",
                                            "\"Windows 7 Professional 64-Bit\"", "\"PC01\"", "\"\"", "\"\"", "\"\""};
    elements[position] = json;
    std::string body = "{\"param\":[";
    for (size_t i = 0; i < kPositionCount; ++i) body += (i ? "," : "") + elements[i];
    return body + "]}";
}

std::string Quoted(const std::string& utf8) { return "\"" + EscapeText(utf8, [](unsigned char) { return false; }) + "\""; }

struct LimitCase {
    std::string label;
    size_t position;
    std::string json;
    bool accepted;
};

void Expect(const std::vector<LimitCase>& cases) {
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(c.label);
        const ParsedPayload parsed = ParsePayload(WithElement(c.position, c.json));
        EXPECT_EQ(parsed.ok, c.accepted) << parsed.error;
        EXPECT_EQ(parsed.error.empty(), c.accepted);
    }
}

// Each free text at its limit and one past it, in one-, three- and four-byte UTF-8 characters: the limit
// counts characters, whatever the bytes.
TEST(WireContractLimits, TextLengthsAtTheirBoundaries) {
    const struct {
        const char* name;
        size_t position;
        size_t max;
    } fields[] = {
        {"account", kAccount, kMaxAccountChars},
        {"account again", kAccountAgain, kMaxAccountChars},
        {"CPU name", kCpuName, kMaxCpuNameChars},
        {"computer name", kComputerName, kMaxComputerNameChars},
    };
    std::vector<LimitCase> cases;
    for (const auto& f : fields)
        for (const std::string unit : {"a", "测", "\xF0\x9F\x98\x80"}) {
            cases.push_back({std::string(f.name) + " at its limit in " + unit, f.position, Quoted(Repeat(unit, f.max)), true});
            cases.push_back({std::string(f.name) + " one past in " + unit, f.position, Quoted(Repeat(unit, f.max + 1)), false});
        }
    // An escape is one character of the text, not six of the body.
    cases.push_back({"escaped characters count once", kComputerName, "\"" + Repeat("\\u6d4b", 15) + "\"", true});
    Expect(cases);
}

TEST(WireContractLimits, MacAddress) {
    Expect({
        {"the checker's form", kMacAddress, "\"00-1A-2B-3C-4D-5E\"", true},
        {"an eight-byte address", kMacAddress, "\"00-11-22-33-44-55-66-77\"", true},
        {"colons, lower case", kMacAddress, "\"aa:bb:cc:dd:ee:0f\"", true},
        {"dots", kMacAddress, "\"0011.2233.44AA\"", true},
        {"blanks", kMacAddress, "\"00 11 22 33 44 55\"", true},
        {"none", kMacAddress, "\"\"", true},
        {"63 characters", kMacAddress, Quoted(std::string(63, 'A')), true},
        {"64 characters", kMacAddress, Quoted(std::string(64, 'A')), false},
        {"a letter past F", kMacAddress, "\"00-11-22-33-44-5G\"", false},
        {"an underscore", kMacAddress, "\"00_11_22_33_44_55\"", false},
        {"a non-ASCII character", kMacAddress, "\"00-11-22-33-44-5\xC3\xA9\"", false},
        {"a full-width digit", kMacAddress, "\"00-11-22-33-44-5\xEF\xBC\x95\"", false},
    });
}

TEST(WireContractLimits, Numbers) {
    Expect({
        {"count at its least", kCpuCount, "-32768", true},
        {"count at its most", kCpuCount, "32767", true},
        {"count past 16 bits", kCpuCount, "32768", false},
        {"count below 16 bits", kCpuCount, "-32769", false},
        {"clock at its most", kClockMHz, "32767", true},
        {"clock past 16 bits", kClockMHz, "32768", false},
        {"clock below 16 bits", kClockMHz, "-32769", false},
        {"memory zero", kMemoryMB, "\"0\"", true},
        {"memory at 32 bits", kMemoryMB, "\"4294967295\"", true},
        {"memory past 32 bits", kMemoryMB, "\"4294967296\"", false},
        {"memory not measured", kMemoryMB, "\"\"", true},
        {"memory with a leading zero", kMemoryMB, "\"08192\"", false},
        {"memory negative", kMemoryMB, "\"-1\"", false},
        {"memory with a blank", kMemoryMB, "\"8192 \"", false},
        {"memory with a letter", kMemoryMB, "\"81a\"", false},
        {"memory of eleven digits", kMemoryMB, "\"10000000000\"", false},
    });
}

TEST(WireContractLimits, ResolutionAndOsText) {
    Expect({
        {"a screen", kResolution, "\"1920 x 1080\"", true},
        {"no screen", kResolution, "\"0 x 0\"", true},
        {"the 32-bit extremes", kResolution, "\"-2147483648 x 2147483647\"", true},
        {"past 32 bits", kResolution, "\"2147483648 x 1\"", false},
        {"no blanks", kResolution, "\"1920x1080\"", false},
        {"a trailing blank", kResolution, "\"1920 x 1080 \"", false},
        {"a leading zero", kResolution, "\"01 x 1\"", false},
        {"minus zero", kResolution, "\"-0 x 1\"", false},
        {"empty", kResolution, "\"\"", false},
        {"a third number", kResolution, "\"1 x 2 x 3\"", false},
        {"the checker's form", kOsText, "\"Windows 7 Professional 64-Bit\"", true},
        {"32-bit", kOsText, "\"Windows XP 32-Bit\"", true},
        {"no product name", kOsText, "\" 64-Bit\"", true},
        {"a product name of 127 characters", kOsText, Quoted(std::string(127, 'W') + " 64-Bit"), true},
        {"127 Chinese characters", kOsText, Quoted(Repeat("旗", 127) + " 32-Bit"), true},
        {"a product name of 128 characters", kOsText, Quoted(std::string(128, 'W') + " 64-Bit"), false},
        {"no bitness", kOsText, "\"Windows 10\"", false},
        {"another bitness", kOsText, "\"Windows 16-Bit\"", false},
        {"lower case", kOsText, "\"Windows 10 64-bit\"", false},
        {"empty", kOsText, "\"\"", false},
    });
}

TEST(WireContractLimits, DisplayList) {
    const std::string chip64 = Repeat("芯", 64), name64 = std::string(64, 'n');
    std::vector<std::string> items(10, "Chip;Name;1024;0");
    std::string ten;
    for (size_t i = 0; i < items.size(); ++i) ten += (i ? "|" : "") + items[i];
    Expect({
        {"no adapter", kDisplayList, "\"\"", true},
        {"one", kDisplayList, "\"Chip X;Adapter A;1024;0\"", true},
        {"empty texts", kDisplayList, "\";;0;0\"", true},
        {"ten", kDisplayList, Quoted(ten), true},
        {"eleven", kDisplayList, Quoted(ten + "|;;0;0"), false},
        {"chip and name at their limits", kDisplayList, Quoted(chip64 + ";" + name64 + ";-1;0"), true},
        {"ten adapters at every limit", kDisplayList,
         Quoted(Repeat(chip64 + ";" + name64 + ";-2147483648;0|", 9) + chip64 + ";" + name64 + ";-2147483648;0"), true},
        {"a chip one past", kDisplayList, Quoted(chip64 + "x;" + name64 + ";1;0"), false},
        {"a name one past", kDisplayList, Quoted(chip64 + ";" + name64 + "x;1;0"), false},
        {"semicolons inside the name", kDisplayList, "\"Chip;Name; with; semicolons;2048;0\"", true},
        {"memory past 32 bits", kDisplayList, "\"Chip;Name;2147483648;0\"", false},
        {"memory with a leading zero", kDisplayList, "\"Chip;Name;01;0\"", false},
        {"not ending in 0", kDisplayList, "\"Chip;Name;1024;1\"", false},
        {"three fields", kDisplayList, "\"Chip;Name;1024\"", false},
        {"no fields", kDisplayList, "\"garbage\"", false},
        {"an empty item after a separator", kDisplayList, "\"Chip;Name;1;0|\"", false},
        {"no name field", kDisplayList, "\"Chip;1024;0\"", false},
    });
}

TEST(WireContractLimits, SparePositionsAreEmpty) {
    for (size_t position : {kSpare1, kSpare2, kSpare3}) {
        SCOPED_TRACE(position);
        EXPECT_TRUE(ParsePayload(WithElement(position, "\"\"")).ok);
        EXPECT_FALSE(ParsePayload(WithElement(position, "\"x\"")).ok);
    }
}

template <size_t N>
void Fill(char (&field)[N], const std::string& text) {
    ASSERT_LT(text.size(), N);
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), text.size());
}

// The limits are the checker's own: a check with every buffer as full as the survey can make it, in code
// page 936 (two bytes a character), gives a payload the contract accepts.
TEST(WireContractLimits, TheLargestReportTheCheckerCanSendIsAccepted) {
    TextEncodingScope scope(936);
    const std::string han = "\xB2\xE2";  // 测
    CheckReport r;
    r.account = Repeat(han, 63) + "a";  // 127 bytes
    r.macAddress = "00-11-22-33-44-55-66-77";
    Fill(r.cpu.brandName, std::string(48, 'C'));
    r.cpu.processorCount = -32768;
    r.cpu.clockMHz = 32767;
    r.memory.physicalMemoryMB = 4294967295u;
    r.displays.count = Device::kMaxDisplayAdapters;
    for (auto& adapter : r.displays.adapters) {
        Fill(adapter.chipType, Repeat(han, 64));  // 64 UTF-16 units read, 128 bytes here
        Fill(adapter.name, Repeat(han, 64));
        adapter.memoryMB = 0x80000000u;  // printed as "%d": -2147483648
    }
    r.screenWidth = r.screenHeight = -2147483647 - 1;
    Fill(r.os.productName, Repeat(han, 63) + "W");
    r.os.bitness = 32;
    r.computerName = Repeat(han, 7) + "P";
    const std::string json = BuildReportJson(r);
    const ParsedPayload parsed = ParsePayload(TextEncoding::Utf16ToUtf8(TextEncoding::AnsiToUtf16(json)));
    EXPECT_TRUE(parsed.ok) << parsed.error;
    RecordProperty("payload_bytes", static_cast<int>(json.size()));
}

TEST(WireContractLimits, CharacterCount) {
    EXPECT_EQ(CharacterCount(""), 0u);
    EXPECT_EQ(CharacterCount("a测\xF0\x9F\x98\x80"), 3u);
    // Bytes that begin no sequence count one each, so no run of bytes escapes the count.
    EXPECT_EQ(CharacterCount("\x80\x80\x80"), 3u);
    EXPECT_EQ(CharacterCount("\xE6\xB5"), 2u);
    EXPECT_EQ(CharacterCount("\xFF" "a"), 2u);
}

}  // namespace
