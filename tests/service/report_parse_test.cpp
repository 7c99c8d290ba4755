#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <vector>

#include "report/report_text.h"
#include "service/domain/report_charset.h"
#include "service/domain/report_parse.h"
#include "text/charset.h"
#include "text/text_encoding.h"
#include "service_test_support.h"
#include "tests/support/code_page.h"

namespace {

using namespace Service;

TEST(ParseReport, TheCheckersExamplePayload) {
    const auto result = ParseReport(CheckerPayload(ReportFields{}), false);
    ASSERT_TRUE(result.report) << result.error;
    const Report& r = *result.report;
    EXPECT_EQ(r.account, "player1");
    EXPECT_EQ(r.mac, "00-11-22-33-44-55");
    EXPECT_EQ(r.cpuName, "Example CPU 3.0GHz");
    EXPECT_EQ(r.cpuCount, 4);
    EXPECT_EQ(r.clockMHz, 2993);
    EXPECT_EQ(r.memoryMB, "8192");
    EXPECT_EQ(r.displays, "Chip X;Adapter A;1024;0");
    EXPECT_EQ(r.resolution, "1920 x 1080");
    EXPECT_EQ(r.os, "Windows 7 Professional 64-Bit");
    EXPECT_EQ(r.computerName, "PC01");
}

TEST(ParseReport, TheDeclaredCharsetDecidesNotTheBytes) {
    ReportFields gbk;
    gbk.account = "\xCD\xE6\xBC\xD2\xD2\xBB";  // 玩家一 in code page 936
    gbk.computer = "\xB2\xE2\xCA\xD4\xBB\xFA";  // 测试机
    ReportFields utf8;
    utf8.account = "玩家一";
    utf8.computer = "测试机";
    // 谷歌 in code page 936 is B9 C8 B8 E8: B9 C8 is also valid UTF-8 (U+0E48), so guessing read it wrongly.
    ReportFields utf8Account;
    utf8Account.account = "玩家一";
    ReportFields lookalike;
    lookalike.account = "\xB9\xC8\xB8\xE8";
    const struct {
        const char* label;
        std::string body;
        bool declaredUtf8;
        std::optional<std::string> account;
    } cases[] = {
        {"code page 936", CheckerPayload(gbk), false, "玩家一"},
        {"UTF-8 declared", Utf8Payload(utf8), true, "玩家一"},
        {"code page 936 that is also valid UTF-8", CheckerPayload(lookalike), false, "谷歌"},
        {"UTF-8 undeclared is read as GB18030", Utf8Payload(utf8Account), false, "鐜╁\uE18D涓€"},
        {"UTF-8 undeclared that is no GB18030", Utf8Payload(utf8), false, std::nullopt},
        {"code page 936 declared UTF-8", CheckerPayload(gbk), true, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto result = ParseReport(c.body, c.declaredUtf8);
        ASSERT_EQ(result.report.has_value(), c.account.has_value()) << result.error;
        if (c.account) {
            EXPECT_EQ(result.report->account, *c.account);
        }
    }
}

// One table per ANSI code page of Windows: every character it has, typed as account and as computer name,
// carried exactly by the checker, built into its payload and declared by its Content-Type, comes back from
// the service's parser as typed.
class CodePageReports : public ::testing::TestWithParam<unsigned> {};

TEST_P(CodePageReports, EveryCharacterComesBackAsTypedThroughTheDeclaredCharset) {
    TextEncodingScope scope(GetParam());
    const std::vector<std::u16string> typed = CodePageCharacters();
    if (GetParam() == 936) {
        EXPECT_GE(typed.size(), 127u + 21791u);  // none of its characters left out
    }
    const std::string header = Charset::ContentTypeLine(GetParam());
    const ServiceText::BodyCharset charset = ServiceText::ReadBodyCharset(header.substr(header.find(':') + 1));
    ASSERT_TRUE(charset.supported) << header;
    size_t broken = 0;
    for (const std::u16string& text : typed) {
        // Between brackets: the service trims an account's blanks, as the checker does before it sends.
        CheckReport report;
        report.os.bitness = 64;  // as the survey always sets it
        report.account = "<" + TextEncoding::Utf16ToAnsiExact(text).value_or("?") + ">";
        report.computerName = report.account;
        const std::string expected = "<" + TextEncoding::Utf16ToUtf8(text) + ">";
        const auto result = ParseReport(BuildReportJson(report), charset.table);
        if (result.report && result.report->account == expected && result.report->computerName == expected) continue;
        if (++broken <= 10)
            ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(text[0]) << ": "
                          << (result.report ? result.report->account : result.error);
    }
    EXPECT_EQ(broken, 0u) << "of " << typed.size();
}

INSTANTIATE_TEST_SUITE_P(AnsiCodePages, CodePageReports, ::testing::ValuesIn(AnsiCodePageNumbers()),
                         [](const ::testing::TestParamInfo<unsigned>& info) { return "cp" + std::to_string(info.param); });

// The same tables as a Windows system's own conversions made them (unit_tests under Wine, written by
// tests/codepages/run.sh): each line the Content-Type, the typed text and the payload, in hex.
TEST(ParseReport, PayloadsMadeByAWindowsCodePageComeBackAsTyped) {
    const char* path = std::getenv("ZORV_CODEPAGE_DUMP");
    if (!path) GTEST_SKIP() << "ZORV_CODEPAGE_DUMP names no table";
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << path;
    const auto unhex = [](const std::string& hex) {
        std::string bytes;
        for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        return bytes;
    };
    size_t lines = 0, broken = 0;
    std::string line;
    while (std::getline(in, line)) {
        ++lines;
        const size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
        ASSERT_NE(tab2, std::string::npos) << line;
        const ServiceText::BodyCharset charset = ServiceText::ReadBodyCharset(line.substr(0, tab1));
        const std::string expected = unhex(line.substr(tab1 + 1, tab2 - tab1 - 1));
        const auto result = ParseReport(unhex(line.substr(tab2 + 1)), charset.table);
        if (charset.supported && result.report && result.report->account == expected &&
            result.report->computerName == expected)
            continue;
        if (++broken <= 10) ADD_FAILURE() << line.substr(0, tab2) << ": " << (result.report ? result.report->account : result.error);
    }
    RecordProperty("characters", static_cast<int>(lines));
    EXPECT_GT(lines, 0u);
    EXPECT_EQ(broken, 0u) << "of " << lines;
}

TEST(ParseReport, TheEuroSignOfCodePage936) {
    ReportFields f;
    f.account = "\x80uro";  // what the checker sends for €uro
    const auto result = ParseReport(CheckerPayload(f), false);
    ASSERT_TRUE(result.report) << result.error;
    EXPECT_EQ(result.report->account, "€uro");
}

struct MalformedCase {
    const char* label;
    std::string body;
};

std::string WithElement(int index, const std::string& json) {
    std::string elements[14] = {"\"a\"", "\"a\"", "\"\"", "\"\"", "1", "1", "\"1\"", "\"\"",
                                "\"1 x 1\"",  "\" 64-Bit\"",  "\"\"", "\"\"", "\"\"", "\"\""};
    elements[index] = json;
    std::string body = "{\"param\":[";
    for (int i = 0; i < 14; ++i) body += (i ? "," : "") + elements[i];
    return body + "]}";
}

TEST(ParseReport, RefusesMalformedReports) {
    std::string unescaped = CheckerPayload(ReportFields{});
    unescaped.replace(unescaped.find("player1"), 7, "pla\"yer1");
    ReportFields longAccount;
    longAccount.account = std::string(65, 'a');
    ReportFields blankAccount;
    blankAccount.account = "  ";
    const MalformedCase cases[] = {
        {"empty body", ""},
        {"not JSON", "hello"},
        {"cut off", CheckerPayload(ReportFields{}).substr(0, 50)},
        {"unescaped quote in the account", unescaped},
        {"a raw control character", WithElement(2, "\"a\tb\"")},
        {"an unknown escape", WithElement(2, "\"a\\qb\"")},
        {"a lone high surrogate", WithElement(2, "\"\\ud83d\"")},
        {"a lone low surrogate", WithElement(2, "\"\\ude00\"")},
        {"a cut \\u escape", WithElement(2, "\"\\u12\"")},
        {"a string without its end", "{\"param\":[\"a"},
        {"count with an exponent", WithElement(4, "1e3")},
        {"count with a leading zero", WithElement(4, "01")},
        {"count past 64 bits", WithElement(4, "9223372036854775808")},
        {"clock below 64 bits", WithElement(5, "-9223372036854775809")},
        {"a minus alone", WithElement(4, "-")},
        {"text after the object", CheckerPayload(ReportFields{}) + "x"},
        {"a trailing comma", "{\"param\":[\"a\",\"a\",\"\",\"\",1,1,\"1\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",]}"},
        {"array at the top", "[\"a\"]"},
        {"no param", "{\"params\":[]}"},
        {"a second key", "{\"param\":[],\"x\":1}"},
        {"param not an array", "{\"param\":\"x\"}"},
        {"13 elements", "{\"param\":[\"a\",\"a\",\"\",\"\",1,1,\"1\",\"\",\"\",\"\",\"\",\"\",\"\"]}"},
        {"15 elements", "{\"param\":[\"a\",\"a\",\"\",\"\",1,1,\"1\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"]}"},
        {"count as text", WithElement(4, "\"4\"")},
        {"clock as text", WithElement(5, "\"2993\"")},
        {"clock as a fraction", WithElement(5, "2993.5")},
        {"count null", WithElement(4, "null")},
        {"account as number", WithElement(0, "1")},
        {"memory as number", WithElement(6, "8192")},
        {"computer name as array", WithElement(10, "[]")},
        {"last element as object", WithElement(13, "{}")},
        {"accounts differ", WithElement(1, "\"b\"")},
        {"blank account", CheckerPayload(blankAccount)},
        {"account of 65 characters", CheckerPayload(longAccount)},
        {"bytes neither UTF-8 nor GB18030", WithElement(10, "\"\xFF\xFE\"")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto result = ParseReport(c.body, false);
        EXPECT_FALSE(result.report);
        EXPECT_FALSE(result.error.empty());
    }
}

TEST(ParseReport, WellFormedJsonInAnyLayout) {
    const struct {
        const char* label;
        std::string body;
        std::string computer;
        int64_t count;
    } cases[] = {
        {"blanks between every token",
         " {\r\n \"param\" : [ \"a\" , \"a\" ,\t\"\",\"\",-4,1,\"1\",\"\",\"1 x 1\",\" 64-Bit\",\"m\",\"\",\"\",\"\" ] }\n",
         "m", -4},
        {"escapes of every kind", WithElement(10, "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u0041\\u00e9\\u73a9\\ud83d\\ude00\""),
         "\"\\/\b\f\n\r\tA\u00e9\u73a9\U0001F600", 1},
        {"the least of 16 bits", WithElement(4, "-32768"), "", -32768},
        {"the largest", WithElement(4, "32767"), "", 32767},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto result = ParseReport(c.body, true);
        ASSERT_TRUE(result.report) << result.error;
        EXPECT_EQ(result.report->computerName, c.computer);
        EXPECT_EQ(result.report->cpuCount, c.count);
    }
}

TEST(ParseReport, AccountLengthBoundary) {
    ReportFields f;
    f.account = std::string(64, 'a');
    EXPECT_TRUE(ParseReport(CheckerPayload(f), false).report);
    f.account.clear();
    for (int i = 0; i < 64; ++i) f.account += "\xCD\xE6";  // 玩
    EXPECT_TRUE(ParseReport(CheckerPayload(f), false).report);
    f.account += "\xCD\xE6";
    EXPECT_FALSE(ParseReport(CheckerPayload(f), false).report);
}

// The one machine key, as the rules compare it and an exported row shows it.
std::string KeyOf(const std::string& mac, const std::string& cpu, const std::string& displays, const std::string& pc) {
    Report r;
    r.mac = mac;
    r.cpuName = cpu;
    r.displays = displays;
    r.computerName = pc;
    return Prepare(r, "", "", 0).report.machineKey;
}

TEST(MachineKey, TheMacAddressOrAFingerprint) {
    // Without a usable MAC: the first 128 bits of SHA-256 of "cpu\x1fd\x1fpc", the folded fields.
    const std::string kFp = "fp:d85de9d270b06acd1f8da93fe5b03954";
    struct Case {
        const char* label;
        std::string mac;
        std::string key;
    } cases[] = {
        {"dashes", "00-11-22-33-44-55", "mac:001122334455"},
        {"colons, lower case", "aa:bb:cc:dd:ee:0f", "mac:AABBCCDDEE0F"},
        {"bare", "AABBCCDDEE0F", "mac:AABBCCDDEE0F"},
        {"dots", "0011.2233.4455", "mac:001122334455"},
        {"empty", "", kFp},
        {"all zero", "00-00-00-00-00-00", kFp},
        {"broadcast", "FF-FF-FF-FF-FF-FF", kFp},
        {"too short", "00-11-22", kFp},
        {"not hex", "00-11-22-33-44-ZZ", kFp},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(KeyOf(c.mac, "CPU", "D", "PC"), c.key);
    }
    // Field boundaries matter: moving text from one field to the next is another machine.
    EXPECT_NE(KeyOf("", "ab", "c", ""), KeyOf("", "a", "bc", ""));
}

TEST(SplitDisplayList, ItemsAndFields) {
    const auto two = SplitDisplayList("Chip X;Adapter A;1024;0|;;0;0");
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].chip, "Chip X");
    EXPECT_EQ(two[0].name, "Adapter A");
    EXPECT_EQ(two[0].memoryMB, 1024);
    EXPECT_EQ(two[1].chip, "");
    EXPECT_EQ(two[1].memoryMB, 0);

    EXPECT_TRUE(SplitDisplayList("").empty());

    const auto semicolon = SplitDisplayList("Chip;Name; with; semicolons;2048;0");
    ASSERT_EQ(semicolon.size(), 1u);
    EXPECT_EQ(semicolon[0].chip, "Chip");
    EXPECT_EQ(semicolon[0].name, "Name; with; semicolons");
    EXPECT_EQ(semicolon[0].memoryMB, 2048);

    const auto broken = SplitDisplayList("garbage|Chip Y;B;-1;0");
    ASSERT_EQ(broken.size(), 2u);
    EXPECT_EQ(broken[0].chip, "garbage");
    EXPECT_EQ(broken[0].memoryMB, 0);
    EXPECT_EQ(broken[1].memoryMB, -1);
}

