#include "service/http/http_server.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <atomic>
#include <cctype>
#include <ctime>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include "service/http/form.h"

namespace Service {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

std::string LogSafe(std::string_view text, size_t max) {
    std::string out;
    for (size_t i = 0; i < text.size() && i < max; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (text.size() > max) out += "…";
    return out;
}

namespace {

using Http::Lower;
using Http::TrimBlanks;

std::string Now() {
    const auto now = std::chrono::system_clock::now();
    const time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    struct tm tm {};
    gmtime_r(&t, &tm);
    char when[48];
    const size_t n = std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &tm);
    std::snprintf(when + n, sizeof when - n, ".%03dZ", static_cast<int>(ms));
    return when;
}

class Session;

}  // namespace

class HttpServer::Impl : public std::enable_shared_from_this<HttpServer::Impl> {
public:
    Impl(RequestHandler& handler, ServerOptions options)
        : handler(handler), options(std::move(options)), acceptor(ioc), acceptTimer(ioc) {}

    // Work for a connection from another thread (a reply, a piece of a stream). Refused once the server has
    // drained its queue for the last time: what is dropped then releases its connection where it is.
    template <class Work>
    bool Deliver(net::any_io_executor executor, Work&& work) {
        std::lock_guard<std::mutex> lock(deliverMutex);
        if (drained) return false;
        net::post(executor, std::forward<Work>(work));
        return true;
    }
    void Drain();

    void Accept();
    void Admit(tcp::socket socket);
    bool TakeToken(const std::string& address);
    void Forget(Session* session, const std::string& address);
    std::shared_ptr<Session> EvictOneLocked();
    void Stop();

    RequestHandler& handler;
    const ServerOptions options;
    std::mutex deliverMutex;
    bool drained = false;
    net::io_context ioc;
    tcp::acceptor acceptor;
    net::steady_timer acceptTimer;
    std::atomic<bool> running{false};
    std::atomic<bool> stopping{false};
    std::mutex stopMutex;  // and the work guard
    // Keeps run() going while replies are still to come from the writer: an event loop without work would
    // return and leave them unsent.
    std::optional<net::executor_work_guard<net::io_context::executor_type>> work;

    std::mutex mutex;  // everything below
    std::map<Session*, std::weak_ptr<Session>> sessions;
    size_t evicting = 0;  // sessions told to close to make room, not yet gone
    std::unordered_map<std::string, size_t> perAddress;
    struct Bucket {
        double tokens;
        Clock::time_point last;
    };
    std::unordered_map<std::string, Bucket> buckets;
};

namespace {

class Session : public std::enable_shared_from_this<Session> {
public:
    Session(std::shared_ptr<HttpServer::Impl> server, tcp::socket socket, std::string remote)
        : m_server(std::move(server)), m_stream(std::move(socket)), m_timer(m_stream.get_executor()),
          m_remote(std::move(remote)) {}
    ~Session() { m_server->Forget(this, m_remote); }

    void Start() { ReadHeader(); }

    // Since when this connection has been waiting for a request header to complete (steady-clock ticks),
    // 0 while a request is being served. Read under the server's mutex to choose whom to evict.
    int64_t WaitingSince() const { return m_waitingSince; }
    bool evicted = false;  // under the server's mutex

    // The server is stopping: what has not fully arrived is dropped; what is being answered finishes.
    void OnStop() {
        if (m_state == State::Idle || m_state == State::Reading) Close();
    }
    void Close() {
        if (m_state == State::Closed) return;
        m_state = State::Closed;
        m_timer.cancel();
        beast::error_code ec;
        m_stream.socket().shutdown(tcp::socket::shutdown_both, ec);
        m_stream.close();
    }
    auto Executor() { return m_stream.get_executor(); }

private:
    enum class State { Reading, Busy, Idle, Closed };
    const ServerOptions& Options() const { return m_server->options; }

