#include "service/service.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <future>

#include "service/account_name.h"
#include "service/identity.h"
#include "service/pages.h"
#include "service/report_charset.h"
#include "service/report_parse.h"
#include "service/service_text.h"

namespace Service {

namespace {

const char* const kJson = "application/json; charset=utf-8";
const char* const kHtml = "text/html; charset=utf-8";
constexpr const char* kCookie = "zorv_admin";

// Pages carry no scripts and load nothing: a script smuggled into a report could not run even if escaping
// failed somewhere.
void SecureHtml(HttpResponse& response) {
    response.headers.emplace("Content-Security-Policy",
                             "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; "
                             "frame-ancestors 'none'; base-uri 'none'");
    response.headers.emplace("X-Content-Type-Options", "nosniff");
    response.headers.emplace("Referrer-Policy", "no-referrer");
}

HttpResponse Json(int status, int code, const char* message, int points = -1) {
    HttpResponse r;
    r.status = status;
    r.contentType = kJson;
    r.body = ReplyJson(code, message, points);
    return r;
}

// Digits only, within [0, max]; memory may also be left empty (not measured).
bool SaneDecimal(const std::string& text, int64_t max) {
    if (text.empty()) return true;
    if (text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    return std::stoll(text) <= max;
}

// Why the numbers of a parsed report are not believable; empty when they are.
std::string NumbersProblem(const Report& r) {
    if (r.cpuCount < 0 || r.cpuCount > kMaxCpuCount) return "processor count out of range";
    if (r.clockMHz < 0 || r.clockMHz > kMaxClockMHz) return "clock out of range";
    if (!SaneDecimal(r.memoryMB, kMaxMemoryMB)) return "memory out of range";
    return {};
}

HttpResponse PlainError(int status) {
    HttpResponse r;
    r.status = status;
    r.contentType = "text/plain; charset=utf-8";
    r.body = Replies::kServerError;
    return r;
}

bool SameSecret(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

std::string Header(const HttpRequest& request, const std::string& name) {
    auto it = request.headers.find(name);
    return it == request.headers.end() ? std::string() : it->second;
}

std::string CookieValue(const std::string& cookies, const std::string& name) {
    size_t pos = 0;
    while (pos < cookies.size()) {
        size_t end = cookies.find(';', pos);
        if (end == std::string::npos) end = cookies.size();
        const std::string pair = ServiceText::Trim(std::string_view(cookies).substr(pos, end - pos));
        const size_t eq = pair.find('=');
        if (eq != std::string::npos && pair.substr(0, eq) == name) return pair.substr(eq + 1);
        pos = end + 1;
    }
    return {};
}

std::string FormValue(const std::string& body, const std::string& name) {
    for (auto& [key, value] : ServiceText::DecodePairs(body))
        if (key == name) return std::move(value);
    return {};
}

}  // namespace

std::string ReplyJson(int code, const std::string& message, int points) {
    std::string body = "{\"code\":" + std::to_string(code);
    if (points >= 0) body += ",\"points\":" + std::to_string(points);
    return body + ",\"message\":\"" + message + "\"}";
}

HttpResponse JsonReply(int status, int code, const char* message) { return Json(status, code, message); }

struct ReportService::WriteJob {
    enum class Kind { Report, Malformed, Register, Flush } kind = Kind::Report;
    PendingReport report;
    MalformedReport malformed;
    std::string name, accountKey;  // registration
    std::function<void(std::optional<Outcome>)> done;             // reports
    std::function<void(RegisterResult)> registered;               // registration
};

ReportService::ReportService(std::unique_ptr<Storage> writer, std::unique_ptr<Storage> reader,
                             ServiceOptions options, Clock clock)
    : m_writer(std::move(writer)), m_reader(std::move(reader)), m_options(std::move(options)), m_clock(std::move(clock)) {
    if (!m_clock)
        m_clock = [] {
            return static_cast<int64_t>(
                std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                    .count());
        };
    m_writerThread = std::thread([this] { WriterLoop(); });
    m_readerThread = std::thread([this] { ReaderLoop(); });
}

ReportService::~ReportService() {
    {
        std::lock_guard<std::mutex> lock(m_writeMutex);
        m_stopping = true;
    }
    m_writeReady.notify_all();
    {
        std::lock_guard<std::mutex> lock(m_readMutex);
        m_readStopping = true;
    }
    m_readReady.notify_all();
    m_writerThread.join();
    m_readerThread.join();
}

bool ReportService::Enqueue(WriteJob job, bool report) {
    {
        std::lock_guard<std::mutex> lock(m_writeMutex);
        if (m_stopping || (report && m_pendingReports >= m_options.maxPending)) return false;
        if (report) ++m_pendingReports;
        m_writes.push_back(std::move(job));
    }
    m_writeReady.notify_one();
    return true;
}

// The single writer: everything queued goes into one transaction and one fsync; only then is anyone answered.
void ReportService::WriterLoop() {
    for (;;) {
        std::vector<WriteJob> jobs;
        {
            std::unique_lock<std::mutex> lock(m_writeMutex);
            m_writeReady.wait(lock, [this] { return m_stopping || !m_writes.empty(); });
            if (m_writes.empty()) return;  // stopping with nothing left
            size_t reports = 0;
            while (!m_writes.empty() && reports < m_options.maxBatch) {
                if (m_writes.front().kind == WriteJob::Kind::Report ||
                    m_writes.front().kind == WriteJob::Kind::Malformed)
                    ++reports;
                jobs.push_back(std::move(m_writes.front()));
                m_writes.pop_front();
            }
            m_pendingReports -= reports;
        }
        Batch batch;
        batch.requireRegistered = m_options.requireRegistered;
        std::vector<WriteJob*> reportJobs;
        for (auto& job : jobs) {
            if (job.kind == WriteJob::Kind::Report) {
                batch.reports.push_back(std::move(job.report));
                reportJobs.push_back(&job);
            } else if (job.kind == WriteJob::Kind::Malformed) {
                batch.malformed.push_back(std::move(job.malformed));
            }
        }
        std::optional<std::vector<Outcome>> outcomes;
        if (!batch.reports.empty() || !batch.malformed.empty()) outcomes = m_writer->Apply(batch);
        for (size_t i = 0; i < reportJobs.size(); ++i)
            reportJobs[i]->done(outcomes ? std::optional<Outcome>((*outcomes)[i]) : std::nullopt);
        for (auto& job : jobs) {
            if (job.kind == WriteJob::Kind::Register)
                job.registered(m_writer->Register(job.name, job.accountKey, job.report.remote, job.report.receivedAt));
            else if (job.kind == WriteJob::Kind::Flush)
                job.done(std::nullopt);
        }
        // Logged when it changes: a lost SQLite file stays lost, a PostgreSQL server may come back.
        const bool healthy = m_writer->Healthy();
        if (healthy == m_reportedBroken && m_options.log)
            m_options.log(healthy ? std::string("database: available again")
                                  : "database: " + m_writer->LastError() + "; no report is accepted while it lasts");
        m_reportedBroken = !healthy;
    }
}

void ReportService::ReaderLoop() {
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock<std::mutex> lock(m_readMutex);
            m_readReady.wait(lock, [this] { return m_readStopping || !m_reads.empty(); });
            if (m_reads.empty()) return;
            work = std::move(m_reads.front());
            m_reads.pop_front();
        }
        work();
    }
}

void ReportService::Flush() {
    std::promise<void> flushed;
    WriteJob job;
    job.kind = WriteJob::Kind::Flush;
    job.done = [&flushed](std::optional<Outcome>) { flushed.set_value(); };
    if (Enqueue(std::move(job), false)) flushed.get_future().wait();
}

bool ReportService::RunBlocking(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> lock(m_readMutex);
        // Admin work only: a short queue is plenty, and a flood of it cannot pile up.
        if (m_readStopping || m_reads.size() >= 64) return false;
        m_reads.push_back(std::move(work));
    }
    m_readReady.notify_one();
    return true;
}

