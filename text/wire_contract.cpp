#include "text/wire_contract.h"

#include <cstdint>
#include <limits>

namespace WireContract {

std::string EscapeText(std::string_view text, CodePage::LeadByteRule isLeadByte) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (isLeadByte(c)) {
            if (i + 1 < text.size() && CodePage::IsTrailByte(static_cast<unsigned char>(text[i + 1]))) {
                out += text[i];
                out += text[++i];
            } else {
                out += '?';
            }
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 0xF];
            } else {
                out += text[i];
            }
        }
    }
    return out;
}

std::string BuildPayload(const ReportValues& v, CodePage::LeadByteRule isLeadByte) {
    const std::string account = EscapeText(v.account, isLeadByte);
    const std::string strings[kPositionCount] = {
        account,
        account,
        EscapeText(v.macAddress, isLeadByte),
        EscapeText(v.cpuName, isLeadByte),
        {},
        {},
        EscapeText(v.memoryMB, isLeadByte),
        EscapeText(v.displayList, isLeadByte),
        EscapeText(v.resolution, isLeadByte),
        EscapeText(v.osText, isLeadByte),
        EscapeText(v.computerName, isLeadByte),
        {},
        {},
        {},
    };
    std::string out = "{\"param\":[";
    for (size_t i = 0; i < kPositionCount; ++i) {
        if (i) out += ',';
        if (TypeAt(i) == JsonType::Integer) {
            out += std::to_string(i == kCpuCount ? v.cpuCount : v.clockMHz);
        } else {
            out += '"';
            out += strings[i];
            out += '"';
        }
    }
    out += "]}";
    return out;
}

size_t CharacterCount(std::string_view utf8) {
    size_t count = 0;
    for (size_t i = 0; i < utf8.size(); ++count) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        const size_t length = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 1;
        size_t taken = 1;
        while (taken < length && i + taken < utf8.size() && (static_cast<unsigned char>(utf8[i + taken]) & 0xC0) == 0x80)
            ++taken;
        i += taken == length ? length : 1;
    }
    return count;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "%d" or "%u" of a number in [min, max]: an optional minus, digits, no leading zero, no "-0".
bool IsDecimal(std::string_view text, int64_t min, int64_t max) {
    const bool negative = !text.empty() && text[0] == '-';
    const std::string_view digits = negative ? text.substr(1) : text;
    if (digits.empty() || digits.size() > 10 || (digits.size() > 1 && digits[0] == '0')) return false;
    int64_t value = 0;
    for (char c : digits) {
        if (!IsDigit(c)) return false;
        value = value * 10 + (c - '0');
    }
    if (negative && value == 0) return false;
    value = negative ? -value : value;
    return value >= min && value <= max;
}

constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

bool IsMacAddress(std::string_view text) {
    for (char c : text) {
        const bool hex = IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex && c != '-' && c != ':' && c != '.' && c != ' ') return false;
    }
    return true;
}

// "chip;name;MB;0". A ';' inside the chip or the name is the driver's text, so the item is read from the
// right, and the chip and name must fit their limits at one of the ';' left.
bool IsDisplayItem(std::string_view item) {
    if (item.size() < 2 || item.substr(item.size() - 2) != ";0") return false;
    const std::string_view rest = item.substr(0, item.size() - 2);
    const size_t mb = rest.rfind(';');
    if (mb == std::string_view::npos || !IsDecimal(rest.substr(mb + 1), kInt32Min, kInt32Max)) return false;
    const std::string_view texts = rest.substr(0, mb);
    if (CharacterCount(texts) > 2 * kMaxDisplayTextChars + 1) return false;
    for (size_t at = texts.find(';'); at != std::string_view::npos; at = texts.find(';', at + 1))
        if (CharacterCount(texts.substr(0, at)) <= kMaxDisplayTextChars &&
            CharacterCount(texts.substr(at + 1)) <= kMaxDisplayTextChars)
            return true;
    return false;
}

