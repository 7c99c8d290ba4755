#include <string>

#include "framework/app.h"
#include "report/message_display.h"

namespace {

// The check's boxes are the framework's: OK only, exclamation icon, the application's name as caption.
class MessageBoxDisplay : public IMessageDisplay {
public:
    void ShowMessage(const std::u16string& text) override {
        AfxMessageBox(reinterpret_cast<const wchar_t*>(text.c_str()));
    }
};

}  // namespace

IMessageDisplay& DefaultMessageDisplay() {
    static MessageBoxDisplay display;
    return display;
}