TEST(DerivedValues, CpuVendorFromTheName) {
    const std::pair<std::string, std::string> cases[] = {
        {"Intel(R) Core(TM) i5-4590 CPU @ 3.30GHz", "Intel"},
        {"       Intel(R) Pentium(R) 4 CPU 3.00GHz", "Intel"},
        {"AMD Ryzen 5 3600 6-Core Processor", "AMD"},
        {"AMD Athlon(tm) II X2 250 Processor", "AMD"},
        {"Example CPU 3.0GHz", "其他"},
        {"", "未知"},
    };
    for (const auto& [name, vendor] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(CpuVendor(name), vendor);
    }
}

TEST(DerivedValues, Bands) {
    const std::pair<int64_t, std::string> clocks[] = {
        {0, "未测得"}, {-5, "未测得"}, {399, "0.0–0.4 GHz"}, {400, "0.4–0.8 GHz"},
        {2993, "2.8–3.2 GHz"}, {3199, "2.8–3.2 GHz"}, {3200, "3.2–3.6 GHz"}};
    for (const auto& [mhz, band] : clocks) {
        SCOPED_TRACE(mhz);
        EXPECT_EQ(ClockBand(mhz), band);
    }
    const std::pair<std::string, std::string> memories[] = {
        {"2048", "≤2 GB"}, {"3583", "3–4 GB"}, {"8067", "5–8 GB"}, {"8192", "5–8 GB"},
        {"8704", "9–16 GB"}, {"16384", "9–16 GB"}, {"65536", ">32 GB"}, {"", "未知"}, {"x", "未知"}, {"0", "未知"}};
    for (const auto& [mb, band] : memories) {
        SCOPED_TRACE(mb);
        EXPECT_EQ(MemoryBand(mb), band);
    }
    const std::pair<int64_t, std::string> vram[] = {
        {0, "未知"}, {256, "≤256 MB"}, {257, "257–512 MB"}, {1024, "0.5–1 GB"}, {1025, "1–2 GB"},
        {4096, "2–4 GB"}, {8192, "4–8 GB"}, {8193, ">8 GB"}, {-1, "未知"}};
    for (const auto& [mb, band] : vram) {
        SCOPED_TRACE(mb);
        EXPECT_EQ(VramBand(mb), band);
    }
}

}  // namespace
