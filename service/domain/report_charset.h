#pragma once
// Which table a report body is read by: the charset its Content-Type declares (the names of
// text/charset.h), or code page 936's, decoded as GB18030, when it declares none. Nothing is guessed from
// the bytes.
#include <optional>
#include <string>
#include <string_view>

#include "text/charset.h"

namespace ServiceText {

// The charset parameter of a Content-Type value (names and value in any case, the value maybe quoted);
// nothing when there is none.
std::optional<std::string> CharsetParameter(std::string_view contentType);

struct BodyCharset {
    bool supported = true;                       // false: a charset was named that the table lacks
    const Charset::CodePageName* table = nullptr;  // null: none declared
    std::string declared;                        // the name as sent, cut to 40 bytes, for the log
};
BodyCharset ReadBodyCharset(std::string_view contentType);

// A report body as UTF-8 by its charset: null reads code page 936 as GB18030 (with its single-byte euro
// sign); UTF-8 must be valid UTF-8; every other table refuses bytes that are not valid in it. Nothing when
// the body is not what it is declared to be.
std::optional<std::string> DecodeBody(std::string_view body, const Charset::CodePageName* charset);

// The code page a body is kept with: its charset's, or 936 when none was declared.
unsigned CodePageOf(const Charset::CodePageName* charset);
// A stored body as UTF-8 for the export, by the table its parse used (CodePageOf), never by a guess: a GBK
// body whose bytes happen to be valid UTF-8 is still shown as GBK. 0, a body stored before the table was
// kept, is shown as UTF-8 when valid and otherwise as GB18030, as it always was. Nothing when the bytes
// are not valid in their table.
std::optional<std::string> ExportedBody(std::string_view body, unsigned codePage);

}  // namespace ServiceText
