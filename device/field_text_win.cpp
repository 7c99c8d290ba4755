#include "device/field_text.h"

#include <windows.h>

namespace Device {

bool IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

}  // namespace Device
