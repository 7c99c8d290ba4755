#include "service/http_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <ctime>

namespace Service {

// The library listens with a backlog of 5; a burst of connections beyond that waits for SYN retries of a
// second or more. The listening socket is the library's, so widening it needs a subclass.
class HttpServer::Server : public httplib::Server {
public:
    void WidenBacklog() { ::listen(svr_sock_, SOMAXCONN); }
};

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

HttpRequest FromLibrary(const httplib::Request& req) {
    HttpRequest r;
    r.method = req.method;
    r.path = req.path;
    for (const auto& [k, v] : req.params) r.query.emplace(k, v);
    for (const auto& [k, v] : req.headers) r.headers.emplace(Lower(k), v);
    r.body = req.body;
    r.remote = req.remote_addr;
    return r;
}

void ToLibrary(const HttpResponse& from, httplib::Response& res) {
    res.status = from.status;
    for (const auto& [k, v] : from.headers) res.set_header(k, v);
    res.set_content(from.body, from.contentType);
}

std::string LogLine(const httplib::Request& req, const httplib::Response& res) {
    const auto now = std::chrono::system_clock::now();
    const time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    struct tm tm {};
    gmtime_r(&t, &tm);
    char when[40];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &tm);
    char line[512];
    // The path only: the query may hold the admin token.
    std::snprintf(line, sizeof line, "%s.%03dZ %s %s %.200s %d %zu %zu", when, static_cast<int>(ms),
                  req.remote_addr.c_str(), req.method.c_str(), req.path.c_str(), res.status, req.body.size(),
                  res.body.size());
    return line;
}

}  // namespace

HttpServer::HttpServer(ReportService& service, ServerOptions options)
    : m_service(service), m_options(std::move(options)), m_server(std::make_unique<Server>()) {
    auto& svr = *m_server;
    const int threads = std::max(1, m_options.threads);
    svr.new_task_queue = [threads] { return new httplib::ThreadPool(static_cast<size_t>(threads)); };
    svr.set_payload_max_length(kMaxReportBody);
    svr.set_keep_alive_max_count(1000);
    svr.set_tcp_nodelay(true);
    // Whatever goes wrong inside, the caller gets a reply and the worker thread lives on.
    svr.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        ToLibrary({500, "application/json; charset=utf-8", ReplyJson(5, Replies::kServerError), {}}, res);
    });
    // The library answers some requests itself (413 for a body over the limit, 400 for a bad request
    // line); a report's sender still gets a JSON message then.
    svr.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        if (res.status == 413) {
            ToLibrary(ReportService::TooLarge(), res);
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.path == kReportPath) {
            ToLibrary({res.status, "application/json; charset=utf-8", ReplyJson(3, Replies::kMalformed), {}}, res);
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    }));
    // A restart must not wait for the previous run's connections to leave TIME_WAIT. The library's default
    // (SO_REUSEPORT alone) neither allows that nor stops a second service from sharing the port.
    svr.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    if (m_options.log) {
        auto log = m_options.log;
        svr.set_logger([log](const httplib::Request& req, const httplib::Response& res) { log(LogLine(req, res)); });
    }
    if (m_options.benchEndpoint) {
        const std::string fixed = ReplyJson(0, Replies::kSuccess, kRewardPoints);
        svr.Post("/bench/fixed", [fixed](const httplib::Request&, httplib::Response& res) {
            res.set_content(fixed, "application/json; charset=utf-8");
        });
    }
    auto handle = [this](const httplib::Request& req, httplib::Response& res) {
        ToLibrary(m_service.Handle(FromLibrary(req)), res);
    };
    svr.Get(".*", handle);
    svr.Post(".*", handle);
}

HttpServer::~HttpServer() = default;

int HttpServer::Bind() {
    int port = m_options.port;
    if (port == 0) {
        port = m_server->bind_to_any_port(m_options.host);
    } else if (!m_server->bind_to_port(m_options.host, port)) {
        port = -1;
    }
    if (port > 0) m_server->WidenBacklog();
    return port;
}

bool HttpServer::Run() { return m_server->listen_after_bind(); }

bool HttpServer::IsRunning() const { return m_server->is_running(); }

void HttpServer::Stop() { m_server->stop(); }

}  // namespace Service