HttpResponse ReportService::TooLarge() { return Json(413, 3, Replies::kTooLarge); }

void ReportService::Handle(HttpRequest request, Reply reply) {
    if (request.path == kReportPath) {
        if (request.method == "POST") return PostReport(std::move(request), std::move(reply));
        HttpResponse r = Json(405, 3, Replies::kMalformed);
        r.headers.emplace("Allow", "POST");
        return reply(std::move(r));
    }
    if (request.path == "/register" && (request.method == "GET" || request.method == "POST"))
        return RegisterPage(std::move(request), std::move(reply));
    if (request.path == "/" && request.method == "GET") return Dashboard(request, std::move(reply));
    if (request.path == "/reports.csv" && request.method == "GET") return ReportsCsv(request, std::move(reply));
    HttpResponse r;
    r.status = 404;
    r.contentType = "text/plain; charset=utf-8";
    r.body = "not found\n";
    reply(std::move(r));
}

HttpResponse ReportService::HandleAndWait(const HttpRequest& request) {
    std::promise<HttpResponse> promise;
    auto future = promise.get_future();
    Handle(request, [&promise](HttpResponse r) { promise.set_value(std::move(r)); });
    HttpResponse response = future.get();
    if (response.stream) {
        std::promise<bool> done;
        auto finished = done.get_future();
        auto stream = std::move(response.stream);
        std::string& body = response.body;
        if (!RunBlocking([&] {
                done.set_value(stream([&body](std::string_view piece) {
                    body.append(piece);
                    return true;
                }));
            }))
            return PlainError(503);
        if (!finished.get()) response.status = 500;  // cut off: a socket would have been closed early
    }
    return response;
}

