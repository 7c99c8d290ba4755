#include <gtest/gtest.h>

#include "service/report_parse.h"
#include "service_test_support.h"

namespace {

using namespace Service;

TEST(ParseReport, TheCheckersExamplePayload) {
    const auto result = ParseReport(CheckerPayload(ReportFields{}), true);
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
    EXPECT_EQ(r.machineKey, "mac:001122334455");
}

TEST(ParseReport, AccountsInUtf8AndInTheAnsiCodePage) {
    ReportFields gbk;
    gbk.account = "\xCD\xE6\xBC\xD2\xD2\xBB";  // 玩家一 in code page 936
    gbk.computer = "\xB2\xE2\xCA\xD4\xBB\xFA";  // 测试机
    ReportFields utf8;
    utf8.account = "玩家一";
    utf8.computer = "测试机";
    for (const auto& [label, fields] : {std::pair{"GB18030", gbk}, std::pair{"UTF-8", utf8}}) {
        SCOPED_TRACE(label);
        const auto result = ParseReport(CheckerPayload(fields), std::string(label) == "UTF-8");
        ASSERT_TRUE(result.report) << result.error;
        EXPECT_EQ(result.report->account, "玩家一");
        EXPECT_EQ(result.report->computerName, "测试机");
    }
}

struct MalformedCase {
    const char* label;
    std::string body;
};

std::string WithElement(int index, const std::string& json) {
    std::string elements[14] = {"\"a\"", "\"a\"", "\"\"", "\"\"", "1", "1", "\"1\"", "\"\"",
                                "\"\"",  "\"\"",  "\"\"", "\"\"", "\"\"", "\"\""};
    elements[index] = json;
    std::string body = "{\"param\":[";
    for (int i = 0; i < 14; ++i) body += (i ? "," : "") + elements[i];
    return body + "]}";
}

TEST(ParseReport, RefusesMalformedReports) {
    ReportFields quote;
    quote.account = "pla\"yer";  // the checker does not escape it
    ReportFields longAccount;
    longAccount.account = std::string(65, 'a');
    ReportFields blankAccount;
    blankAccount.account = "  ";
    const MalformedCase cases[] = {
        {"empty body", ""},
        {"not JSON", "hello"},
        {"cut off", CheckerPayload(ReportFields{}).substr(0, 50)},
        {"unescaped quote in the account", CheckerPayload(quote)},
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
        const auto result = ParseReport(c.body, true);
        EXPECT_FALSE(result.report);
        EXPECT_FALSE(result.error.empty());
    }
}

TEST(ParseReport, AccountLengthBoundary) {
    ReportFields f;
    f.account = std::string(64, 'a');
    EXPECT_TRUE(ParseReport(CheckerPayload(f), true).report);
    f.account.clear();
    for (int i = 0; i < 64; ++i) f.account += "玩";
    EXPECT_TRUE(ParseReport(CheckerPayload(f), true).report);
    f.account += "玩";
    EXPECT_FALSE(ParseReport(CheckerPayload(f), true).report);
}

TEST(MachineKey, TheMacAddressOrAFingerprint) {
    struct Case {
        const char* label;
        std::string mac;
        std::string key;
    } cases[] = {
        {"dashes", "00-11-22-33-44-55", "mac:001122334455"},
        {"colons, lower case", "aa:bb:cc:dd:ee:0f", "mac:AABBCCDDEE0F"},
        {"bare", "AABBCCDDEE0F", "mac:AABBCCDDEE0F"},
        {"empty", "", "fp:CPU\x1f" "D\x1f" "PC"},
        {"all zero", "00-00-00-00-00-00", "fp:CPU\x1f" "D\x1f" "PC"},
        {"broadcast", "FF-FF-FF-FF-FF-FF", "fp:CPU\x1f" "D\x1f" "PC"},
        {"too short", "00-11-22", "fp:CPU\x1f" "D\x1f" "PC"},
        {"not hex", "00-11-22-33-44-ZZ", "fp:CPU\x1f" "D\x1f" "PC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(MachineKey(c.mac, "CPU", "D", "PC"), c.key);
    }
    // Field boundaries matter: moving text from one field to the next is another machine.
    EXPECT_NE(MachineKey("", "ab", "c", ""), MachineKey("", "a", "bc", ""));
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
