#include "report/report_text.h"
#include "text/format.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/support/code_page.h"
#include "text/charset.h"
#include "text/text_encoding.h"
#include "text/wire_contract.h"

namespace {

template <size_t N>
void Put(char (&field)[N], const std::string& text) {
    ASSERT_LT(text.size(), N);
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), text.size());
}

void AddAdapter(Device::DisplayAdapterList& list, const std::string& chip, const std::string& name, uint32_t mb) {
    Device::DisplayAdapterInfo& a = list.adapters[list.count++];
    Put(a.chipType, chip);
    Put(a.name, name);
    a.memoryMB = mb;
}

// The check of the payload example: every value as a player's machine would report it.
CheckReport ExampleReport() {
    CheckReport r;
    r.account = "player1";
    r.macAddress = "00-11-22-33-44-55";
    Put(r.cpu.brandName, "Example CPU 3.0GHz");
    Put(r.cpu.vendor, "GenuineIntel");
    r.cpu.processorCount = 4;
    r.cpu.clockMHz = 2993;
    r.memory.physicalMemoryMB = 8192;
    AddAdapter(r.displays, "Chip X", "Adapter A", 1024);
    r.screenWidth = 1920;
    r.screenHeight = 1080;
    Put(r.os.productName, "Windows 7 Professional");
    r.os.bitness = 64;
    r.computerName = "PC01";
    r.userName = "tester";
    return r;
}

TEST(ReportPayload, ExampleComesOutByteForByte) {
    EXPECT_EQ(BuildReportJson(ExampleReport()),
              "{\"param\":[\"player1\",\"player1\",\"00-11-22-33-44-55\",\"Example CPU 3.0GHz\",4,2993,\"8192\","
              "\"Chip X;Adapter A;1024;0\",\"1920 x 1080\",\"Windows 7 Professional 64-Bit\",\"PC01\",\"\",\"\",\"\"]}");
}

TEST(ReportPayload, ValuesLeftEmptyOrZeroGoOutAsEmptyAndZero) {
    CheckReport r = ExampleReport();
    r.macAddress.clear();
    r.cpu.clockMHz = 0;
    r.displays.count = 0;
    const std::string json = BuildReportJson(r);
    EXPECT_NE(json.find("\"player1\",\"\",\"Example"), std::string::npos) << json;
    EXPECT_NE(json.find(",4,0,\"8192\",\"\",\"1920 x 1080\""), std::string::npos) << json;
    const auto parsed = nlohmann::json::parse(json);
    ASSERT_EQ(parsed["param"].size(), 14u);
    EXPECT_EQ(parsed["param"][2], "");
    EXPECT_EQ(parsed["param"][5], 0);
    EXPECT_EQ(parsed["param"][7], "");
    EXPECT_EQ(json.substr(json.size() - 11), ",\"\",\"\",\"\"]}");
}

TEST(ReportPayload, NegativeSixteenBitFieldsAreWidenedWithTheirSign) {
    CheckReport r = ExampleReport();
    r.cpu.clockMHz = -1;
    r.cpu.processorCount = -2;
    EXPECT_NE(BuildReportJson(r).find(",-2,-1,"), std::string::npos);
}

TEST(ReportPayload, TwoAdaptersJoinedByBarChipTypeFirst) {
    Device::DisplayAdapterList list{};
    AddAdapter(list, "Chip X", "Adapter A", 1024);
    AddAdapter(list, "", "", 0);
    EXPECT_EQ(BuildDisplayList(list), "Chip X;Adapter A;1024;0|;;0;0");
}

TEST(ReportPayload, BrandBlanksAreTrimmedInTheReportButKeptInTheRecord) {
    CheckReport r = ExampleReport();
    Put(r.cpu.brandName, "       Intel(R) Core(TM) i7 CPU  \t");
    EXPECT_EQ(TrimmedCpuName(r.cpu), "Intel(R) Core(TM) i7 CPU");
    EXPECT_NE(BuildReportJson(r).find(",\"Intel(R) Core(TM) i7 CPU\",4,"), std::string::npos);
    EXPECT_NE(FormatSurveyLog(r).find("CPU name: Intel(R) Core(TM) i7 CPU\n"), std::string::npos);
    EXPECT_EQ(std::string(r.cpu.brandName).substr(0, 7), "       ");
    Put(r.cpu.brandName, "   ");
    EXPECT_EQ(TrimmedCpuName(r.cpu), "");
}