    // Between requests: nothing is read until a byte arrives, and the idle timer closes a silent connection.
    void WaitIdle() {
        if (m_server->stopping) return Close();
        m_state = State::Idle;
        m_waitingSince = Clock::now().time_since_epoch().count();
        if (m_buffer.size() > 0) return ReadHeader();  // a pipelined request is already here
        m_stream.expires_never();
        m_timer.expires_after(Options().idleTimeout);
        m_timer.async_wait([self = shared_from_this()](beast::error_code ec) {
            if (!ec && self->m_state == State::Idle) self->Close();
        });
        m_stream.socket().async_wait(tcp::socket::wait_read, [self = shared_from_this()](beast::error_code ec) {
            self->m_timer.cancel();
            if (ec || self->m_state != State::Idle) return self->Close();
            self->ReadHeader();
        });
    }

    void ReadHeader() {
        m_state = State::Reading;
        if (m_waitingSince == 0) m_waitingSince = Clock::now().time_since_epoch().count();
        m_parser.emplace();
        m_parser->header_limit(static_cast<std::uint32_t>(Options().headerLimit));
        m_parser->body_limit(Options().bodyLimit);
        // One deadline for the whole request, header and body: trickling bytes does not extend it. On expiry
        // the read is cancelled and the connection stays open for the 408.
        m_stream.expires_never();
        m_timedOut = false;
        m_timer.expires_after(Options().requestTimeout);
        m_timer.async_wait([self = shared_from_this()](beast::error_code ec) {
            if (ec || self->m_state != State::Reading) return;
            self->m_timedOut = true;
            beast::error_code ignored;
            self->m_stream.socket().cancel(ignored);
        });
        m_headerBytes = 0;
        ReadHeaderPart();
    }

    // The parser's own header limit applies to what one read leaves unparsed: fields it has already taken
    // do not count, so many small ones trickled in would pass. The bytes it takes are counted here instead,
    // the request line included, and the header is refused once they pass the limit.
    void ReadHeaderPart() {
        http::async_read_some(m_stream, m_buffer, *m_parser, [self = shared_from_this()](beast::error_code ec, size_t n) {
            self->m_headerBytes += n;
            if (!ec && self->m_headerBytes > self->Options().headerLimit) ec = http::error::header_limit;
            if (!ec && !self->m_parser->is_header_done()) return self->ReadHeaderPart();
            self->OnHeader(ec);
        });
    }

    // A reply of the HTTP layer's own, for a request that will not be served; the connection closes after it.
    void Refuse(int status, const std::string& body) {
        m_keepAlive = false;
        if (Options().refused)
            Options().refused(status == 413   ? "too_large"
                              : status == 408 ? "timeout"
                              : status == 415 ? "compressed"
                              : status == 429 ? "too_many"
                                              : "malformed");
        HttpResponse r;
        r.status = status;
        r.contentType = Options().refusals.contentType;
        r.body = body;
        Write(std::move(r), true);
    }

    bool ReadFailed(beast::error_code ec) {
        // Closed meanwhile (the server stopping, or room made for a newcomer) while this read's success was
        // already queued: the connection is gone, so nothing read on it may be served.
        if (m_state == State::Closed) return true;
        if (!ec) return false;
        m_timer.cancel();
        if (ec == http::error::body_limit || ec == http::error::header_limit) {
            Refuse(413, Options().refusals.tooLarge);
        } else if (m_timedOut) {
            // A connection that never sent anything is just closed; a late request is told so.
            if (m_buffer.size() > 0 || m_parser->got_some()) Refuse(408, Options().refusals.timeout);
            else Close();
        } else if (ec == http::error::end_of_stream || ec == net::error::eof || ec == net::error::operation_aborted ||
                   ec == net::error::connection_reset || ec == http::error::partial_message || m_state == State::Closed) {
            Close();
        } else {
            Refuse(400, Options().refusals.malformed);
        }
        return true;
    }

