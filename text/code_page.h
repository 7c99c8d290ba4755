#pragma once
// The double-byte rule of the players' code page. In code page 936 a byte from 0x81 to 0xFE begins a
// two-byte character whose second byte may be any of 0x40–0x7E and 0x80–0xFE, so a second byte can be `\`
// (0x5C) or `@`, `[`, `|`: such a pair must be handled as one character, never byte by byte.
namespace CodePage {

constexpr unsigned kChinese = 936;

// Code page 936's lead bytes.
constexpr bool IsCp936LeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

// A byte that may follow a lead byte. Every double-byte code page keeps its second bytes at 0x40 and above,
// so no quote, backslash or control character is ever part of a pair taken by this rule.
constexpr bool IsTrailByte(unsigned char byte) { return byte >= 0x40 && byte <= 0xFE && byte != 0x7F; }

// The lead bytes of Windows' double-byte ANSI code pages: 932 (Shift_JIS) leaves 0xA1–0xDF to its
// single-byte katakana; 936, 949 and 950 lead with every byte from 0x81 to 0xFE. The single-byte code pages
// and UTF-8 have none (no byte of a UTF-8 sequence is ASCII, so byte by byte is right there).
constexpr bool IsLeadByteOf(unsigned codePage, unsigned char byte) {
    switch (codePage) {
    case 932: return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950: return IsCp936LeadByte(byte);
    default: return false;
    }
}

// A lead byte of the system's ANSI code page: the platform's own rule on Windows (IsDBCSLeadByteEx), the
// table above for the native build's stand-in code page elsewhere.
bool IsSystemLeadByte(unsigned char byte);

using LeadByteRule = bool (*)(unsigned char);

}  // namespace CodePage
