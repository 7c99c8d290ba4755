#pragma once
// The report service on a socket: cpp-httplib in front of ReportService::Handle.
#include <functional>
#include <memory>
#include <string>

#include "service/service.h"

namespace httplib {
class Server;
}

namespace Service {

struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 8360;  // 0: any free port
    int threads = 64;
    // A fixed JSON reply at /bench/fixed that stores nothing: the HTTP layer's own limit, for benchmarks.
    bool benchEndpoint = false;
    // One line per request; nothing when empty.
    std::function<void(const std::string&)> log;
};

class HttpServer {
public:
    HttpServer(ReportService& service, ServerOptions options);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and returns the port it got, or -1.
    int Bind();
    // Serves until Stop; requests in progress finish before it returns.
    bool Run();
    bool IsRunning() const;
    // Safe from any thread; a server not yet running is not stopped by it.
    void Stop();

private:
    class Server;
    ReportService& m_service;
    ServerOptions m_options;
    std::unique_ptr<Server> m_server;
};

}  // namespace Service
