#include "text/text_encoding.h"

#include <windows.h>

namespace TextEncoding {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::u16string ToWide(UINT codePage, std::string_view text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::u16string out(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<wchar_t*>(&out[0]), n);
    return out;
}

std::string ToNarrow(UINT codePage, std::u16string_view text) {
    if (text.empty()) return {};
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int n = WideCharToMultiByte(codePage, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, wide, static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }
std::string Utf16ToUtf8(std::u16string_view text) { return ToNarrow(CP_UTF8, text); }
std::string Utf16ToAnsi(std::u16string_view text) { return ToNarrow(CP_ACP, text); }
std::u16string AnsiToUtf16(std::string_view ansi) { return ToWide(CP_ACP, ansi); }
unsigned AnsiCodePage() { return GetACP(); }

}  // namespace TextEncoding
