#pragma once
// Records what the check would show instead of opening message boxes, for as long as it lives.
#include <curl/curl.h>

#include <string>
#include <vector>

#include "report/curl_handles.h"
#include "report/message_display.h"

class RecordingDisplay : public IMessageDisplay {
public:
    RecordingDisplay() : m_previous(SetMessageDisplay(this)) {}
    ~RecordingDisplay() override { SetMessageDisplay(m_previous); }
    void ShowMessage(const std::u16string& text) override { shown.push_back(text); }
    std::vector<std::u16string> shown;

private:
    IMessageDisplay* m_previous;
};

// One libcurl easy handle for the length of a test.
struct CurlHandle {
    CurlEasy owner{curl_easy_init()};
    CURL* handle = owner.Get();
};
