#include "text/code_page.h"

#include <windows.h>

namespace CodePage {

bool IsSystemLeadByte(unsigned char byte) { return IsDBCSLeadByteEx(CP_ACP, byte) != FALSE; }

}  // namespace CodePage
