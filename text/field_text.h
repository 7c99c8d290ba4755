#pragma once
// Platform text into the survey's fixed arrays, and the raw registry bytes the probes decode.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace FieldText {

// Whether a byte starts a double-byte character in the system ANSI code page.
bool IsAnsiLeadByte(unsigned char byte);

// Copies ANSI text into a fixed field, zero-filling it first. Text that does not fit is cut with the
// terminator kept, never between the two bytes of a double-byte character.
void CopyToField(char* field, size_t size, std::string_view text);
template <size_t N>
void CopyToField(char (&field)[N], std::string_view text) {
    CopyToField(field, N, text);
}

// Length of the first character of the text: 2 for a complete double-byte character, else 1.
size_t AnsiCharLength(std::string_view text);

// Registry data as text: narrow text up to its first NUL; UTF-16LE text up to its first NUL unit (an odd
// last byte is the low byte of a unit, as in a zeroed buffer).
std::string NarrowText(std::string_view bytes);
std::u16string WideText(std::string_view bytes);

// The bytes as a little-endian unsigned number (at most eight bytes are taken).
uint64_t LittleEndian(std::string_view bytes);

}  // namespace FieldText
