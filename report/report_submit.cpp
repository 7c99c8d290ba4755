#include "report/report_submit.h"

#include "text/charset.h"
#include "text/text_encoding.h"
#include "text/wire_contract.h"

const char* ReportUrl() { return "http://" ZORV_REPORT_HOST "/act/score/pcinfo/add"; }
const wchar_t* RegisterUrl() { return L"http://" ZORV_REGISTER_HOST "/register"; }

namespace {

std::u16string Widened(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// What the write callback fills in. It only copies: nothing is shown and nothing may unwind from inside
// libcurl.
struct FirstBlock {
    bool seen = false;
    std::string bytes;
};

size_t CollectFirstBlock(char* data, size_t /*size*/, size_t count, void* user) {
    auto* block = static_cast<FirstBlock*>(user);
    block->seen = true;
    try {
        block->bytes.assign(data, count);
    } catch (...) {
    }
    return 0;  // the first block is all a check uses: returning 0 ends the transfer here
}

}  // namespace

std::u16string ExtractReplyMessage(const std::u16string& reply) {
    static const std::u16string kKey = Widened(WireContract::kMessageKey);
    static const std::u16string kEnd = Widened(WireContract::kReplyEnd);
    const size_t key = reply.find(kKey);
    // Not the service's reply: a proxy's error page, a captive portal. Its markup means nothing to a player.
    if (key == std::u16string::npos) return kUnreadableReply;
    const size_t start = key + kKey.size();
    const size_t end = reply.rfind(kEnd);
    std::u16string text = (end != std::u16string::npos && end >= start) ? reply.substr(start, end - start)
                                                                        : reply.substr(start);
    return text.empty() ? reply : text;
}

TransferReply CurlTransfer::Post(const std::string& url, const std::string& payload) {
    if (m_curl.IsEmpty()) m_curl.Reset(curl_easy_init());
    CURL* curl = m_curl.Get();
    if (!curl) {
        m_lastResult = CURLE_FAILED_INIT;
        return {};
    }
    FirstBlock block;
    CurlHeaderList headers;
    AppendHeader(headers, "Accept: Application/json");
    // On code page 936 exactly the header every checker has sent; elsewhere with the code page's charset,
    // so the service reads the body by the right table.
    AppendHeader(headers, Charset::ContentTypeLine(TextEncoding::AnsiCodePage()).c_str());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.Get());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CollectFirstBlock);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &block);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, payload.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(payload.size()));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, m_bounds.connectSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, m_bounds.totalSeconds);
    m_lastResult = curl_easy_perform(curl);
    // The handle outlives this list and this block.
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, nullptr);

    TransferReply reply;
    reply.hasBlock = block.seen;
    reply.delivered = m_lastResult == CURLE_OK || (block.seen && m_lastResult == CURLE_WRITE_ERROR);
    reply.firstBlock = std::move(block.bytes);
    return reply;
}