    void OnHeader(beast::error_code ec) {
        if (ReadFailed(ec)) return;
        m_waitingSince = 0;
        if (m_server->stopping) return Close();
        const auto& req = m_parser->get();
        m_method = std::string(req.method_string());
        m_target = std::string(req.target());
        m_client = m_remote;
        if (!Options().trustedProxy.empty() && m_remote == Options().trustedProxy) {
            beast::error_code bad;
            const auto real = net::ip::make_address(TrimBlanks(std::string(req["X-Real-IP"])), bad);
            if (!bad) m_client = real.to_string();
        }
        if (!m_server->TakeToken(m_client)) return Refuse(429, Options().refusals.tooMany);
        // Nothing is inflated here: a compressed body could grow past every limit after it was accepted.
        const auto encoding = req[http::field::content_encoding];
        if (!encoding.empty() && Lower(TrimBlanks(std::string(encoding))) != "identity")
            return Refuse(415, Options().refusals.compressed);
        if (Lower(std::string(req[http::field::expect])) == "100-continue" && !m_parser->is_done()) {
            auto cont = std::make_shared<http::response<http::empty_body>>(http::status::continue_, req.version());
            return http::async_write(m_stream, *cont, [self = shared_from_this(), cont](beast::error_code e, size_t) {
                if (e) return self->Close();
                self->ReadBody();
            });
        }
        ReadBody();
    }

    void ReadBody() {
        if (m_parser->is_done()) return Dispatch();
        http::async_read(m_stream, m_buffer, *m_parser, [self = shared_from_this()](beast::error_code ec, size_t) {
            if (self->ReadFailed(ec)) return;
            self->Dispatch();
        });
    }

    void Dispatch() {
        // A request served on a closed connection would be stored and never answered.
        if (m_state == State::Closed) return;
        m_state = State::Busy;
        m_timer.cancel();  // the writer's commit is bounded by its own queue, not by the client
        auto message = m_parser->release();
        m_keepAlive = message.keep_alive();
        m_version = message.version();
        HttpRequest request;
        request.method = m_method;
        const size_t q = m_target.find('?');
        request.path = m_target.substr(0, q);
        if (q != std::string::npos)
            for (auto& [name, value] : Http::DecodePairs(std::string_view(m_target).substr(q + 1)))
                request.query.emplace(std::move(name), std::move(value));
        for (const auto& field : message)
            request.headers.emplace(Lower(std::string(field.name_string())), std::string(field.value()));
        request.body = std::move(message.body());
        request.remote = m_client;
        m_requestBytes = request.body.size();
        if (!Options().benchReply.empty() && request.path == "/bench/fixed" && request.method == "POST") {
            HttpResponse fixed;
            fixed.contentType = Options().refusals.contentType;
            fixed.body = Options().benchReply;
            return Write(std::move(fixed), false);
        }
        m_server->handler.Handle(std::move(request), [self = shared_from_this()](HttpResponse response) {
            self->m_server->Deliver(self->Executor(), [self, response = std::move(response)]() mutable {
                self->Write(std::move(response), false);
            });
        });
    }

    void Log(int status, size_t bytes) {
        // The path only: the query may hold the admin token.
        const std::string path = m_target.substr(0, m_target.find('?'));
        if (Options().answered) Options().answered(path, status);
        if (!Options().log) return;
        Options().log(Now() + " " + (m_client.empty() ? m_remote : m_client) + " " + (m_method.empty() ? "-" : LogSafe(m_method, 16)) + " " +
                      (path.empty() ? "-" : LogSafe(path)) + " " + std::to_string(status) + " " +
                      std::to_string(m_requestBytes) + " " + std::to_string(bytes));
    }

    void Write(HttpResponse response, bool linger) {
        if (m_state == State::Closed) return;
        m_state = State::Busy;
        if (response.stream) return WriteStream(std::move(response));
        const bool keepAlive = m_keepAlive && !m_server->stopping;
        auto res = std::make_shared<http::response<http::string_body>>(static_cast<http::status>(response.status),
                                                                         m_version);
        if (!response.contentType.empty()) res->set(http::field::content_type, response.contentType);
        for (const auto& [name, value] : response.headers) res->insert(name, value);
        res->body() = std::move(response.body);
        res->keep_alive(keepAlive);
        res->prepare_payload();
        Log(response.status, res->body().size());
        m_stream.expires_after(Options().writeTimeout);
        http::async_write(m_stream, *res, [self = shared_from_this(), res, keepAlive, linger](beast::error_code ec, size_t) {
            if (ec) return self->Close();
            if (linger) return self->Linger();
            if (!keepAlive) return self->Finish();
            self->m_method.clear();
            self->m_client.clear();
            self->m_target.clear();
            self->m_requestBytes = 0;
            self->WaitIdle();
        });
    }

