// The escaping of what players wrote for the admin's pages and export, over any bytes: the HTML text has no
// markup character left and unescapes to the original; the CSV field is one quoted field that a reader
// takes back to the original (after the apostrophe that defuses a formula).
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "service/domain/service_text.h"

namespace {

std::string HtmlUnescape(const std::string& html) {
    static const std::pair<const char*, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
    std::string out;
    for (size_t i = 0; i < html.size();) {
        if (html[i] != '&') {
            out += html[i++];
            continue;
        }
        bool known = false;
        for (const auto& [entity, c] : kEntities) {
            const std::string e(entity);
            if (html.compare(i, e.size(), e) == 0) {
                out += c;
                i += e.size();
                known = true;
                break;
            }
        }
        FUZZ_CHECK(known);  // every '&' left is the start of an entity
    }
    return out;
}

// One RFC 4180 field that must be quoted and must span the whole text.
std::string CsvRead(const std::string& field) {
    FUZZ_CHECK(field.size() >= 2 && field.front() == '"' && field.back() == '"');
    std::string out;
    for (size_t i = 1; i + 1 < field.size(); ++i) {
        if (field[i] == '"') {
            FUZZ_CHECK(i + 2 < field.size() && field[i + 1] == '"');  // no quote ends the field early
            ++i;
        }
        out += field[i];
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    const std::string html = ServiceText::HtmlEscape(text);
    FUZZ_CHECK(html.find_first_of("<>\"'") == std::string::npos);
    FUZZ_CHECK(HtmlUnescape(html) == text);

    const std::string csv = ServiceText::CsvField(text);
    const std::string read = CsvRead(csv);
    const bool formula = !text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos;
    FUZZ_CHECK(read == (formula ? "'" + text : text));
    return 0;
}