TEST(ReportPayload, QuotesBackslashesAndControlsAreEscapedSoTheDocumentStaysWellFormed) {
    CheckReport r = ExampleReport();
    r.account = "a\"b\\c\x01\n";
    r.computerName = "PC\"\",\"x";
    const std::string json = BuildReportJson(r);
    EXPECT_NE(json.find("\"a\\\"b\\\\c\\u0001\\n\",\"a\\\"b\\\\c\\u0001\\n\""), std::string::npos) << json;
    const auto parsed = nlohmann::json::parse(json);  // throws on a malformed document
    ASSERT_EQ(parsed["param"].size(), 14u);
    EXPECT_EQ(parsed["param"][0], r.account);
    EXPECT_EQ(parsed["param"][1], r.account);
    EXPECT_EQ(parsed["param"][10], r.computerName);
}

// The code pages a run tries: natively every ANSI code page of Windows, each set as the stand-in; under
// Wine the system's own, with the platform's lead bytes, tables and default-character reports (a prefix
// per locale gives 936, 950, 932 and 1252).
std::vector<unsigned> CodePagesUnderTest() {
#ifdef _WIN32
    return {TextEncoding::AnsiCodePage()};
#else
    return AnsiCodePageNumbers();
#endif
}

std::string Hex(std::string_view bytes) {
    std::string hex;
    for (char c : bytes) hex += Format("%02X", static_cast<unsigned char>(c));
    return hex;
}

class CodePageTable : public ::testing::TestWithParam<unsigned> {};

// One table per code page. Every character the code page has is carried exactly; every other character
// of the Basic Multilingual Plane (lone surrogates included; private use is the check's to refuse) is
// refused, never sent as '?' or a look-alike. On Windows each carried character also goes into the payload and is read back by the
// platform's own table for the declared charset; with ZORV_CODEPAGE_DUMP set, each payload and its
// Content-Type go to that file, for the report service's parser to read (tests/codepages/run.sh).
TEST_P(CodePageTable, EveryCharacterIsCarriedExactlyAndNoOtherIsCarriedAtAll) {
    TextEncodingScope scope(GetParam());
    const std::vector<std::u16string> typed = CodePageCharacters();
    RecordProperty("characters", static_cast<int>(typed.size()));
    EXPECT_GE(typed.size(), GetParam() == 936 ? 127u + 21791u : 127u);
    std::set<std::u16string> carried;
    size_t broken = 0;
    for (const std::u16string& text : typed) {
        const auto ansi = TextEncoding::Utf16ToAnsiExact(text);
        if (ansi && TextEncoding::AnsiToUtf16(*ansi) == text) carried.insert(text);
        else if (++broken <= 10) ADD_FAILURE() << Format("U+%04X is not carried", static_cast<unsigned>(text[0]));
    }
    EXPECT_EQ(broken, 0u) << "of " << typed.size();
    size_t leaked = 0;
    for (char32_t c = 1; c < 0x10000; ++c) {
        const std::u16string one(1, static_cast<char16_t>(c));
        if (carried.count(one) || Charset::IsPrivateUse(one[0])) continue;
        const auto ansi = TextEncoding::Utf16ToAnsiExact(one);
        if (!ansi) continue;
        // iconv's 1255 and 1258 write a precomposed letter as its base and combining mark, two characters
        // of the code page that read back as the letter; Windows refuses it. Either way it comes back.
        const size_t single = CodePage::IsSystemLeadByte(static_cast<unsigned char>((*ansi)[0])) ? 2 : 1;
        if (ansi->size() > single && TextEncoding::AnsiToUtf16(*ansi) == one) continue;
        if (++leaked <= 10) ADD_FAILURE() << Format("U+%04X is carried as ", static_cast<unsigned>(c)) << Hex(*ansi);
    }
    EXPECT_EQ(leaked, 0u);
#ifdef _WIN32
    const std::string header = Charset::ContentTypeLine(GetParam());
    const std::string declared = Charset::DeclaredName(GetParam());
    const Charset::CodePageName* named = declared.empty() ? Charset::ForCodePage(936) : Charset::ForName(declared);
    ASSERT_NE(named, nullptr) << header;
    EXPECT_EQ(named->codePage, GetParam()) << header;
    std::ofstream dump;
    if (const char* path = std::getenv("ZORV_CODEPAGE_DUMP")) dump.open(path, std::ios::binary);
    size_t lost = 0;
    for (const std::u16string& text : carried) {
        // Between brackets: the service trims an account's blanks, as the checker does before it sends.
        CheckReport r = ExampleReport();
        r.account = "<" + *TextEncoding::Utf16ToAnsiExact(text) + ">";
        r.computerName = r.account;
        const std::string json = BuildReportJson(r);
        const std::string expected = "<" + TextEncoding::Utf16ToUtf8(text) + ">";
        if (dump.is_open()) dump << header << '\t' << Hex(expected) << '\t' << Hex(json) << '\n';
        const auto parsed = WireContract::ParsePayload(TextEncoding::Utf16ToUtf8(TextEncoding::AnsiToUtf16(json)));
        if (parsed.ok && parsed.elements[WireContract::kAccount].text == expected &&
            parsed.elements[WireContract::kAccountAgain].text == expected &&
            parsed.elements[WireContract::kComputerName].text == expected)
            continue;
        if (++lost <= 10) ADD_FAILURE() << Hex(r.account) << ": " << json << " (" << parsed.error << ")";
    }
    EXPECT_EQ(lost, 0u) << "of " << carried.size();
    if (dump.is_open()) EXPECT_TRUE(dump.flush().good());
#endif
}

