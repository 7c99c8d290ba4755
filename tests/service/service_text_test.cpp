#include <gtest/gtest.h>

#include "service/service_text.h"

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
        EXPECT_EQ(UrlDecode(in), out);
    }
}

TEST(ServiceText, TrimAndCount) {
    EXPECT_EQ(Trim(" \t玩家 \r\n"), "玩家");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(CodePointCount("a玩\xF0\x9F\x98\x80"), 3u);
}

}  // namespace
