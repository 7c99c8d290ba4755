#include "text/text_encoding.h"

#include <iconv.h>

#include <cerrno>
#include <string>

namespace TextEncoding {
namespace {

unsigned g_codePage = 936;

std::string IconvName(unsigned codePage) {
    if (codePage == 65001) return "UTF-8";
    return "CP" + std::to_string(codePage);
}

// Converts with iconv; where a unit cannot be converted, writes `replacement` and skips `skip` input bytes.
std::string Convert(const char* from, const char* to, std::string_view in, const std::string& replacement,
                    size_t skip) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string out;
    std::string buffer(4096, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    while (srcLeft > 0) {
        char* dst = &buffer[0];
        size_t dstLeft = buffer.size();
        const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer.data(), buffer.size() - dstLeft);
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL (a sequence cut off at the end): replace one unit and go on.
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            out += replacement;
            const size_t n = skip < srcLeft ? skip : srcLeft;
            src += n;
            srcLeft -= n;
        }
    }
    // A stateful table (1255, 1258) holds its last character back until it knows nothing combines with it.
    char* dst = &buffer[0];
    size_t dstLeft = buffer.size();
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.append(buffer.data(), buffer.size() - dstLeft);
    iconv_close(cd);
    return out;
}

std::u16string FromUtf16Bytes(const std::string& bytes) {
    std::u16string out(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return out;
}

std::string ToUtf16Bytes(std::u16string_view text) {
    std::string bytes(text.size() * 2, '\0');
    for (size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    return bytes;
}

const std::string kReplacementUtf16("\xFD\xFF", 2);  // U+FFFD, little-endian

// Converts the whole input or nothing.
std::optional<std::string> ConvertStrictly(const char* from, const char* to, std::string_view in) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = &out[0];
    size_t dstLeft = out.size();
    bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1) &&
              iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    if (!ok) return std::nullopt;
    out.resize(out.size() - dstLeft);
    return out;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
    return FromUtf16Bytes(Convert("UTF-8", "UTF-16LE", utf8, kReplacementUtf16, 1));
}

std::string Utf16ToUtf8(std::u16string_view text) {
    return Convert("UTF-16LE", "UTF-8", ToUtf16Bytes(text), "\xEF\xBF\xBD", 2);
}

std::string Utf16ToAnsi(std::u16string_view text) {
    return Convert("UTF-16LE", IconvName(g_codePage).c_str(), ToUtf16Bytes(text), "?", 2);
}

std::u16string AnsiToUtf16(std::string_view ansi) {
    return FromUtf16Bytes(Convert(IconvName(g_codePage).c_str(), "UTF-16LE", ansi, std::string("?\0", 2), 1));
}

std::optional<std::string> Utf16ToAnsiExact(std::u16string_view text) {
    const std::string name = IconvName(g_codePage);
    auto ansi = ConvertStrictly("UTF-16LE", name.c_str(), ToUtf16Bytes(text));
    if (!ansi) return std::nullopt;
    const auto back = ConvertStrictly(name.c_str(), "UTF-16LE", *ansi);
    if (!back || FromUtf16Bytes(*back) != text) return std::nullopt;
    return ansi;
}

unsigned AnsiCodePage() { return g_codePage; }
void SetAnsiCodePage(unsigned codePage) { g_codePage = codePage; }

}  // namespace TextEncoding
