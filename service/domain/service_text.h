#pragma once
// Text handling for the report service: what arrives may be UTF-8 or the players' ANSI code page (GB18030
// family), and everything a player wrote ends up in HTML and CSV written for the admin.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ServiceText {

bool IsValidUtf8(std::string_view bytes);
// A report body as UTF-8: with charset=utf-8 declared, the body itself when it is valid UTF-8; otherwise the
// checker's ANSI code page, decoded as GB18030. Nothing when it is not what it is declared to be.
std::optional<std::string> DecodeReportBody(std::string_view body, bool declaredUtf8);
// Whether a Content-Type value declares charset=utf-8 (names and value in any case, the value maybe quoted).
bool DeclaresUtf8(std::string_view contentType);
// GB18030 text as UTF-8, with code page 936's one single-byte addition: 0x80 is the euro sign there, and a
// player who types € sends that byte. Nothing when the bytes are not such text.
std::optional<std::string> Gb18030ToUtf8(std::string_view bytes);
// For showing stored bodies whose content type was not kept: valid UTF-8 as it is, otherwise decoded as
// GB18030; nothing when it is neither. Never for reading a report.
std::optional<std::string> ToUtf8(std::string_view bytes);
// GB18030 bytes of UTF-8 text; nothing when the text is not valid UTF-8.
std::optional<std::string> Utf8ToGb18030(std::string_view utf8);
// Count of code points of valid UTF-8 text.
size_t CodePointCount(std::string_view utf8);

std::string HtmlEscape(std::string_view text);
// One CSV field, always quoted. Text that a spreadsheet would take for a formula gets a leading apostrophe.
std::string CsvField(std::string_view text);
std::string Trim(std::string_view text);

}  // namespace ServiceText
