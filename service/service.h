#pragma once
// The report service's request handling, apart from any socket: a request in, a response out.
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "service/store.h"

namespace Service {

struct HttpRequest {
    std::string method;  // "GET", "POST"
    std::string path;    // without the query
    std::multimap<std::string, std::string> query;  // decoded
    std::multimap<std::string, std::string> headers;  // names in lower case
    std::string body;
    std::string remote;  // peer address, for the records
};

struct HttpResponse {
    int status = 200;
    std::string contentType;
    std::string body;
    std::multimap<std::string, std::string> headers;
};

struct ServiceOptions {
    std::string adminToken;
    bool requireRegistered = false;
};

constexpr size_t kMaxReportBody = 16 * 1024;
constexpr size_t kMaxAccountBytesGb18030 = 127;  // what the checker's box can send
constexpr const char* kReportPath = "/act/score/pcinfo/add";

// The replies the checker shows. Each is the last member of the reply object, short and without anything
// JSON would escape.
namespace Replies {
constexpr const char* kSuccess = "提交成功，本账号获得20积分";
constexpr const char* kAccountUsed = "此账号已经提交成功过，每个账号只能成功一次";
constexpr const char* kMachineUsed = "此电脑已经提交成功过，每台电脑只能成功一次";
constexpr const char* kMalformed = "提交的数据格式有误，请使用官方检测程序";
constexpr const char* kTooLarge = "提交的数据过长，请使用官方检测程序";
constexpr const char* kNotRegistered = "此账号尚未注册，请先注册账号";
constexpr const char* kServerError = "服务器忙，请稍后再试";
}  // namespace Replies

// {"code":N,...,"message":"text"} with message last.
std::string ReplyJson(int code, const std::string& message, int points = -1);

class ReportService {
public:
    using Clock = std::function<int64_t()>;  // Unix seconds
    ReportService(Store& store, ServiceOptions options, Clock clock = nullptr);

    HttpResponse Handle(const HttpRequest& request);
    // The reply to a body refused for its size before it was read.
    static HttpResponse TooLarge();

private:
    HttpResponse PostReport(const HttpRequest& request);
    HttpResponse RegisterPage(const HttpRequest& request);
    HttpResponse Dashboard(const HttpRequest& request);
    HttpResponse ReportsCsv(const HttpRequest& request);
    bool IsAdmin(const HttpRequest& request, bool& fromQuery) const;
    HttpResponse Refused() const;

    Store& m_store;
    ServiceOptions m_options;
    Clock m_clock;
};

}  // namespace Service
