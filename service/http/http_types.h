#pragma once
// A request and its reply as the HTTP layer hands them over, and what it hands them to: the server knows
// sockets, limits and timers, the handler everything a request means.
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace Service {

struct HttpRequest {
    std::string method;  // "GET", "POST"
    std::string path;    // without the query
    std::multimap<std::string, std::string> query;    // decoded
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
    // block (RequestHandler::RunBlocking). False when it could not finish: the transfer is then cut off.
    std::function<bool(const ChunkWriter&)> stream;
};

using Reply = std::function<void(HttpResponse)>;

class RequestHandler {
public:
    virtual ~RequestHandler() = default;
    // Returns at once; reply is called exactly once, possibly on another thread.
    virtual void Handle(HttpRequest request, Reply reply) = 0;
    // Runs work on a thread that may block (streamed bodies); false when it is not taken.
    virtual bool RunBlocking(std::function<void()> work) = 0;
    // Returns once every request handed over so far has had its reply called (a stopping server calls it
    // before it cuts anyone off, so nothing done goes unanswered).
    virtual void Settle() {}
};

// The bodies of the replies the HTTP layer gives on its own, for requests it will not hand over; what they
// say is the application's.
struct Refusals {
    std::string contentType;
    std::string malformed;   // 400: not HTTP
    std::string timeout;     // 408: the request did not arrive in time
    std::string tooLarge;    // 413: a header or body over its limit
    std::string compressed;  // 415: a Content-Encoding other than identity
    std::string tooMany;     // 429: the address's token bucket is empty
    std::string busy;        // 503: over the connection caps
};

}  // namespace Service
