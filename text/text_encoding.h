#pragma once
// Code-page conversions. Window text is UTF-16, survey values and the report are ANSI code-page text, the
// service's reply is UTF-8. On Windows these are MultiByteToWideChar / WideCharToMultiByte with the system
// code page; the native build uses iconv with a code page the caller sets.
#include <optional>
#include <string>
#include <string_view>

namespace TextEncoding {

// Malformed input becomes U+FFFD, as the platform's UTF-8 decoder does.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view text);
// Characters the code page cannot represent become '?'.
std::string Utf16ToAnsi(std::u16string_view text);
std::u16string AnsiToUtf16(std::string_view ansi);
// The text in the ANSI code page only when the code page carries every character of it exactly: no
// default character, no best-fit look-alike (ａ for a, ? for 臺), and the bytes read back to the same text.
// Nothing otherwise (a lone surrogate included). Code page 65001 carries every character.
std::optional<std::string> Utf16ToAnsiExact(std::u16string_view text);

unsigned AnsiCodePage();
#ifndef _WIN32
// The native build's stand-in for the system setting (default 936).
void SetAnsiCodePage(unsigned codePage);
#endif

}  // namespace TextEncoding
