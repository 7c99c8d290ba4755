#include <gtest/gtest.h>

#include "service/domain/service_text.h"
#include "service/http/form.h"

namespace {

using namespace ServiceText;

struct Utf8Case {
    const char* label;
    std::string bytes;
    bool valid;
};

TEST(ServiceText, Utf8Validation) {
    const Utf8Case cases[] = {
        {"empty", "", true},
        {"ascii", "player1", true},
        {"chinese", "玩家", true},
        {"four-byte", "\xF0\x9F\x98\x80", true},
        {"GBK bytes of 玩家", "\xCD\xE6\xBC\xD2", false},
        {"lone continuation", "\x80", false},
        {"overlong slash", "\xC0\xAF", false},
        {"overlong three-byte", "\xE0\x80\xAF", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"past U+10FFFF", "\xF4\x90\x80\x80", false},
        {"cut short", "\xE7\x8E", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(IsValidUtf8(c.bytes), c.valid);
    }
}

TEST(ServiceText, ToUtf8KeepsUtf8AndDecodesGb18030) {
    EXPECT_EQ(ToUtf8("玩家一"), "玩家一");
    EXPECT_EQ(ToUtf8("\xCD\xE6\xBC\xD2\xD2\xBB"), "玩家一");              // GBK / code page 936
    EXPECT_EQ(ToUtf8("a\x81\x30\x81\x30z"), "a\xC2\x80z");                 // a four-byte GB18030 sequence
    EXPECT_EQ(ToUtf8("\xFF\xFF"), std::nullopt);                           // neither
    EXPECT_EQ(ToUtf8("\xCD"), std::nullopt);                               // a lead byte cut off
    EXPECT_EQ(Utf8ToGb18030("玩家一"), std::string("\xCD\xE6\xBC\xD2\xD2\xBB"));
    EXPECT_EQ(Utf8ToGb18030("\xCD\xE6"), std::nullopt);
}

TEST(ServiceText, TheCheckersCodePageDecodedAsGb18030) {
    const struct {
        const char* label;
        std::string bytes;
        std::optional<std::string> utf8;
    } cases[] = {
        {"two-byte characters", "\xCD\xE6\xBC\xD2", "玩家"},
        {"a second byte that is a backslash", "\xDF\x5C\xE5\x5C", "運錦"},
        {"the euro sign of code page 936", "\x80 5", "€ 5"},
        {"0x80 as a second byte stays in its pair", "\x81\x80", "\u4E90"},
        {"a four-byte sequence", "\x81\x30\x81\x30", "\u0080"},
        {"a lead byte cut off", "ab\xCD", std::nullopt},
        {"a lead byte before a quote", "\xCD\"", std::nullopt},
        {"0xFF", "\xFF", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Gb18030ToUtf8(c.bytes), c.utf8);
        EXPECT_EQ(DecodeReportBody(c.bytes, false), c.utf8);
    }
    EXPECT_EQ(DecodeReportBody("玩家", true), "玩家");
    EXPECT_EQ(DecodeReportBody("\xCD\xE6", true), std::nullopt);
}

TEST(ServiceText, OnlyADeclaredCharsetMakesABodyUtf8) {
    const std::pair<std::string, bool> cases[] = {
        {"Application/json", false},
        {"application/json; charset=utf-8", true},
        {"application/json;charset=UTF-8", true},
        {"application/json; CHARSET = \"Utf-8\" ", true},
        {"text/plain; format=flowed; charset=utf-8", true},
        {"application/json; charset=gbk", false},
        {"application/json; charset=utf-16", false},
        {"application/json; charset=utf8", false},
        {"application/json; xcharset=utf-8", false},
        {"charset=utf-8", false},
        {"", false},
    };
    for (const auto& [value, utf8] : cases) {
        SCOPED_TRACE(value);
        EXPECT_EQ(DeclaresUtf8(value), utf8);
    }
}

TEST(ServiceText, HtmlEscapeCoversEveryMarkupCharacter) {
    EXPECT_EQ(HtmlEscape("<script>alert(\"x\" & 'y')</script>"),
              "&lt;script&gt;alert(&quot;x&quot; &amp; &#39;y&#39;)&lt;/script&gt;");
    EXPECT_EQ(HtmlEscape("玩家"), "玩家");
}

TEST(ServiceText, CsvFieldQuotesAndDefusesFormulas) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "\"plain\""},
        {"a \"q\" b", "\"a \"\"q\"\" b\""},
        {"line\r\nbreak", "\"line\r\nbreak\""},
        {"=cmd|' /C calc'!A0", "\"'=cmd|' /C calc'!A0\""},
        {"+1", "\"'+1\""},
        {"-1", "\"'-1\""},
        {"@SUM(A1)", "\"'@SUM(A1)\""},
        {"", "\"\""},
    };
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(in);
        EXPECT_EQ(CsvField(in), out);
    }
}

TEST(ServiceText, UrlDecode) {
    const std::pair<std::string, std::string> cases[] = {
        {"a+b", "a b"},
        {"%E7%8E%A9%E5%AE%B6", "玩家"},
        {"%3Cscript%3E", "<script>"},
        {"100%", "100%"},
        {"%4", "%4"},
        {"%zz", "%zz"},
        {"%41%42", "AB"},
    };
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(in);
        EXPECT_EQ(Service::Http::UrlDecode(in), out);
    }
}

TEST(ServiceText, TrimAndCount) {
    EXPECT_EQ(Trim(" \t玩家 \r\n"), "玩家");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(CodePointCount("a玩\xF0\x9F\x98\x80"), 3u);
}

}  // namespace
