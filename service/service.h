#pragma once
// The report service's request handling, apart from any socket: a request in, a reply out, later. Nothing here
// runs on the caller's thread for long: reports go to one writer thread that commits them in batches, admin
// reads go to one reader thread, and each reply is handed back through its callback.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "service/storage.h"

namespace Service {

struct HttpRequest {
    std::string method;  // "GET", "POST"
    std::string path;    // without the query
    std::multimap<std::string, std::string> query;  // decoded
    std::multimap<std::string, std::string> headers;  // names in lower case
    std::string body;
    std::string remote;  // peer address, for the records
};

// Writes one piece of a streamed body; false once the connection is gone (then the producer stops).
using ChunkWriter = std::function<bool(std::string_view)>;

struct HttpResponse {
    int status = 200;
    std::string contentType;
    std::string body;
    std::multimap<std::string, std::string> headers;
    // A body too large to hold: produced piece by piece after the header went out, on a thread that may
    // block (ReportService::RunBlocking). False when it could not finish: the transfer is then cut off.
    std::function<bool(const ChunkWriter&)> stream;
};

using Reply = std::function<void(HttpResponse)>;

struct ServiceOptions {
    std::string adminToken;
    bool requireRegistered = false;
    // Reports waiting for the writer past this are answered 503 at once instead of queueing without end.
    size_t maxPending = 8192;
    // At most this many reports per transaction.
    size_t maxBatch = 2048;
    // A line about the service's own state (the database gone); nothing when empty.
    std::function<void(const std::string&)> log;
};

constexpr size_t kMaxReportBody = 16 * 1024;
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
constexpr const char* kTimeout = "提交超时，请检查网络后重试";
constexpr const char* kEncoding = "不支持压缩的数据，请使用官方检测程序";
constexpr const char* kUnknownCharset = "不支持所声明的字符编码，请使用官方检测程序";
constexpr const char* kTooMany = "提交过于频繁，请稍后再试";
}  // namespace Replies

// {"code":N,...,"message":"text"} with message last.
std::string ReplyJson(int code, const std::string& message, int points = -1);
// A JSON reply of the HTTP layer's own (400, 408, 413, 415, 429, 503).
HttpResponse JsonReply(int status, int code, const char* message);

// Sane ranges for the numbers a report carries; outside them the report is refused as malformed.
constexpr int64_t kMaxCpuCount = 4096;
constexpr int64_t kMaxClockMHz = 100000;
constexpr int64_t kMaxMemoryMB = 64LL * 1024 * 1024;  // 64 TiB

class ReportService {
public:
    using Clock = std::function<int64_t()>;  // Unix seconds
    // writer takes every write; reader serves the admin pages and the export.
    ReportService(std::unique_ptr<Storage> writer, std::unique_ptr<Storage> reader, ServiceOptions options,
                  Clock clock = nullptr);
    // Finishes what is queued (committing it), then stops its threads.
    ~ReportService();
    ReportService(const ReportService&) = delete;
    ReportService& operator=(const ReportService&) = delete;

    // Returns at once; reply is called exactly once, possibly on another thread.
    void Handle(HttpRequest request, Reply reply);
    // Waits for the reply, with any streamed body gathered into it: for tests and simple callers.
    HttpResponse HandleAndWait(const HttpRequest& request);
    // Returns once everything queued before it has been written.
    void Flush();
    // Runs work on the reader thread (streamed bodies may block there); false when it is not taken.
    bool RunBlocking(std::function<void()> work);

    // The reply to a body refused for its size before it was read.
    static HttpResponse TooLarge();

private:
    struct WriteJob;
    void PostReport(HttpRequest request, Reply reply);
    void RegisterPage(HttpRequest request, Reply reply);
    void Dashboard(const HttpRequest& request, Reply reply);
    void ReportsCsv(const HttpRequest& request, Reply reply);
    bool IsAdmin(const HttpRequest& request, bool& fromQuery) const;
    HttpResponse Refused() const;
    bool Enqueue(WriteJob job, bool report);
    void WriterLoop();
    void ReaderLoop();

    std::unique_ptr<Storage> m_writer;
    std::unique_ptr<Storage> m_reader;
    ServiceOptions m_options;
    Clock m_clock;

    std::mutex m_writeMutex;
    std::condition_variable m_writeReady;
    std::deque<WriteJob> m_writes;
    size_t m_pendingReports = 0;
    bool m_stopping = false;
    bool m_reportedBroken = false;

    std::mutex m_readMutex;
    std::condition_variable m_readReady;
    std::deque<std::function<void()>> m_reads;
    bool m_readStopping = false;

    std::thread m_writerThread;
    std::thread m_readerThread;
};

}  // namespace Service
