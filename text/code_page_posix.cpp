#include "text/code_page.h"

namespace CodePage {

bool IsSystemLeadByte(unsigned char byte) { return IsCp936LeadByte(byte); }

}  // namespace CodePage
