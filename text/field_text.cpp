#include "text/field_text.h"

#include <cstring>

namespace FieldText {

size_t AnsiCharLength(std::string_view text) {
    return text.size() >= 2 && IsAnsiLeadByte(static_cast<unsigned char>(text[0])) ? 2 : 1;
}

void CopyToField(char* field, size_t size, std::string_view text) {
    std::memset(field, 0, size);
    if (size == 0) return;
    size_t length = 0;
    while (length < text.size()) {
        const size_t next = length + AnsiCharLength(text.substr(length));
        if (next > size - 1) break;
        length = next;
    }
    std::memcpy(field, text.data(), length);
}

std::string NarrowText(std::string_view bytes) {
    return std::string(bytes.substr(0, bytes.find('\0')));
}

std::u16string WideText(std::string_view bytes) {
    std::u16string text;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        const unsigned low = static_cast<unsigned char>(bytes[i]);
        const unsigned high = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
        const char16_t unit = static_cast<char16_t>(low | (high << 8));
        if (unit == 0) break;
        text += unit;
    }
    return text;
}

uint64_t LittleEndian(std::string_view bytes) {
    uint64_t value = 0;
    const size_t n = bytes.size() < 8 ? bytes.size() : 8;
    for (size_t i = 0; i < n; ++i) value |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return value;
}

}  // namespace FieldText
