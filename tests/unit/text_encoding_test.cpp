#include "text/text_encoding.h"

#include <gtest/gtest.h>

#include "tests/support/code_page.h"

namespace {

using namespace TextEncoding;

TEST(TextEncoding, Utf8RoundTripsThroughUtf16IncludingSurrogatePairs) {
    const std::string utf8 = "ok \xE6\xA3\x80\xE6\xB5\x8B \xF0\x9F\x98\x80";  // ok 检测 😀
    const std::u16string wide = Utf8ToUtf16(utf8);
    EXPECT_EQ(wide, u"ok \u68c0\u6d4b \U0001F600");
    EXPECT_EQ(Utf16ToUtf8(wide), utf8);
}

TEST(TextEncoding, MalformedUtf8BecomesReplacementCharacters) {
    const std::u16string wide = Utf8ToUtf16("a\xFF" "b");
    EXPECT_EQ(wide, u"a\uFFFDb");
}

TEST(TextEncoding, ChineseRoundTripsThroughCodePage936) {
    TextEncodingScope scope(936);
    const std::u16string text = u"账号不一致！";
    const std::string ansi = Utf16ToAnsi(text);
    EXPECT_EQ(ansi, "\xD5\xCB\xBA\xC5\xB2\xBB\xD2\xBB\xD6\xC2\xA3\xA1");
    EXPECT_EQ(AnsiToUtf16(ansi), text);
}

TEST(TextEncoding, UnmappableCharactersBecomeQuestionMarks) {
    TextEncodingScope scope(936);
    EXPECT_EQ(Utf16ToAnsi(u"a\u0E01b"), "a?b");  // Thai is not in GBK
}

TEST(TextEncoding, EmptyStaysEmpty) {
    EXPECT_EQ(Utf8ToUtf16(""), u"");
    EXPECT_EQ(Utf16ToAnsi(u""), "");
}

}  // namespace