void ReportService::PostReport(HttpRequest request, Reply reply) {
    if (request.body.size() > kMaxReportBody) return reply(TooLarge());
    const ServiceText::BodyCharset charset = ServiceText::ReadBodyCharset(Header(request, "content-type"));
    ParseResult parsed;
    if (charset.supported) parsed = ParseReport(request.body, charset.table);
    else parsed.error = "charset " + charset.declared + " is not supported";
    std::string problem = parsed.report ? NumbersProblem(*parsed.report) : parsed.error;
    if (!parsed.report || !problem.empty()) {
        // Counted, with a bounded sample kept; the sender's reply does not wait for it.
        // Only the sample's bytes are held, and a flood beyond the queue's bound goes unrecorded.
        WriteJob job;
        job.kind = WriteJob::Kind::Malformed;
        request.body.resize(std::min(request.body.size(), kMalformedSampleBytes));
        job.malformed = {std::move(request.body), request.remote, std::move(problem), m_clock()};
        Enqueue(std::move(job), true);
        return reply(charset.supported ? Json(400, 3, Replies::kMalformed) : Json(415, 3, Replies::kUnknownCharset));
    }
    WriteJob job;
    job.kind = WriteJob::Kind::Report;
    PendingReport& p = job.report;
    p.report = std::move(*parsed.report);
    p.accountKey = Identity::AccountKey(p.report.account);
    p.macKey = Identity::MacKey(p.report.mac);
    p.fingerprint = Identity::Fingerprint(p.report);
    p.rawBody = std::move(request.body);
    p.remote = request.remote;
    p.receivedAt = m_clock();
    if (p.accountKey.empty()) return reply(Json(400, 3, Replies::kMalformed));
    auto shared = std::make_shared<Reply>(std::move(reply));
    job.done = [shared](std::optional<Outcome> outcome) {
        if (!outcome) return (*shared)(Json(503, 5, Replies::kServerError));
        switch (*outcome) {
        case Outcome::Success: return (*shared)(Json(200, 0, Replies::kSuccess, kRewardPoints));
        case Outcome::AccountUsed: return (*shared)(Json(200, 1, Replies::kAccountUsed));
        case Outcome::MachineUsed: return (*shared)(Json(200, 2, Replies::kMachineUsed));
        case Outcome::NotRegistered: return (*shared)(Json(200, 4, Replies::kNotRegistered));
        }
        (*shared)(Json(503, 5, Replies::kServerError));
    };
    if (!Enqueue(std::move(job), true)) (*shared)(Json(503, 5, Replies::kServerError));
}

bool ReportService::IsAdmin(const HttpRequest& request, bool& fromQuery) const {
    fromQuery = false;
    const std::string& token = m_options.adminToken;
    if (token.empty()) return false;
    auto q = request.query.find("token");
    if (q != request.query.end() && SameSecret(q->second, token)) {
        fromQuery = true;
        return true;
    }
    if (SameSecret(CookieValue(Header(request, "cookie"), kCookie), token)) return true;
    if (SameSecret(Header(request, "x-admin-token"), token)) return true;
    const std::string auth = Header(request, "authorization");
    return auth.rfind("Bearer ", 0) == 0 && SameSecret(auth.substr(7), token);
}

