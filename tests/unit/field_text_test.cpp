#include "text/field_text.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/code_page.h"

namespace {

TEST(FieldText, CutsToFitKeepingTheTerminatorAndWholeDoubleByteCharacters) {
    TextEncodingScope scope(936);
    const struct {
        const char* label;
        std::string text;
        std::string expected;
    } cases[] = {
        {"fits", "abc", "abc"},
        {"exactly size - 1", "abcdefg", "abcdefg"},
        {"one too long", "abcdefgh", "abcdefg"},
        {"double-byte character across the end is dropped whole", "abcdef\xD6\xD0", "abcdef"},
        {"double-byte character before the end is kept", "abcde\xD6\xD0x", "abcde\xD6\xD0"},
        {"trail byte that looks like a lead byte", "\xD6\xD0\xD6\xD0\xD6\xD0\xD6\xD0", "\xD6\xD0\xD6\xD0\xD6\xD0"},
        {"a lone lead byte at the very end counts as one", "abc\x81", "abc\x81"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        char field[8];
        std::memset(field, 'x', sizeof field);
        FieldText::CopyToField(field, c.text);
        EXPECT_EQ(std::string(field), c.expected);
        EXPECT_EQ(field[7], '\0');
    }
}

TEST(FieldText, RegistryBytesAsText) {
    EXPECT_EQ(FieldText::NarrowText(std::string("abc\0def", 7)), "abc");
    EXPECT_EQ(FieldText::NarrowText("abc"), "abc");
    EXPECT_EQ(FieldText::WideText(std::string("a\0b\0\0\0c\0", 8)), u"ab");
    EXPECT_EQ(FieldText::WideText(std::string("a\0b", 3)), u"ab");  // an odd last byte is a unit's low byte
    EXPECT_EQ(FieldText::WideText(""), u"");
}

TEST(FieldText, LittleEndianOfEveryWidth) {
    EXPECT_EQ(FieldText::LittleEndian(""), 0u);
    EXPECT_EQ(FieldText::LittleEndian("\x01"), 1u);
    EXPECT_EQ(FieldText::LittleEndian(std::string("\x00\x10\x00", 3)), 0x1000u);
    EXPECT_EQ(FieldText::LittleEndian("\x01\x02\x03\x04\x05\x06\x07\x08"), 0x0807060504030201ull);
    EXPECT_EQ(FieldText::LittleEndian("\x01\x02\x03\x04\x05\x06\x07\x08\x09"), 0x0807060504030201ull);
}

}  // namespace
