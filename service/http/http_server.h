#pragma once
// The report service on a socket: Boost.Beast over Asio, a few I/O threads for every connection. Each request
// has one deadline for its header and body, idle keep-alives are closed, connections are capped in total and
// per address, sizes are checked as the bytes arrive, and each address has a token bucket. What a request
// means is the handler's: the server knows no path but the benchmark's, and its own refusals are given to it.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "service/http/http_types.h"

namespace Service {

struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 8360;  // 0: any free port
    int ioThreads = 2;
    // A fixed reply at /bench/fixed that stores nothing: the HTTP layer's own limit, for benchmarks. Off when
    // empty.
    std::string benchReply;
    Refusals refusals;
    // One line per request; nothing when empty.
    std::function<void(const std::string&)> log;
    // For the operator's figures, on the I/O threads (they must not block); nothing when empty: every reply
    // written with the request's path (no query) and status; every request refused by this layer with why
    // ("too_large", "timeout", "malformed", "compressed", "too_many", "busy"); the connections open after one
    // opened or closed.
    std::function<void(std::string_view path, int status)> answered;
    std::function<void(const char* reason)> refused;
    std::function<void(size_t open)> connections;

    std::chrono::milliseconds requestTimeout{10000};  // the whole request, header and body
    std::chrono::milliseconds idleTimeout{5000};      // between requests on a kept-alive connection
    std::chrono::milliseconds writeTimeout{10000};    // each reply (each piece of a streamed one)
    std::chrono::milliseconds shutdownGrace{3000};    // what in-flight requests get after Stop
    size_t maxConnections = 4096;
    size_t maxPerAddress = 256;  // an internet café behind one address
    size_t headerLimit = 8 * 1024;
    size_t bodyLimit = 16 * 1024;
    // A proxy in front (nginx): requests from this address are counted for the player its X-Real-IP header
    // names, and the per-address connection cap does not apply to it. Empty: no proxy is trusted.
    std::string trustedProxy;
    // Requests per second per address, and the burst allowed; 0: no limit.
    double ratePerSecond = 50;
    double rateBurst = 200;
};

class HttpServer {
public:
    HttpServer(RequestHandler& handler, ServerOptions options);
    // Stops, then runs what is still queued for the connections, so none outlives the server.
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds and returns the port it got, or -1.
    int Bind();
    // Serves until Stop; returns once every connection is closed.
    bool Run();
    bool IsRunning() const;
    // Safe from any thread: stops accepting, closes idle and half-received connections, gives requests in
    // flight up to shutdownGrace to be answered, then closes the rest and makes Run return.
    void Stop();

    class Impl;

private:
    std::shared_ptr<Impl> m_impl;
};

// A path or other client text as it may go into a log line: control bytes and backslashes escaped.
std::string LogSafe(std::string_view text, size_t max = 200);

}  // namespace Service
