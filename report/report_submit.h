#pragma once
// The report transfer over libcurl's easy interface.
#include <curl/curl.h>

#include <string>

#include "report/curl_handles.h"
#include "report/report_transfer.h"

// A silent service must not freeze the window forever: bounds on connecting and on the whole transfer.
struct TransferBounds {
    long connectSeconds = 10;
    long totalSeconds = 30;
};

// One easy handle for the whole run, made by the first Post: libcurl and Winsock start only when a check
// first sends something, not with the window.
class CurlTransfer : public IReportTransfer {
public:
    explicit CurlTransfer(TransferBounds bounds = TransferBounds{}) : m_bounds(bounds) {}

    TransferReply Post(const std::string& url, const std::string& payload) override;

    // libcurl's result of the last Post: CURLE_WRITE_ERROR when it was ended after the first block.
    CURLcode LastResult() const { return m_lastResult; }

private:
    TransferBounds m_bounds;
    CurlEasy m_curl;
    CURLcode m_lastResult = CURLE_OK;
};
