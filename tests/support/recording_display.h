#pragma once
// Records what the check would show instead of opening message boxes.
#include <functional>
#include <string>
#include <vector>

#include "report/message_display.h"

class RecordingDisplay : public IMessageDisplay {
public:
    void ShowMessage(const std::u16string& text) override {
        if (onShow) onShow();
        shown.push_back(text);
    }
    std::vector<std::u16string> shown;
    std::function<void()> onShow;  // runs as each message is shown
};