    // After refusing a request that may still be arriving: stop sending, read (and drop) what the client is
    // still sending for a moment, so closing does not reset the connection before it has read the reply.
    void Linger() {
        beast::error_code ec;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ec);
        m_state = State::Busy;
        m_stream.expires_after(std::chrono::milliseconds(1000));
        auto drop = std::make_shared<std::array<char, 4096>>();
        DrainSome(drop, 0);
    }
    void DrainSome(std::shared_ptr<std::array<char, 4096>> drop, size_t total) {
        m_stream.async_read_some(net::buffer(*drop), [self = shared_from_this(), drop, total](beast::error_code ec, size_t n) {
            if (ec || total + n > (1u << 20)) return self->Close();
            self->DrainSome(drop, total + n);
        });
    }

    void Finish() {
        beast::error_code ec;
        m_stream.socket().shutdown(tcp::socket::shutdown_send, ec);
        Close();
    }

    void WriteStream(HttpResponse response) {
        auto header = std::make_shared<http::response<http::empty_body>>(static_cast<http::status>(response.status),
                                                                           m_version);
        if (!response.contentType.empty()) header->set(http::field::content_type, response.contentType);
        for (const auto& [name, value] : response.headers) header->insert(name, value);
        header->keep_alive(false);
        header->chunked(true);
        auto serializer = std::make_shared<http::response_serializer<http::empty_body>>(*header);
        Log(response.status, 0);
        m_stream.expires_after(Options().writeTimeout);
        auto producer = std::make_shared<std::function<bool(const ChunkWriter&)>>(std::move(response.stream));
        http::async_write_header(
            m_stream, *serializer,
            [self = shared_from_this(), header, serializer, producer](beast::error_code ec, size_t) {
                if (ec) return self->Close();
                const bool taken = self->m_server->handler.RunBlocking([self, producer] {
                    const bool ok = (*producer)([self](std::string_view piece) { return self->WriteChunk(piece); });
                    self->m_server->Deliver(self->Executor(), [self, ok] {
                        if (!ok || self->m_state == State::Closed) return self->Close();
                        self->m_stream.expires_after(self->Options().writeTimeout);
                        net::async_write(self->m_stream, http::make_chunk_last(),
                                         [self](beast::error_code, size_t) { self->Finish(); });
                    });
                });
                if (!taken) self->Close();
            });
    }

    // Called on the reader thread: hands one piece to the connection and waits until it is written, so at
    // most one piece is held whatever the size of the whole.
    bool WriteChunk(std::string_view piece) {
        if (piece.empty()) return true;
        auto data = std::make_shared<std::string>(piece);
        auto done = std::make_shared<std::promise<bool>>();
        auto written = done->get_future();
        const bool posted = m_server->Deliver(Executor(), [self = shared_from_this(), data, done] {
            if (self->m_state == State::Closed) return done->set_value(false);
            self->m_stream.expires_after(self->Options().writeTimeout);
            net::async_write(self->m_stream, http::make_chunk(net::buffer(*data)),
                             [data, done](beast::error_code ec, size_t) { done->set_value(!ec); });
        });
        if (!posted) return false;
        // The write has its own deadline; the margin covers a stopped event loop.
        if (written.wait_for(Options().writeTimeout + std::chrono::seconds(2)) != std::future_status::ready)
            return false;
        return written.get();
    }

    std::shared_ptr<HttpServer::Impl> m_server;
    beast::tcp_stream m_stream;
    net::steady_timer m_timer;
    beast::flat_buffer m_buffer;
    std::optional<http::request_parser<http::string_body>> m_parser;
    std::string m_remote;
    std::string m_client;  // who the request is from: m_remote, or the player a trusted proxy names
    std::string m_method, m_target;
    size_t m_requestBytes = 0;
    size_t m_headerBytes = 0;  // of the request being read, as the parser takes them
    bool m_keepAlive = true;
    bool m_timedOut = false;
    std::atomic<int64_t> m_waitingSince{0};
    unsigned m_version = 11;
    State m_state = State::Reading;
};

}  // namespace

