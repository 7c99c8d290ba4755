#include "text/code_page.h"

#include "text/text_encoding.h"

namespace CodePage {

bool IsSystemLeadByte(unsigned char byte) { return IsLeadByteOf(TextEncoding::AnsiCodePage(), byte); }

}  // namespace CodePage
