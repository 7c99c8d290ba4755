#pragma once
// The ANSI code pages Windows ships and the charset names a report declares them by, written down once for
// the checker (which declares its code page) and the report service (which decodes what was declared).
//
// Code page 936 declares nothing: its two headers stay as every checker has always sent them, and a body
// without a charset is read as GB18030. Every other code page is named in the Content-Type, so a body from
// a Traditional Chinese, Japanese, Korean or Western Windows is read by its own table, never as GB18030.
#include <cstddef>
#include <string>
#include <string_view>

namespace Charset {

struct CodePageName {
    unsigned codePage;
    std::string_view name;       // the registered name the checker declares
    std::string_view iconvName;  // the table the service decodes it with
};

// Every ANSI code page of Windows, 936 and 65001 included.
extern const CodePageName kAnsiCodePages[];
extern const size_t kAnsiCodePageCount;

constexpr unsigned kUtf8 = 65001;

// The entry of a code page; null for a code page Windows does not use as its ANSI code page.
const CodePageName* ForCodePage(unsigned codePage);

// The charset a report in this code page declares: empty on 936; "CPnnnn" for a code page outside the
// table, which the service then refuses by name instead of reading it as something else.
std::string DeclaredName(unsigned codePage);

// The Content-Type header line of a report: "Content-Type: Application/json" on 936, with
// "; charset=NAME" after it on every other code page.
std::string ContentTypeLine(unsigned codePage);

// A UTF-16 unit of a private-use character (U+E000–U+F8FF, or the high surrogate of planes 15 and 16).
// The code pages' user-defined areas map to these: such a character looks like something only with the
// player's own font, so nobody else can read it as what was typed, and no table outside Windows has them.
constexpr bool IsPrivateUse(char16_t unit) { return (unit >= 0xE000 && unit <= 0xF8FF) || (unit >= 0xDB80 && unit <= 0xDBFF); }

// A declared charset name, in any case, with the aliases browsers and libraries write for the same tables
// (GBK, gb2312, cp950, windows-31j, ks_c_5601-1987, latin1, utf8 …): its entry, or null when it names
// nothing in the table.
const CodePageName* ForName(std::string_view name);

}  // namespace Charset
