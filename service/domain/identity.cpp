#include "service/domain/identity.h"

#include <sodium.h>
#include <utf8proc.h>

#include <cctype>
#include <cstdlib>

namespace Service::Identity {

namespace {

bool Invisible(utf8proc_int32_t c) {
    const auto category = utf8proc_category(c);
    // Cc: controls; Cf: zero-width spaces and joiners, soft hyphens, byte-order marks, direction marks.
    return category == UTF8PROC_CATEGORY_CC || category == UTF8PROC_CATEGORY_CF;
}

bool Space(utf8proc_int32_t c) {
    return utf8proc_category(c) == UTF8PROC_CATEGORY_ZS || utf8proc_category(c) == UTF8PROC_CATEGORY_ZL ||
           utf8proc_category(c) == UTF8PROC_CATEGORY_ZP;
}

// Decodes; nothing (an empty vector with ok false) for invalid UTF-8.
bool Decode(std::string_view text, std::u32string& out) {
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
    while (left > 0) {
        utf8proc_int32_t c = 0;
        const utf8proc_ssize_t n = utf8proc_iterate(p, left, &c);
        if (n <= 0) return false;
        out.push_back(static_cast<char32_t>(c));
        p += n;
        left -= n;
    }
    return true;
}

std::string Encode(const std::u32string& text) {
    std::string out;
    utf8proc_uint8_t buffer[4];
    for (char32_t c : text) {
        const auto n = utf8proc_encode_char(static_cast<utf8proc_int32_t>(c), buffer);
        out.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    }
    return out;
}

std::string Casefold(std::string_view utf8) {
    std::u32string visible;
    if (!Decode(utf8, visible)) return {};
    std::u32string kept;
    for (char32_t c : visible)
        if (!Invisible(static_cast<utf8proc_int32_t>(c))) kept.push_back(c);
    const std::string cleaned = Encode(kept);
    utf8proc_uint8_t* folded = nullptr;
    const auto n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(cleaned.data()),
                                static_cast<utf8proc_ssize_t>(cleaned.size()), &folded,
                                static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPAT |
                                                               UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD |
                                                               UTF8PROC_IGNORE));
    if (n < 0) return {};
    std::string out(reinterpret_cast<const char*>(folded), static_cast<size_t>(n));
    std::free(folded);
    // Folding can expose nothing new to trim, but compatibility forms can map to a plain space (U+3000).
    std::u32string chars;
    Decode(out, chars);
    size_t first = 0, last = chars.size();
    while (first < last && Space(static_cast<utf8proc_int32_t>(chars[first]))) ++first;
    while (last > first && Space(static_cast<utf8proc_int32_t>(chars[last - 1]))) --last;
    return Encode(chars.substr(first, last - first));
}

}  // namespace

std::string AccountKey(std::string_view utf8) { return Casefold(utf8); }

std::string MacKey(std::string_view mac) {
    std::string hex;
    for (char c : mac) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isxdigit(u)) {
            hex += static_cast<char>(std::toupper(u));
        } else if (std::isalnum(u) || u >= 0x80) {
            return {};
        }
        // Anything else is a separator: '-', ':', '.', blanks.
    }
    if (hex.size() != 12 || hex == "000000000000" || hex == "FFFFFFFFFFFF") return {};
    return hex;
}

std::string FingerprintText(const Report& report) {
    return Casefold(report.cpuName) + "\x1f" + Casefold(report.displays) + "\x1f" + Casefold(report.computerName);
}

std::string FingerprintHash(std::string_view text) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    static const char* const hex = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < kFingerprintHashBytes / 2; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

std::string Fingerprint(const Report& report) { return FingerprintHash(FingerprintText(report)); }

std::string MachineKey(std::string_view macKey, std::string_view fingerprint) {
    return macKey.empty() ? "fp:" + std::string(fingerprint) : "mac:" + std::string(macKey);
}

}  // namespace Service::Identity
