#include "report/report_submit.h"

#include <algorithm>
#include <cstdio>

#include "report/curl_handles.h"
#include "report/message_display.h"
#include "report/text_encoding.h"
#include "text/wire_contract.h"

const char* ReportUrl() { return "http://" ZORV_REPORT_HOST "/act/score/pcinfo/add"; }
const wchar_t* RegisterUrl() { return L"http://" ZORV_REGISTER_HOST "/register"; }

namespace {

std::u16string Widened(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

}  // namespace

std::u16string ExtractReplyMessage(const std::u16string& reply) {
    static const std::u16string kKey = Widened(WireContract::kMessageKey);
    static const std::u16string kEnd = Widened(WireContract::kReplyEnd);
    const size_t key = reply.find(kKey);
    if (key == std::u16string::npos) return reply;
    const size_t start = key + kKey.size();
    const size_t end = reply.rfind(kEnd);
    std::u16string text = (end != std::u16string::npos && end >= start) ? reply.substr(start, end - start)
                                                                        : reply.substr(start);
    return text.empty() ? reply : text;
}

size_t OnReplyData(char* data, size_t /*size*/, size_t count, void* /*user*/) {
    // Nothing may unwind through libcurl.
    try {
        std::u16string reply = TextEncoding::Utf8ToUtf16(std::string_view(data, count));
        reply.erase(std::min(reply.find(u'\0'), reply.size()));
        std::printf("result: %s\n", TextEncoding::Utf16ToAnsi(reply).c_str());
        std::fflush(stdout);
        ShowMessage(ExtractReplyMessage(reply));
    } catch (...) {
    }
    return 0;
}

CURLcode SubmitReport(CURL* curl, const std::string& payload, const char* url, const TransferBounds& bounds) {
    std::printf("submit ping result[%s].\n", payload.c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url);
    std::printf("%s\n", url);
    std::fflush(stdout);
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    CurlHeaderList headers;
    AppendHeader(headers, "Accept: Application/json");
    AppendHeader(headers, "Content-Type: Application/json");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.Get());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnReplyData);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, payload.c_str());
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, bounds.connectSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, bounds.totalSeconds);
    const CURLcode result = curl_easy_perform(curl);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);  // the handle outlives this list
    return result;
}