void HttpServer::Impl::Accept() {
    acceptor.async_accept(net::make_strand(ioc), [self = shared_from_this()](beast::error_code ec, tcp::socket socket) {
        if (self->stopping || !self->acceptor.is_open()) return;
        if (ec) {
            // Out of descriptors and the like: wait a little instead of spinning on the error.
            self->acceptTimer.expires_after(std::chrono::milliseconds(50));
            self->acceptTimer.async_wait([self](beast::error_code) {
                if (!self->stopping) self->Accept();
            });
            return;
        }
        self->Admit(std::move(socket));
        self->Accept();
    });
}

void HttpServer::Impl::Admit(tcp::socket socket) {
    beast::error_code ec;
    const auto peer = socket.remote_endpoint(ec);
    if (ec) return;
    const std::string remote = peer.address().to_string();
    socket.set_option(tcp::no_delay(true), ec);
    bool admitted = false;
    std::shared_ptr<Session> evicted;
    {
        std::lock_guard<std::mutex> lock(mutex);
        size_t& mine = perAddress[remote];
        // At the total cap a new connection still gets a place: the one waiting longest for a request
        // header to complete is closed for it, so half-open connections cannot hold every place.
        if ((mine < options.maxPerAddress || remote == options.trustedProxy) &&
            (sessions.size() - evicting < options.maxConnections || (evicted = EvictOneLocked()))) {
            ++mine;
            admitted = true;
        } else if (mine == 0) {
            perAddress.erase(remote);
        }
    }
    if (evicted) net::post(evicted->Executor(), [evicted] { evicted->Close(); });
    if (!admitted) {
        if (options.refused) options.refused("busy");
        // Over a cap: a short reply from the socket's empty send buffer, without reading anything.
        const std::string& body = options.refusals.busy;
        const std::string reply = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: " + options.refusals.contentType +
                                  "\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) +
                                  "\r\n\r\n" + body;
        socket.non_blocking(true, ec);
        socket.write_some(net::buffer(reply), ec);
        socket.shutdown(tcp::socket::shutdown_both, ec);
        socket.close(ec);
        return;
    }
    auto session = std::make_shared<Session>(shared_from_this(), std::move(socket), remote);
    {
        std::lock_guard<std::mutex> lock(mutex);
        sessions[session.get()] = session;
        if (options.connections) options.connections(sessions.size());
    }
    net::dispatch(session->Executor(), [session] { session->Start(); });
}

// Marks the connection that has waited longest for a request header to complete, for closing once the lock
// is released (its last owner may be the caller, and its destructor takes the lock).
std::shared_ptr<Session> HttpServer::Impl::EvictOneLocked() {
    Session* oldest = nullptr;
    int64_t since = 0;
    for (const auto& [raw, weak] : sessions) {
        const int64_t waiting = raw->WaitingSince();
        if (waiting != 0 && !raw->evicted && (!oldest || waiting < since)) {
            oldest = raw;
            since = waiting;
        }
    }
    if (!oldest) return nullptr;
    auto victim = sessions[oldest].lock();
    if (!victim) return nullptr;
    victim->evicted = true;
    ++evicting;
    return victim;
}

void HttpServer::Impl::Forget(Session* session, const std::string& address) {
    std::lock_guard<std::mutex> lock(mutex);
    if (session->evicted) --evicting;
    sessions.erase(session);
    if (options.connections) options.connections(sessions.size());
    auto it = perAddress.find(address);
    if (it != perAddress.end() && --it->second == 0) perAddress.erase(it);
}

bool HttpServer::Impl::TakeToken(const std::string& address) {
    if (options.ratePerSecond <= 0) return true;
    const auto now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex);
    if (buckets.size() > 100000) {
        // Full buckets are the same as absent ones.
        for (auto it = buckets.begin(); it != buckets.end();) {
            const double refill = std::chrono::duration<double>(now - it->second.last).count() * options.ratePerSecond;
            it = it->second.tokens + refill >= options.rateBurst ? buckets.erase(it) : std::next(it);
        }
    }
    auto [it, fresh] = buckets.try_emplace(address, Bucket{options.rateBurst, now});
    Bucket& b = it->second;
    if (!fresh) {
        b.tokens = std::min(options.rateBurst,
                            b.tokens + std::chrono::duration<double>(now - b.last).count() * options.ratePerSecond);
        b.last = now;
    }
    if (b.tokens < 1) return false;
    b.tokens -= 1;
    return true;
}

