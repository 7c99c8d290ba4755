#pragma once
// A small HTTP/1.1 server on 127.0.0.1 for tests: it records every request and answers with a scripted
// reply. Runs on its own thread; every wait in it is bounded, and it stops when destroyed.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

struct RecordedRequest {
    std::string method;
    std::string target;
    std::vector<std::string> headerLines;  // as received, without the line ends
    std::string body;

    // The value of the first header with this name (case-insensitive), or "" when absent.
    std::string Header(const std::string& name) const;
};

struct ScriptedReply {
    int status = 200;
    std::string contentType = "application/json; charset=utf-8";
    // The body, sent as separate writes with a pause between them.
    std::vector<std::string> blocks;
    int pauseMs = 150;
    // Accept the request and never answer (until the server stops).
    bool silent = false;
};

class LoopbackHttpServer {
public:
    explicit LoopbackHttpServer(ScriptedReply reply);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    int port() const { return m_port; }
    std::string Url(const std::string& path) const;
    std::vector<RecordedRequest> Requests() const;

private:
    void Serve();
    void Handle(long long socket);

    ScriptedReply m_reply;
    long long m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::vector<RecordedRequest> m_requests;
    std::thread m_thread;
};

}  // namespace testing_support
