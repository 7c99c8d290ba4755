#include "report/message_display.h"

// The platform's own display, defined in the platform twin.
IMessageDisplay& DefaultMessageDisplay();

namespace {
IMessageDisplay* g_display = nullptr;
}

IMessageDisplay* SetMessageDisplay(IMessageDisplay* display) {
    IMessageDisplay* previous = g_display;
    g_display = display;
    return previous;
}

void ShowMessage(const std::u16string& text) {
    (g_display ? *g_display : DefaultMessageDisplay()).ShowMessage(text);
}