bool IsDisplayList(std::string_view list) {
    if (list.empty()) return true;
    size_t items = 0;
    for (size_t start = 0;;) {
        const size_t end = list.find('|', start);
        if (++items > kMaxDisplayItems) return false;
        if (!IsDisplayItem(list.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start)))
            return false;
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

bool IsResolution(std::string_view text) {
    const size_t x = text.find(" x ");
    return x != std::string_view::npos && IsDecimal(text.substr(0, x), kInt32Min, kInt32Max) &&
           IsDecimal(text.substr(x + 3), kInt32Min, kInt32Max);
}

bool IsOsText(std::string_view text) {
    constexpr std::string_view k64 = " 64-Bit", k32 = " 32-Bit";
    if (text.size() < k64.size()) return false;
    const std::string_view suffix = text.substr(text.size() - k64.size());
    return (suffix == k64 || suffix == k32) &&
           CharacterCount(text.substr(0, text.size() - k64.size())) <= kMaxOsNameChars;
}

bool HasFormat(Format format, std::string_view text) {
    switch (format) {
    case Format::Text: return true;
    case Format::MacAddress: return IsMacAddress(text);
    case Format::Int16: return false;  // never a string
    case Format::Unsigned32: return text.empty() || IsDecimal(text, 0, std::numeric_limits<uint32_t>::max());
    case Format::DisplayList: return IsDisplayList(text);
    case Format::Resolution: return IsResolution(text);
    case Format::OsText: return IsOsText(text);
    case Format::Empty: return text.empty();
    }
    return false;
}

}  // namespace

std::string FieldProblem(size_t position, std::string_view utf8) {
    const FieldLimit& limit = kLimits[position];
    // The length first: every format check below then walks a bounded text.
    if (CharacterCount(utf8) > limit.maxChars)
        return "element " + std::to_string(position) + " is longer than the checker sends";
    if (!HasFormat(limit.format, utf8))
        return "element " + std::to_string(position) + " is not in the checker's format";
    return {};
}

namespace {

// A recursive-descent reader over exactly the shape above; anything else is refused with the reason.
class Reader {
public:
    explicit Reader(std::string_view text) : m_text(text) {}

    ParsedPayload Read() {
        ParsedPayload result;
        if (!ReadDocument(result.elements)) {
            result.error = m_error.empty() ? "not JSON" : m_error;
            return result;
        }
        result.ok = true;
        return result;
    }

private:
    bool Fail(std::string why) {
        if (m_error.empty()) m_error = std::move(why);
        return false;
    }

    void SkipBlanks() {
        while (m_at < m_text.size() &&
               (m_text[m_at] == ' ' || m_text[m_at] == '\t' || m_text[m_at] == '\n' || m_text[m_at] == '\r'))
            ++m_at;
    }

    bool Take(char c) {
        SkipBlanks();
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }

    char Peek() {
        SkipBlanks();
        return m_at < m_text.size() ? m_text[m_at] : '\0';
    }

    bool ReadDocument(Elements& elements) {
        if (!Take('{')) return Fail("not an object with the one key param");
        std::string key;
        if (Peek() != '"' || !ReadString(key)) return Fail("not an object with the one key param");
        if (key != "param") return Fail("not an object with the one key param");
        if (!Take(':')) return Fail("not JSON");
        if (!Take('[')) return Fail("param is not an array of 14 elements");
        for (size_t i = 0; i < kPositionCount; ++i) {
            if (i > 0 && !Take(',')) return Fail("param is not an array of 14 elements");
            if (!ReadElement(i, elements[i])) return false;
        }
        if (!Take(']')) return Fail("param is not an array of 14 elements");
        if (!Take('}')) return Fail("not an object with the one key param");
        SkipBlanks();
        if (m_at != m_text.size()) return Fail("text after the object");
        return true;
    }

