#pragma once
// Posting the report and showing the service's answer, over libcurl's easy interface.
#include <curl/curl.h>

#include <string>

// Built in: the report service and the registration page (CMake cache variables ZORV_REPORT_HOST and
// ZORV_REGISTER_HOST).
const char* ReportUrl();
const wchar_t* RegisterUrl();

// A silent service must not freeze the window forever: bounds on connecting and on the whole transfer.
struct TransferBounds {
    long connectSeconds = 10;
    long totalSeconds = 30;
};

// Posts the payload and returns libcurl's result. Only the first block of the reply is read: it is shown,
// and the transfer then ends with CURLE_WRITE_ERROR.
CURLcode SubmitReport(CURL* curl, const std::string& payload, const char* url = ReportUrl(),
                      const TransferBounds& bounds = TransferBounds{});

// libcurl's write callback: shows the first block of the reply and returns 0, which ends the transfer.
size_t OnReplyData(char* data, size_t size, size_t count, void* user);

// The text a reply block shows: the `message` value when it is the reply's last member, the text up to the
// reply's last `"}` otherwise, and the whole reply when that comes out empty or there is no `message`.
std::u16string ExtractReplyMessage(const std::u16string& reply);
