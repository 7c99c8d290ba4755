#include <string>

#include "framework/app.h"
#include "report/message_display.h"

void MessageBoxDisplay::ShowMessage(const std::u16string& text) {
    AfxMessageBox(reinterpret_cast<const wchar_t*>(text.c_str()));
}