    bool ReadElement(size_t index, Element& element) {
        const char next = Peek();
        if (TypeAt(index) == JsonType::String) {
            if (next != '"') return Fail("element " + std::to_string(index) + " is not a string");
            if (!ReadString(element.text)) return false;
            const std::string problem = FieldProblem(index, element.text);
            return problem.empty() || Fail(problem);
        }
        if (next != '-' && (next < '0' || next > '9'))
            return Fail("element " + std::to_string(index) + " is not an integer");
        if (!ReadInteger(index, element.number)) return false;
        // The survey's fields are 16-bit: the checker cannot send anything wider.
        if (element.number < std::numeric_limits<int16_t>::min() || element.number > std::numeric_limits<int16_t>::max())
            return Fail("element " + std::to_string(index) + " is out of range");
        return true;
    }

    bool ReadInteger(size_t index, int64_t& value) {
        const bool negative = m_text[m_at] == '-';
        if (negative) ++m_at;
        const size_t digits = m_at;
        uint64_t magnitude = 0;
        const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1
                                        : uint64_t(std::numeric_limits<int64_t>::max());
        bool overflow = false;
        while (m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9') {
            const unsigned d = static_cast<unsigned>(m_text[m_at] - '0');
            if (magnitude > (limit - d) / 10) overflow = true;
            else magnitude = magnitude * 10 + d;
            ++m_at;
        }
        const size_t count = m_at - digits;
        if (count == 0 || (count > 1 && m_text[digits] == '0')) return Fail("not JSON");
        if (m_at < m_text.size() && (m_text[m_at] == '.' || m_text[m_at] == 'e' || m_text[m_at] == 'E'))
            return Fail("element " + std::to_string(index) + " is not an integer");
        if (overflow) return Fail("element " + std::to_string(index) + " is out of range");
        value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
        return true;
    }

    bool ReadHex4(uint32_t& value) {
        if (m_text.size() - m_at < 4) return false;
        value = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = m_text[m_at++];
            value <<= 4;
            if (c >= '0' && c <= '9') value |= static_cast<uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f') value |= static_cast<uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') value |= static_cast<uint32_t>(c - 'A' + 10);
            else return false;
        }
        return true;
    }

    static void AppendUtf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    // At the opening quote.
    bool ReadString(std::string& out) {
        ++m_at;
        while (m_at < m_text.size()) {
            const unsigned char c = static_cast<unsigned char>(m_text[m_at++]);
            if (c == '"') return true;
            if (c < 0x20) return Fail("a control character inside a string");
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (m_at >= m_text.size()) break;
            switch (m_text[m_at++]) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t cp = 0;
                if (!ReadHex4(cp)) return Fail("a bad \\u escape");
                if (cp >= 0xDC00 && cp <= 0xDFFF) return Fail("a lone surrogate");
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    uint32_t low = 0;
                    if (m_text.size() - m_at < 2 || m_text[m_at] != '\\' || m_text[m_at + 1] != 'u')
                        return Fail("a lone surrogate");
                    m_at += 2;
                    if (!ReadHex4(low) || low < 0xDC00 || low > 0xDFFF) return Fail("a lone surrogate");
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                AppendUtf8(out, cp);
                break;
            }
            default: return Fail("a bad escape");
            }
        }
        return Fail("a string without its end");
    }

    std::string_view m_text;
    size_t m_at = 0;
    std::string m_error;
};

}  // namespace

ParsedPayload ParsePayload(std::string_view utf8) { return Reader(utf8).Read(); }

std::string BuildReply(ReplyCode code, std::string_view messageUtf8, int points) {
    std::string out = "{\"code\":" + std::to_string(static_cast<int>(code));
    if (points >= 0) out += ",\"points\":" + std::to_string(points);
    out += ",";
    out += kMessageKey;
    // UTF-8 has no lead bytes in the double-byte sense: every byte of 0x80 and above goes out as it is.
    out += EscapeText(messageUtf8, [](unsigned char) { return false; });
    out += kReplyEnd;
    return out;
}

}  // namespace WireContract
