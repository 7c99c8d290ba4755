#include "service/domain/service_text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace ServiceText {

bool IsValidUtf8(std::string_view bytes) {
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len = 0;
        unsigned cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            const unsigned char cc = static_cast<unsigned char>(bytes[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF.
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

namespace {

std::optional<std::string> Convert(const char* to, const char* from, std::string_view bytes) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out;
    std::vector<char> buffer(bytes.size() * 4 + 16);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    bool ok = true;
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        size_t outLeft = buffer.size();
        const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            ok = false;
            break;
        }
    }
    if (ok) {
        char* outPtr = buffer.data();
        size_t outLeft = buffer.size();
        if (iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) ok = false;
        out.append(buffer.data(), buffer.size() - outLeft);
    }
    iconv_close(cd);
    if (!ok) return std::nullopt;
    return out;
}

}  // namespace

std::optional<std::string> Gb18030ToUtf8(std::string_view bytes) {
    // Walks the characters to find a 0x80 that stands alone (as a second byte it belongs to its pair), and
    // gives it GB18030's own bytes for the euro sign.
    std::string gb;
    const std::string_view euro = "\xA2\xE3";
    size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        size_t length = 1;
        if (c >= 0x81 && c <= 0xFE) {
            const bool fourBytes = i + 1 < bytes.size() && bytes[i + 1] >= '0' && bytes[i + 1] <= '9';
            length = std::min(bytes.size() - i, size_t(fourBytes ? 4 : 2));
        }
        if (c == 0x80) gb += euro;
        else gb.append(bytes.substr(i, length));
        i += length;
    }
    auto text = Convert("UTF-8", "GB18030", gb);
    if (!text || !IsValidUtf8(*text)) return std::nullopt;
    return text;
}

std::optional<std::string> DecodeReportBody(std::string_view body, bool declaredUtf8) {
    if (declaredUtf8) {
        if (!IsValidUtf8(body)) return std::nullopt;
        return std::string(body);
    }
    return Gb18030ToUtf8(body);
}

bool DeclaresUtf8(std::string_view contentType) {
    auto lower = [](std::string_view text) {
        std::string out(text);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    };
    size_t start = contentType.find(';');
    while (start != std::string_view::npos) {
        const size_t end = contentType.find(';', start + 1);
        const std::string_view parameter =
            contentType.substr(start + 1, end == std::string_view::npos ? std::string_view::npos : end - start - 1);
        const size_t equals = parameter.find('=');
        if (equals != std::string_view::npos && lower(Trim(parameter.substr(0, equals))) == "charset") {
            std::string value = Trim(parameter.substr(equals + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
            return lower(value) == "utf-8";
        }
        start = end;
    }
    return false;
}

std::optional<std::string> ToUtf8(std::string_view bytes) {
    if (IsValidUtf8(bytes)) return std::string(bytes);
    return Gb18030ToUtf8(bytes);
}

std::optional<std::string> Utf8ToGb18030(std::string_view utf8) {
    if (!IsValidUtf8(utf8)) return std::nullopt;
    return Convert("GB18030", "UTF-8", utf8);
}

size_t CodePointCount(std::string_view utf8) {
    size_t count = 0;
    for (char c : utf8)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string CsvField(std::string_view text) {
    std::string out = "\"";
    if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' ||
                          text[0] == '\t' || text[0] == '\r'))
        out += '\'';
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string Trim(std::string_view text) {
    const char* blanks = " \t\r\n\v\f";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(blanks);
    return std::string(text.substr(first, last - first + 1));
}

}  // namespace ServiceText
