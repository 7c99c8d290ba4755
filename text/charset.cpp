#include "text/charset.h"

#include <cctype>

namespace Charset {

// The names are the ones IANA registers and browsers send; where Windows' table is a superset of the
// registered one (932 of Shift_JIS, 949 of EUC-KR, 950 of Big5) the service decodes with Windows' table,
// as browsers do, because that is what the checker's bytes are.
const CodePageName kAnsiCodePages[] = {
    {874, "windows-874", "CP874"},       {932, "Shift_JIS", "CP932"},       {936, "GBK", "GB18030"},
    {949, "EUC-KR", "CP949"},            {950, "Big5", "CP950"},            {1250, "windows-1250", "CP1250"},
    {1251, "windows-1251", "CP1251"},    {1252, "windows-1252", "CP1252"},  {1253, "windows-1253", "CP1253"},
    {1254, "windows-1254", "CP1254"},    {1255, "windows-1255", "CP1255"},  {1256, "windows-1256", "CP1256"},
    {1257, "windows-1257", "CP1257"},    {1258, "windows-1258", "CP1258"},  {kUtf8, "UTF-8", "UTF-8"},
};
const size_t kAnsiCodePageCount = sizeof kAnsiCodePages / sizeof kAnsiCodePages[0];

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Other spellings of the same tables.
const struct {
    std::string_view alias;
    unsigned codePage;
} kAliases[] = {
    {"gb2312", 936},          {"gb18030", 936},     {"x-gbk", 936},          {"euc-cn", 936},
    {"ms936", 936},           {"sjis", 932},        {"shift-jis", 932},      {"x-sjis", 932},
    {"windows-31j", 932},     {"ms932", 932},       {"ms_kanji", 932},       {"ks_c_5601-1987", 949},
    {"uhc", 949},             {"ms949", 949},       {"x-windows-949", 949},  {"big-5", 950},
    {"x-big5", 950},          {"cn-big5", 950},     {"ms950", 950},          {"x-windows-950", 950},
    {"tis-620", 874},         {"iso-8859-11", 874}, {"x-windows-874", 874},  {"latin1", 1252},
    {"iso-8859-1", 1252},     {"utf8", kUtf8},
};

// "cp1252", "windows-1252", "x-cp1252": a number after a prefix.
unsigned NumberedCodePage(std::string_view name) {
    for (std::string_view prefix : {"x-cp", "cp", "windows-", "ms-"}) {
        if (name.substr(0, prefix.size()) != prefix) continue;
        const std::string_view digits = name.substr(prefix.size());
        if (digits.empty() || digits.size() > 5) return 0;
        unsigned value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return 0;
            value = value * 10 + static_cast<unsigned>(c - '0');
        }
        return value;
    }
    return 0;
}

}  // namespace

const CodePageName* ForCodePage(unsigned codePage) {
    for (const CodePageName& entry : kAnsiCodePages)
        if (entry.codePage == codePage) return &entry;
    return nullptr;
}

std::string DeclaredName(unsigned codePage) {
    if (codePage == 936) return {};
    const CodePageName* entry = ForCodePage(codePage);
    return entry ? std::string(entry->name) : "CP" + std::to_string(codePage);
}

std::string ContentTypeLine(unsigned codePage) {
    const std::string name = DeclaredName(codePage);
    std::string line = "Content-Type: Application/json";
    if (!name.empty()) line += "; charset=" + name;
    return line;
}

const CodePageName* ForName(std::string_view name) {
    const std::string lower = Lower(name);
    for (const CodePageName& entry : kAnsiCodePages)
        if (Lower(entry.name) == lower) return &entry;
    for (const auto& alias : kAliases)
        if (alias.alias == lower) return ForCodePage(alias.codePage);
    return ForCodePage(NumberedCodePage(lower));
}

}  // namespace Charset
