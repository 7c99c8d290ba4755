#pragma once
// The report as it travels from the checker to the report service, written down once for both sides:
//
//   {"param":["account","account","MAC","CPU name",4,2993,"8192","chip;name;MB;0|…","1920 x 1080",
//             "OS text","computer name","","",""]}
//
// fourteen elements read by position, integers at 4 and 5 and strings everywhere else, in the checker's
// ANSI code page. The reply is a JSON object whose last member is "message".
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "text/code_page.h"

namespace WireContract {

enum Position : size_t {
    kAccount,
    kAccountAgain,  // the same account: the service refuses a report whose two differ
    kMacAddress,
    kCpuName,
    kCpuCount,  // integer
    kClockMHz,  // integer
    kMemoryMB,  // decimal text
    kDisplayList,
    kResolution,
    kOsText,
    kComputerName,
    kSpare1,  // always empty
    kSpare2,
    kSpare3,
    kPositionCount
};

enum class JsonType { String, Integer };

constexpr JsonType TypeAt(size_t position) {
    return position == kCpuCount || position == kClockMHz ? JsonType::Integer : JsonType::String;
}

// The largest values the checker can produce, from its own fixed buffers. Text limits count characters:
// every character takes at least one byte of a buffer, so a field of N bytes holds at most N characters in
// any code page. A report past any of them was not written by the checker and is refused as malformed.
constexpr size_t kMaxAccountChars = 64;       // the account boxes take 64 characters
constexpr size_t kMaxMacChars = 63;           // a 64-byte field; "%02X-" per byte of the address
constexpr size_t kMaxCpuNameChars = 48;       // the processor's 48-byte brand string
constexpr size_t kMaxDisplayItems = 10;       // the survey keeps at most ten adapters
constexpr size_t kMaxDisplayTextChars = 64;   // chip and name are each read as at most 64 UTF-16 units
constexpr size_t kMaxOsNameChars = 127;       // "ProductName" in a 128-byte field
constexpr size_t kMaxComputerNameChars = 15;  // the NetBIOS name

// How a position is written by the checker.
enum class Format {
    Text,         // any text, at most maxChars characters
    MacAddress,   // hex digits and the separators '-', ':', '.', ' '; empty when the machine has none
    Int16,        // a JSON integer the checker's 16-bit field can hold
    Unsigned32,   // "%u" of a 32-bit number: digits without a leading zero, or empty (nothing measured)
    DisplayList,  // at most ten items "chip;name;MB;0" joined by '|', MB as "%d" of a 32-bit number
    Resolution,   // "%d x %d"
    OsText,       // "%s %d-Bit": the product name, a blank, 32 or 64, "-Bit"
    Empty,        // the spare positions
};

struct FieldLimit {
    Format format;
    size_t maxChars;  // the whole element, in characters (for Int16: none)
};

// 10 items of 64 + 1 + 64 characters, ";", an 11-character number and ";0", with 9 separators.
constexpr size_t kMaxDisplayListChars = kMaxDisplayItems * (2 * kMaxDisplayTextChars + 1 + 1 + 11 + 2) + 9;

constexpr FieldLimit kLimits[kPositionCount] = {
    {Format::Text, kMaxAccountChars},
    {Format::Text, kMaxAccountChars},
    {Format::MacAddress, kMaxMacChars},
    {Format::Text, kMaxCpuNameChars},
    {Format::Int16, 0},
    {Format::Int16, 0},
    {Format::Unsigned32, 10},
    {Format::DisplayList, kMaxDisplayListChars},
    {Format::Resolution, 11 + 3 + 11},
    {Format::OsText, kMaxOsNameChars + 7},
    {Format::Text, kMaxComputerNameChars},
    {Format::Empty, 0},
    {Format::Empty, 0},
    {Format::Empty, 0},
};

// Characters of UTF-8 text; a byte that begins no valid sequence counts as one.
size_t CharacterCount(std::string_view utf8);

// Why a string read at `position` is not what the checker writes there; empty when it is.
std::string FieldProblem(size_t position, std::string_view utf8);

// What the checker reports; texts in its ANSI code page.
struct ReportValues {
    std::string account;
    std::string macAddress;
    std::string cpuName;
    int64_t cpuCount = 0;
    int64_t clockMHz = 0;
    std::string memoryMB;
    std::string displayList;
    std::string resolution;
    std::string osText;
    std::string computerName;
};

// The body of a JSON string for code-page text. `"`, `\` and control characters are escaped; a lead byte
// and the byte after it are copied together unexamined, so the second byte of a double-byte character is
// never taken for a backslash or a quote. A lead byte with no valid second byte after it (the text's end,
// or a byte below 0x40) is no character of any code page and goes out as '?'. Every other byte goes out
// unchanged. The result is JSON in the code page for every input.
std::string EscapeText(std::string_view text, CodePage::LeadByteRule isLeadByte = CodePage::IsSystemLeadByte);

// The whole report, byte for byte what the service expects.
std::string BuildPayload(const ReportValues& values,
                         CodePage::LeadByteRule isLeadByte = CodePage::IsSystemLeadByte);

// One element as read back: `text` for the string positions (UTF-8), `number` for the integer ones.
struct Element {
    std::string text;
    int64_t number = 0;
};
using Elements = std::array<Element, kPositionCount>;

struct ParsedPayload {
    bool ok = false;
    Elements elements;
    std::string error;  // why it was refused, for the log; empty on success
};

// Reads a payload already decoded to UTF-8: strict JSON (RFC 8259), one object with the one member "param",
// an array of exactly fourteen elements of the types above, each within its limit (kLimits). Integers are
// whole numbers in the 16-bit signed range written without fraction or exponent. Strings come back
// unescaped, \u escapes as UTF-8 (a lone surrogate is refused); raw bytes of 0x80 and above are taken as
// they are.
ParsedPayload ParsePayload(std::string_view utf8);

// The reply's code: what the service decided, as the checker's side may tell it apart from the message.
enum class ReplyCode : int {
    Success = 0,
    AccountUsed = 1,
    MachineUsed = 2,
    Malformed = 3,  // also too large, compressed, or a wrong method
    NotRegistered = 4,
    Unavailable = 5,  // the service is busy or timed out: nothing was stored
    TooMany = 6,
    AddressLimit = 7,  // the address has enrolled as many machines today as it may
};

// The reply: {"code":N[,"points":P],"message":"…"} with the message last, as the checker reads it.
constexpr std::string_view kMessageKey = "\"message\":\"";
constexpr std::string_view kReplyEnd = "\"}";
std::string BuildReply(ReplyCode code, std::string_view messageUtf8, int points = -1);

}  // namespace WireContract
