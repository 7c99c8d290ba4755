#include "text/field_text.h"

#include "text/text_encoding.h"

namespace FieldText {

// The lead-byte ranges of the double-byte ANSI code pages, for the native build's code-page setting.
bool IsAnsiLeadByte(unsigned char byte) {
    switch (TextEncoding::AnsiCodePage()) {
    case 932: return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    case 936:
    case 949:
    case 950: return byte >= 0x81 && byte <= 0xFE;
    default: return false;
    }
}

}  // namespace FieldText