HttpResponse ReportService::Refused() const {
    HttpResponse r;
    r.status = 401;
    r.contentType = kHtml;
    r.body = RenderRefusedPage();
    SecureHtml(r);
    return r;
}

namespace {
// Once the token came in the address, a cookie lets the links on the page work without it.
void RememberAdmin(HttpResponse& r, bool fromQuery, const std::string& token) {
    if (fromQuery)
        r.headers.emplace("Set-Cookie", std::string(kCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict");
    r.headers.emplace("Cache-Control", "no-store");
}
}  // namespace

void ReportService::RegisterPage(HttpRequest request, Reply reply) {
    bool fromQuery = false;
    const bool admin = IsAdmin(request, fromQuery);
    auto shared = std::make_shared<Reply>(std::move(reply));
    // The page, once the registration (if any) is decided: the account list is read on the reader thread.
    auto finish = [this, admin, fromQuery, shared](int status, std::string notice, bool good) {
        auto render = [this, admin, fromQuery, shared, status, notice, good] {
            HttpResponse r;
            r.status = status;
            r.contentType = kHtml;
            std::optional<std::vector<AccountRow>> accounts;
            if (admin) {
                accounts = m_reader->Accounts();
                RememberAdmin(r, fromQuery, m_options.adminToken);
            }
            r.body = RenderRegisterPage(notice, good, accounts ? &*accounts : nullptr);
            SecureHtml(r);
            (*shared)(std::move(r));
        };
        // Only the admin's page reads the database; the players' page is rendered where it is.
        if (!admin) return render();
        if (!RunBlocking(render)) (*shared)(PlainError(503));
    };
    if (request.method != "POST") return finish(200, {}, false);
    const std::string name = ServiceText::Trim(FormValue(request.body, "account"));
    std::string notice = RegistrationProblem(name);
    if (!notice.empty()) return finish(400, notice, false);
    WriteJob job;
    job.kind = WriteJob::Kind::Register;
    job.name = name;
    job.accountKey = Identity::AccountKey(name);
    job.report.remote = request.remote;
    job.report.receivedAt = m_clock();
    job.registered = [finish, name](RegisterResult result) {
        switch (result) {
        case RegisterResult::Registered: return finish(200, "注册成功：" + name, true);
        case RegisterResult::Duplicate: return finish(409, "该账号名已被注册：" + name, false);
        case RegisterResult::Failed: return finish(503, Replies::kServerError, false);
        }
    };
    if (!Enqueue(std::move(job), false)) finish(503, Replies::kServerError, false);
}

void ReportService::Dashboard(const HttpRequest& request, Reply reply) {
    bool fromQuery = false;
    if (!IsAdmin(request, fromQuery)) return reply(Refused());
    auto shared = std::make_shared<Reply>(std::move(reply));
    const bool taken = RunBlocking([this, shared, fromQuery] {
        const auto data = m_reader->Dashboard();
        if (!data) return (*shared)(PlainError(503));
        HttpResponse r;
        r.contentType = kHtml;
        r.body = RenderDashboard(*data);
        RememberAdmin(r, fromQuery, m_options.adminToken);
        SecureHtml(r);
        (*shared)(std::move(r));
    });
    if (!taken) (*shared)(PlainError(503));
}

void ReportService::ReportsCsv(const HttpRequest& request, Reply reply) {
    bool fromQuery = false;
    if (!IsAdmin(request, fromQuery)) return reply(Refused());
    HttpResponse r;
    r.contentType = "text/csv; charset=utf-8";
    r.headers.emplace("Content-Disposition", "attachment; filename=\"reports.csv\"");
    RememberAdmin(r, fromQuery, m_options.adminToken);
    // Read and written a piece at a time: memory stays the same whatever the number of reports.
    r.stream = [this](const ChunkWriter& write) {
        std::string piece = ReportsCsvHeader();
        const bool ok = m_reader->Export([&](const ReportRow& row) {
            piece += ReportsCsvLine(row);
            if (piece.size() < 64 * 1024) return true;
            const bool written = write(piece);
            piece.clear();
            return written;
        });
        return ok && write(piece);
    };
    reply(std::move(r));
}

}  // namespace Service
