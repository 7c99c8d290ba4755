#include "tests/support/loopback_http_server.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using socket_t = SOCKET;
static void CloseSocket(socket_t s) { closesocket(s); }
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using socket_t = int;
static void CloseSocket(socket_t s) { close(s); }
#endif

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace testing_support {
namespace {

// Waits at most `ms` for the socket to become readable.
bool Readable(socket_t s, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &tv) > 0;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void SendAll(socket_t s, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        const int n = send(s, data.data() + sent, static_cast<int>(data.size() - sent), 0);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
    const std::string wanted = Lower(name) + ":";
    for (const std::string& line : headerLines) {
        if (Lower(line.substr(0, wanted.size())) == wanted) {
            const size_t start = line.find_first_not_of(' ', wanted.size());
            return start == std::string::npos ? "" : line.substr(start);
        }
    }
    return "";
}

LoopbackHttpServer::LoopbackHttpServer(ScriptedReply reply) : m_reply(std::move(reply)) {
#ifdef _WIN32
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
#endif
    socket_t s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 16) != 0) {
        CloseSocket(s);
        throw std::runtime_error("loopback server: cannot listen");
    }
    socklen_t len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_listen = static_cast<long long>(s);
    m_thread = std::thread([this] { Serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    m_stop = true;
    m_thread.join();
    CloseSocket(static_cast<socket_t>(m_listen));
}

std::string LoopbackHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<RecordedRequest> LoopbackHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void LoopbackHttpServer::Serve() {
    const socket_t listener = static_cast<socket_t>(m_listen);
    while (!m_stop) {
        if (!Readable(listener, 50)) continue;
        const socket_t client = accept(listener, nullptr, nullptr);
        if (client == static_cast<socket_t>(-1)) continue;
        Handle(static_cast<long long>(client));
        CloseSocket(client);
    }
}

void LoopbackHttpServer::Handle(long long handle) {
    const socket_t s = static_cast<socket_t>(handle);
    const int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string data;
    size_t headEnd = std::string::npos;
    size_t bodyLength = 0;
    bool continued = false;
    RecordedRequest request;
    char buffer[4096];
    while (!m_stop && std::chrono::steady_clock::now() < deadline) {
        if (headEnd != std::string::npos && data.size() >= headEnd + 4 + bodyLength) break;
        if (!Readable(s, 50)) continue;
        const int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        data.append(buffer, static_cast<size_t>(n));
        if (headEnd == std::string::npos && (headEnd = data.find("\r\n\r\n")) != std::string::npos) {
            const std::string head = data.substr(0, headEnd);
            size_t lineStart = 0;
            bool first = true;
            while (lineStart <= head.size()) {
                size_t lineEnd = head.find("\r\n", lineStart);
                if (lineEnd == std::string::npos) lineEnd = head.size();
                const std::string line = head.substr(lineStart, lineEnd - lineStart);
                if (first) {
                    const size_t sp1 = line.find(' '), sp2 = line.find(' ', sp1 + 1);
                    request.method = line.substr(0, sp1);
                    request.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
                    first = false;
                } else {
                    request.headerLines.push_back(line);
                }
                lineStart = lineEnd + 2;
            }
            bodyLength = static_cast<size_t>(std::strtoul(request.Header("Content-Length").c_str(), nullptr, 10));
            if (!continued && Lower(request.Header("Expect")) == "100-continue") {
                SendAll(s, "HTTP/1.1 100 Continue\r\n\r\n");
                continued = true;
            }
        }
    }
    if (headEnd == std::string::npos) return;
    request.body = data.substr(headEnd + 4, bodyLength);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(request);
    }
    if (m_reply.silent) {
        while (!m_stop) Readable(s, 50);  // hold the connection open, say nothing
        return;
    }
    size_t total = 0;
    for (const std::string& block : m_reply.blocks) total += block.size();
    std::string head = "HTTP/1.1 " + std::to_string(m_reply.status) + " Reply\r\nContent-Type: " +
                       m_reply.contentType + "\r\nContent-Length: " + std::to_string(total) +
                       "\r\nConnection: close\r\n\r\n";
    for (size_t i = 0; i < m_reply.blocks.size(); ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(m_reply.pauseMs));
        SendAll(s, i == 0 ? head + m_reply.blocks[i] : m_reply.blocks[i]);
    }
    if (m_reply.blocks.empty()) SendAll(s, head);
    // Let the client read everything before the socket closes.
    const auto lingerUntil = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!m_stop && std::chrono::steady_clock::now() < lingerUntil) {
        if (Readable(s, 50) && recv(s, buffer, sizeof buffer, 0) <= 0) break;
    }
}

}  // namespace testing_support
