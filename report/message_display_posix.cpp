#include <cstdio>

#include "report/message_display.h"
#include "report/text_encoding.h"

namespace {

// No message boxes here: the text goes to standard error, so nothing shown is ever lost.
class StderrDisplay : public IMessageDisplay {
public:
    void ShowMessage(const std::u16string& text) override {
        std::fprintf(stderr, "[message] %s\n", TextEncoding::Utf16ToUtf8(text).c_str());
    }
};

}  // namespace

IMessageDisplay& DefaultMessageDisplay() {
    static StderrDisplay display;
    return display;
}