void HttpServer::Impl::Stop() {
    std::lock_guard<std::mutex> stopLock(stopMutex);
    if (stopping.exchange(true)) return;
    auto sessionsNow = [this] {
        std::vector<std::shared_ptr<Session>> live;
        std::lock_guard<std::mutex> lock(mutex);
        for (auto& [raw, weak] : sessions)
            if (auto s = weak.lock()) live.push_back(std::move(s));
        return live;
    };
    net::post(ioc, [self = shared_from_this()] {
        beast::error_code ec;
        self->acceptor.close(ec);
        self->acceptTimer.cancel();
    });
    std::vector<std::future<void>> stopped;
    for (auto& s : sessionsNow()) {
        auto done = std::make_shared<std::promise<void>>();
        stopped.push_back(done->get_future());
        net::post(s->Executor(), [s, done] {
            s->OnStop();
            done->set_value();
        });
    }
    auto deadline = Clock::now() + options.shutdownGrace;
    for (auto& f : stopped) f.wait_until(deadline);
    // What had not fully arrived is closed, so every request there will be has been handed over: the handler
    // settles them all, their replies posted to their connections, before anyone is cut off for time.
    handler.Settle();
    // Replies being written get the grace period; then whatever is left is closed.
    deadline = Clock::now() + options.shutdownGrace;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (sessions.empty()) break;
        }
        if (Clock::now() >= deadline) {
            for (auto& s : sessionsNow()) net::post(s->Executor(), [s] { s->Close(); });
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // Now the event loop may run out of work and end.
    work.reset();
}

// Whatever is still queued runs once more (a reply for a connection already closed returns at once), and
// from then on nothing is queued: a session left in the queue would keep the server, and itself, alive.
void HttpServer::Impl::Drain() {
    {
        std::lock_guard<std::mutex> lock(deliverMutex);
        drained = true;
    }
    for (auto& s : [this] {
             std::vector<std::shared_ptr<Session>> live;
             std::lock_guard<std::mutex> lock(mutex);
             for (auto& [raw, weak] : sessions)
                 if (auto s = weak.lock()) live.push_back(std::move(s));
             return live;
         }())
        net::post(s->Executor(), [s] { s->Close(); });
    beast::error_code ec;
    acceptor.close(ec);
    acceptTimer.cancel();
    ioc.restart();
    ioc.run();
}

HttpServer::HttpServer(RequestHandler& handler, ServerOptions options)
    : m_impl(std::make_shared<Impl>(handler, std::move(options))) {}

HttpServer::~HttpServer() {
    Stop();
    m_impl->Drain();
}

int HttpServer::Bind() {
    beast::error_code ec;
    const auto address = net::ip::make_address(m_impl->options.host, ec);
    if (ec) return -1;
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(m_impl->options.port));
    auto& acceptor = m_impl->acceptor;
    acceptor.open(endpoint.protocol(), ec);
    if (ec) return -1;
    // A restart must not wait for the previous run's connections to leave TIME_WAIT.
    acceptor.set_option(net::socket_base::reuse_address(true), ec);
    acceptor.bind(endpoint, ec);
    if (ec) return -1;
    acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) return -1;
    return acceptor.local_endpoint().port();
}

bool HttpServer::Run() {
    if (!m_impl->acceptor.is_open()) return false;
    {
        std::lock_guard<std::mutex> lock(m_impl->stopMutex);
        if (!m_impl->stopping) {
            m_impl->work.emplace(net::make_work_guard(m_impl->ioc));
            m_impl->Accept();
        }
    }
    m_impl->running = true;
    std::vector<std::thread> threads;
    for (int i = 1; i < std::max(1, m_impl->options.ioThreads); ++i) threads.emplace_back([this] { m_impl->ioc.run(); });
    m_impl->ioc.run();
    for (auto& t : threads) t.join();
    m_impl->running = false;
    return true;
}

bool HttpServer::IsRunning() const { return m_impl->running; }

void HttpServer::Stop() {
    if (m_impl->stopping) return;
    m_impl->Stop();
}

}  // namespace Service
