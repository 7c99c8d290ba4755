#pragma once
// How a check posts its report, without libcurl in sight: the transfer collects the first block of the
// reply and the check shows it once the transfer has returned.
#include <string>

// Built in: the report service and the registration page (CMake cache variables ZORV_REPORT_HOST and
// ZORV_REGISTER_HOST).
const char* ReportUrl();
const wchar_t* RegisterUrl();

struct TransferReply {
    bool delivered = false;  // the service answered
    bool hasBlock = false;   // and its reply had a body
    std::string firstBlock;  // the first block of that body, as it came (UTF-8)
};

class IReportTransfer {
public:
    virtual ~IReportTransfer() = default;
    // Posts the payload. Returns when the first block of the reply has come (the transfer ends there and
    // the rest is never read), when the reply ended without a body, or when the transfer failed.
    virtual TransferReply Post(const std::string& url, const std::string& payload) = 0;
};

// What a reply block without `"message":"` shows.
inline constexpr const char16_t* kUnreadableReply = u"服务器应答有误，请稍后再试";

// The text a reply block shows: the `message` value when it is the reply's last member, the text up to the
// reply's last `"}` otherwise, the whole reply when that comes out empty, and kUnreadableReply when there is
// no `"message":"` at all.
std::u16string ExtractReplyMessage(const std::u16string& reply);
