#include <gtest/gtest.h>

#include "service/domain/report_charset.h"
#include "service/domain/service_text.h"
#include "service/http/form.h"

namespace {

using namespace ServiceText;

struct Utf8Case {
    const char* label;
    std::string bytes;
    bool valid;
};

// The export reads a stored body by the table its parse used, never by what its bytes look like.
TEST(ServiceText, ExportedBodyByTheTableItsParseUsed) {
    const std::string gbkLooksUtf8 = "\xD2\xBB\xD2\xB5";  // 一业 in GBK; as UTF-8 it reads һҵ
    const struct {
        const char* label;
        std::string body;
        unsigned codePage;
        std::optional<std::string> shown;
    } cases[] = {
        {"936, bytes that are also valid UTF-8", gbkLooksUtf8, 936, "一业"},
        {"65001, the same bytes", gbkLooksUtf8, 65001, "һҵ"},
        {"kept before the table was: the old reading", gbkLooksUtf8, 0, "һҵ"},
        {"kept before, GBK that is not UTF-8", "\xB3\xC2", 0, "陈"},
        {"936 reads code page 936's euro byte", "\x80", 936, "€"},
        {"950", "\xBB\x4F\xC6\x57", 950, "臺灣"},
        {"1252", "caf\xE9 \x80", 1252, "café €"},
        {"65001, not valid UTF-8", "\xB3\xC2", 65001, std::nullopt},
        {"936, a lead byte cut short", "\xB3", 936, std::nullopt},
        {"a code page no Windows uses", "abc", 12345, std::nullopt},
        {"a refused report keeps no body", "", 936, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(ExportedBody(c.body, c.codePage), c.shown);
    }
}

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
        EXPECT_EQ(DecodeBody(c.bytes, nullptr), c.utf8);
    }
    EXPECT_EQ(DecodeBody("玩家", Charset::ForCodePage(Charset::kUtf8)), "玩家");
    EXPECT_EQ(DecodeBody("\xCD\xE6", Charset::ForCodePage(Charset::kUtf8)), std::nullopt);
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

// What a Content-Type declares, as the report path reads it: nothing (code page 936), a table by any of its
// names, or a name the service refuses. Every name a checker declares leads back to its own code page.
TEST(ServiceText, TheDeclaredCharsetChoosesTheTable) {
    const struct {
        const char* contentType;
        bool supported;
        unsigned codePage;  // 0: none declared
    } cases[] = {
        {"Application/json", true, 0},
        {"application/json; charset=Big5", true, 950},
        {"application/json;CHARSET=\"shift_jis\"", true, 932},
        {"application/json; charset=windows-31j", true, 932},
        {"application/json; charset=EUC-KR", true, 949},
        {"application/json; charset=ks_c_5601-1987", true, 949},
        {"application/json; charset=gbk", true, 936},
        {"application/json; charset=GB18030", true, 936},
        {"application/json; charset=cp1252", true, 1252},
        {"application/json; charset=windows-1258", true, 1258},
        {"application/json; charset=utf8", true, 65001},
        {"application/json; charset=x-klingon", false, 0},
        {"application/json; charset=CP437", false, 0},
        {"application/json; charset=", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.contentType);
        const BodyCharset charset = ReadBodyCharset(c.contentType);
        EXPECT_EQ(charset.supported, c.supported);
        EXPECT_EQ(charset.table ? charset.table->codePage : 0u, c.codePage);
    }
    for (size_t i = 0; i < Charset::kAnsiCodePageCount; ++i) {
        const unsigned codePage = Charset::kAnsiCodePages[i].codePage;
        const std::string line = Charset::ContentTypeLine(codePage);
        SCOPED_TRACE(line);
        const BodyCharset charset = ReadBodyCharset(line.substr(line.find(':') + 1));
        EXPECT_TRUE(charset.supported);
        EXPECT_EQ(charset.table ? charset.table->codePage : 936u, codePage);
    }
    EXPECT_EQ(Charset::ContentTypeLine(936), "Content-Type: Application/json");
    EXPECT_EQ(Charset::ContentTypeLine(437), "Content-Type: Application/json; charset=CP437");
    EXPECT_FALSE(ReadBodyCharset("application/json; charset=CP437").supported);
    // Bytes that are no character of the declared table are refused, not replaced.
    EXPECT_EQ(DecodeBody("\xA5\x78\xC6\x57", Charset::ForCodePage(950)), "台灣");
    EXPECT_EQ(DecodeBody("\xA5\x78\xFF", Charset::ForCodePage(950)), std::nullopt);
    // Windows reads the bytes its single-byte tables leave undefined as the C1 control of the same number.
    EXPECT_EQ(DecodeBody("\x81", Charset::ForCodePage(1252)), "\xC2\x81");
    // In 932 a lone 0x80 is U+0080; after a lead byte it is the second byte of ÷ (81 80).
    EXPECT_EQ(DecodeBody("\x80\x81\x80", Charset::ForCodePage(932)), "\xC2\x80\xC3\xB7");
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
