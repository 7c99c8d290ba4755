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

std::optional<std::string> Utf16ToAnsiExact(std::u16string_view text) {
    if (text.empty()) return std::string();
    const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int length = static_cast<int>(text.size());
    // UTF-8 has no default character to report; the platform refuses a lone surrogate there instead.
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* reportDefault = utf8 ? nullptr : &usedDefault;
    const int n = WideCharToMultiByte(CP_ACP, flags, wide, length, nullptr, 0, nullptr, reportDefault);
    if (n <= 0 || usedDefault) return std::nullopt;
    std::string out(static_cast<size_t>(n), '\0');
    if (WideCharToMultiByte(CP_ACP, flags, wide, length, &out[0], n, nullptr, reportDefault) != n || usedDefault)
        return std::nullopt;
    // What the service reads back must be what was typed, whatever the table does with look-alikes.
    if (ToWide(CP_ACP, out) != text) return std::nullopt;
    return out;
}
unsigned AnsiCodePage() { return GetACP(); }

}  // namespace TextEncoding
