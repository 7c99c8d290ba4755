#pragma once
// Where the check's messages go: a modal OK box in the program, a recorder in tests. The check is given
// one; there is no process-wide display.
#include <string>

class IMessageDisplay {
public:
    virtual ~IMessageDisplay() = default;
    // Returns when the user has closed the message.
    virtual void ShowMessage(const std::u16string& text) = 0;
};

#ifdef _WIN32
// The framework's box: OK only, exclamation icon, the application's name as caption.
class MessageBoxDisplay : public IMessageDisplay {
public:
    void ShowMessage(const std::u16string& text) override;
};
#endif
