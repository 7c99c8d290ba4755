#pragma once
// Where the check's messages go: a modal OK box in the program, a recorder in tests.
#include <string>

class IMessageDisplay {
public:
    virtual ~IMessageDisplay() = default;
    // Returns when the user has closed the message.
    virtual void ShowMessage(const std::u16string& text) = 0;
};

// Replaces the process's message display (null restores the default one) and returns the previous one.
IMessageDisplay* SetMessageDisplay(IMessageDisplay* display);
void ShowMessage(const std::u16string& text);
