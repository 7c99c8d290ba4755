#include <windows.h>

#include <string>

#include "report/message_display.h"

namespace {

// The check's boxes: OK only, exclamation icon, the executable's name without extension as caption.
class MessageBoxDisplay : public IMessageDisplay {
public:
    void ShowMessage(const std::u16string& text) override {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring caption(path);
        const size_t slash = caption.find_last_of(L"\\/");
        if (slash != std::wstring::npos) caption.erase(0, slash + 1);
        const size_t dot = caption.rfind(L'.');
        if (dot != std::wstring::npos) caption.erase(dot);
        MessageBoxW(GetActiveWindow(), reinterpret_cast<const wchar_t*>(text.c_str()), caption.c_str(),
                    MB_OK | MB_ICONEXCLAMATION);
    }
};

}  // namespace

IMessageDisplay& DefaultMessageDisplay() {
    static MessageBoxDisplay display;
    return display;
}
