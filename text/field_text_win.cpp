#include "text/field_text.h"

#include <windows.h>

namespace FieldText {

bool IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

}  // namespace FieldText