INSTANTIATE_TEST_SUITE_P(AnsiCodePages, CodePageTable, ::testing::ValuesIn(CodePagesUnderTest()),
                         [](const ::testing::TestParamInfo<unsigned>& info) {
                             return "cp" + std::to_string(info.param);
                         });

// Bytes that begin no character of the code page cannot be sent as such; they go out as '?', and the
// rest of the text as it was.
TEST(ReportPayload, ALeadByteWithoutItsSecondByteGoesOutAsAQuestionMark) {
    const struct {
        const char* label;
        std::string text;
        std::string sent;
    } cases[] = {
        {"at the end", "ab\xB2", "ab?"},
        {"before a quote", "\xB2\"x", "?\\\"x"},
        {"before a control character", "\xB2\n", "?\\n"},
        {"a pair with a backslash second", "\xE5\\", "\xE5\\"},
        {"quotes around a pair ending in a backslash", "\"\xE5\\\"", "\\\"\xE5\\\\\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(WireContract::EscapeText(c.text, CodePage::IsCp936LeadByte), c.sent);
    }
}

TEST(ReportPayload, SixtyFourChineseCharactersReachThePayloadInCodePage936) {
    TextEncodingScope scope(936);
    std::u16string typed;
    for (int i = 0; i < 64; ++i) typed += u'\u6d4b';  // 测
    CheckReport r = ExampleReport();
    r.account = TextEncoding::Utf16ToAnsi(typed);
    ASSERT_EQ(r.account.size(), 128u);
    EXPECT_EQ(r.account.substr(0, 2), "\xB2\xE2");
    const std::string json = BuildReportJson(r);
    const std::string expectedStart = "{\"param\":[\"" + r.account + "\",\"" + r.account + "\",";
    EXPECT_EQ(json.substr(0, expectedStart.size()), expectedStart);
}

TEST(ReportPayload, LongTextsAreNotCut) {
    CheckReport r = ExampleReport();
    std::string longName(200, 'N');
    std::string longChip(250, 'C');
    r.displays.count = 0;
    for (int i = 0; i < Device::kMaxDisplayAdapters; ++i) AddAdapter(r.displays, longChip, longName, 4096);
    Put(r.os.productName, std::string(127, 'W'));
    const std::string list = BuildDisplayList(r.displays);
    EXPECT_EQ(list.size(), 10 * (250 + 1 + 200 + 1 + 4 + 2) + 9);
    EXPECT_EQ(FormatOsText(r.os), std::string(127, 'W') + " 64-Bit");
    const auto parsed = nlohmann::json::parse(BuildReportJson(r));
    EXPECT_EQ(parsed["param"][7], list);
}

TEST(SurveyLog, LinesInOrderWithOneLinePerAdapter) {
    CheckReport r = ExampleReport();
    AddAdapter(r.displays, "", "", 0);
    EXPECT_EQ(FormatSurveyLog(r),
              "MAC address is: 00-11-22-33-44-55\n"
              "System is: Windows 7 Professional 64-Bit\n"
              "CPU name: Example CPU 3.0GHz\n"
              "CPU vendor: GenuineIntel\n"
              "CPU speed: 2993MHz\n"
              "CPU count: 4\n"
              "Physical memory: 8192MB\n"
              "Display adapter 0, name: Adapter A, ram: 1024MB\n"
              "Display adapter 1, name: , ram: 0MB\n"
              "Screen resolution: 1920 x 1080\n"
              "Computer name: PC01\n"
              "Computer user name: tester\n");
}

TEST(SurveyLog, EmptySurveyPrintsEmptyFieldsAndNoAdapterLine) {
    CheckReport r;
    EXPECT_EQ(FormatSurveyLog(r),
              "MAC address is: \n"
              "System is:  0-Bit\n"
              "CPU name: \n"
              "CPU vendor: \n"
              "CPU speed: 0MHz\n"
              "CPU count: 0\n"
              "Physical memory: 0MB\n"
              "Screen resolution: 0 x 0\n"
              "Computer name: \n"
              "Computer user name: \n");
}

}  // namespace
