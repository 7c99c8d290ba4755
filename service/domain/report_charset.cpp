#include "service/domain/report_charset.h"

#include <algorithm>
#include <array>
#include <map>
#include <mutex>

#include "service/domain/service_text.h"
#include "text/code_page.h"

namespace ServiceText {

namespace {

// Which single bytes (not lead bytes) iconv's table reads as a character, worked out once per table.
const std::array<bool, 256>& DefinedBytes(const Charset::CodePageName& charset) {
    static std::mutex lock;
    static std::map<unsigned, std::array<bool, 256>> tables;
    std::lock_guard<std::mutex> hold(lock);
    auto [it, fresh] = tables.try_emplace(charset.codePage);
    if (fresh)
        for (int b = 0; b < 256; ++b)
            it->second[b] = FromTable(std::string(1, static_cast<char>(b)), std::string(charset.iconvName).c_str()).has_value();
    return it->second;
}

// Windows reads a single byte from 0x80 to 0x9F that its table leaves undefined as the C1 control of the
// same number (0x81 of 1252, 0x80 of 932), and the checker carries that character; iconv refuses the byte.
// The body is walked by characters (a lead byte takes the next byte with it), and the runs between such
// bytes go to iconv whole, so a stateful table (1255, 1258) still joins letter and mark.
std::optional<std::string> FromWindowsTable(std::string_view body, const Charset::CodePageName& charset) {
    const std::array<bool, 256>& defined = DefinedBytes(charset);
    const std::string table(charset.iconvName);
    std::string out;
    size_t run = 0;
    size_t i = 0;
    while (true) {
        while (i < body.size()) {
            const unsigned char c = static_cast<unsigned char>(body[i]);
            if (CodePage::IsLeadByteOf(charset.codePage, c)) i += 2;
            else if (defined[c] || c < 0x80 || c > 0x9F) ++i;
            else break;
        }
        i = std::min(i, body.size());
        if (i > run) {
            auto text = FromTable(body.substr(run, i - run), table.c_str());
            if (!text) return std::nullopt;
            out += *text;
        }
        if (i == body.size()) return out;
        out += static_cast<char>(0xC2);
        out += body[i];
        run = ++i;
    }
}

}  // namespace

std::optional<std::string> CharsetParameter(std::string_view contentType) {
    auto lower = [](std::string text) {
        for (char& c : text)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return text;
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
            return value;
        }
        start = end;
    }
    return std::nullopt;
}

BodyCharset ReadBodyCharset(std::string_view contentType) {
    BodyCharset charset;
    const auto name = CharsetParameter(contentType);
    if (!name) return charset;
    charset.declared = name->substr(0, 40);
    charset.table = Charset::ForName(*name);
    charset.supported = charset.table != nullptr;
    return charset;
}

std::optional<std::string> DecodeBody(std::string_view body, const Charset::CodePageName* charset) {
    if (!charset || charset->codePage == 936) return Gb18030ToUtf8(body);
    if (charset->codePage == Charset::kUtf8) {
        if (!IsValidUtf8(body)) return std::nullopt;
        return std::string(body);
    }
    auto text = FromWindowsTable(body, *charset);
    if (!text || !IsValidUtf8(*text)) return std::nullopt;
    return text;
}

unsigned CodePageOf(const Charset::CodePageName* charset) { return charset ? charset->codePage : 936; }

std::optional<std::string> ExportedBody(std::string_view body, unsigned codePage) {
    if (codePage == 0) return ToUtf8(body);
    const Charset::CodePageName* charset = codePage == 936 ? nullptr : Charset::ForCodePage(codePage);
    if (codePage != 936 && !charset) return std::nullopt;
    return DecodeBody(body, charset);
}

}  // namespace ServiceText
