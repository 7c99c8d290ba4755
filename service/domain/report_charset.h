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

}  // namespace ServiceText
