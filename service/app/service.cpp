#include "service/app/service.h"

#include <algorithm>
#include <chrono>
#include <future>

#include "service/domain/account_name.h"
#include "service/domain/identity.h"
#include "service/domain/report_charset.h"
#include "service/domain/report_parse.h"
#include "service/domain/rules.h"
#include "service/domain/service_text.h"
#include "service/http/form.h"
#include "service/app/wave_steps.h"
#include "service/pages/draw_pages.h"
#include "service/pages/pages.h"

namespace Service {

// Pages carry no scripts and load nothing: a script smuggled into a report could not run even if escaping
// failed somewhere.
void SecureHtml(HttpResponse& response) {
    response.headers.emplace("Content-Security-Policy",
                             "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; "
                             "frame-ancestors 'none'; base-uri 'none'");
    response.headers.emplace("X-Content-Type-Options", "nosniff");
    // same-origin, not no-referrer: under no-referrer a browser posts a form with "Origin: null", and the
    // staff desk's same-origin check then refuses every real login.
    response.headers.emplace("Referrer-Policy", "same-origin");
}

namespace {

using Http::CookieValue;
using Http::FormValue;
using Http::Header;
const char* const kHtml = "text/html; charset=utf-8";
constexpr const char* kCookie = "zorv_admin";

HttpResponse Json(const ReplySpec& reply) {
    HttpResponse r;
    r.status = reply.status;
    r.contentType = kJsonType;
    r.body = reply.Body();
    return r;
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

}  // namespace

Refusals ReportRefusals() {
    Refusals r;
    r.contentType = kJsonType;
    r.malformed = Refusal::kMalformed.Body();
    r.timeout = Refusal::kTimeout.Body();
    r.tooLarge = Refusal::kTooLarge.Body();
    r.compressed = Refusal::kCompressed.Body();
    r.tooMany = Refusal::kTooMany.Body();
    r.busy = Refusal::kBusy.Body();
    return r;
}

std::string BenchReply() { return ReplyTo(Outcome::Success).Body(); }

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

bool ReportService::Enqueue(WriteJob job) {
    // Reports and malformed bodies count against the bound; registrations and flushes are few.
    const bool counted = std::holds_alternative<ReportJob>(job) || std::holds_alternative<MalformedJob>(job);
    {
        std::lock_guard<std::mutex> lock(m_writeMutex);
        if (m_stopping || (counted && m_pendingReports >= m_options.maxPending)) return false;
        if (counted) ++m_pendingReports;
        m_writes.push_back(std::move(job));
    }
    m_writeReady.notify_one();
    return true;
}

// The single writer: everything queued goes into one transaction and one fsync; only then is anyone answered.
void ReportService::WriterLoop() {
    for (;;) {
        std::vector<WriteJob> jobs;
        size_t queued = 0;
        {
            std::unique_lock<std::mutex> lock(m_writeMutex);
            m_writeReady.wait(lock, [this] { return m_stopping || !m_writes.empty(); });
            if (m_writes.empty()) return;  // stopping with nothing left
            size_t counted = 0;
            while (!m_writes.empty() && counted < m_options.maxBatch) {
                const WriteJob& next = m_writes.front();
                if (std::holds_alternative<ReportJob>(next) || std::holds_alternative<MalformedJob>(next)) ++counted;
                jobs.push_back(std::move(m_writes.front()));
                m_writes.pop_front();
            }
            m_pendingReports -= counted;
            queued = m_pendingReports;
        }
        Write(jobs, queued);
        // Logged when it changes: a lost SQLite file stays lost, a PostgreSQL server may come back.
        const bool healthy = m_writer->Healthy();
        if (healthy == m_reportedBroken && m_options.log)
            m_options.log(healthy ? std::string("database: available again")
                                  : "database: " + m_writer->LastError() + "; no report is accepted while it lasts");
        m_reportedBroken = !healthy;
    }
}

void ReportService::Write(std::vector<WriteJob>& jobs, size_t queued) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    Batch batch;
    batch.requireRegistered = m_options.requireRegistered;
    batch.maxEnrolmentsPerAddress = m_options.maxEnrolmentsPerAddress;
    std::vector<ReportJob*> reportJobs;
    for (auto& job : jobs) {
        if (auto* r = std::get_if<ReportJob>(&job)) {
            batch.reports.push_back(std::move(r->report));
            reportJobs.push_back(r);
        } else if (auto* m = std::get_if<MalformedJob>(&job)) {
            batch.malformed.push_back(std::move(m->malformed));
        }
    }
    std::optional<std::vector<Outcome>> outcomes;
    if (!batch.reports.empty() || !batch.malformed.empty()) outcomes = m_writer->Apply(batch);
    const auto applied = Clock::now();
    if (!batch.reports.empty() && m_options.committed)
        m_options.committed(outcomes ? batch.reports.size() : 0, std::chrono::duration<double>(applied - start).count(),
                            queued);
    for (size_t i = 0; i < reportJobs.size(); ++i)
        reportJobs[i]->done(outcomes ? std::optional<Outcome>((*outcomes)[i]) : std::nullopt);
    for (auto& job : jobs) {
        if (auto* r = std::get_if<RegistrationJob>(&job)) r->done(m_writer->Register(r->name, r->accountKey, r->remote, r->at));
        else if (auto* f = std::get_if<FlushJob>(&job)) f->done();
    }
    if (m_options.timing && !batch.reports.empty()) {
        auto us = [](Clock::duration d) { return std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(d).count()); };
        // Parse and identity run on the I/O threads as requests arrive: their sums since the last batch.
        const auto parse = m_parseNs.exchange(0) / 1000, identity = m_identityNs.exchange(0) / 1000;
        m_options.timing("batch " + std::to_string(batch.reports.size()) + " parse_us " + std::to_string(parse) +
                         " identity_us " + std::to_string(identity) + " apply_us " + us(applied - start) + " " +
                         m_writer->LastTiming());
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
    if (Enqueue(FlushJob{[&flushed] { flushed.set_value(); }})) flushed.get_future().wait();
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

HttpResponse ReportService::TooLarge() { return Json(Refusal::kTooLarge); }

void ReportService::Handle(HttpRequest request, Reply reply) {
    if (request.path == kReportPath) {
        if (request.method == "POST") return PostReport(std::move(request), std::move(reply));
        HttpResponse r = Json(Refusal::kWrongMethod);
        r.headers.emplace("Allow", "POST");
        return reply(std::move(r));
    }
    if (request.path == "/register" && (request.method == "GET" || request.method == "POST"))
        return RegisterPage(std::move(request), std::move(reply));
    if (request.path == "/" && request.method == "GET") return Dashboard(request, std::move(reply));
    if (request.path == "/reports.csv" && request.method == "GET") return ReportsCsv(request, std::move(reply));
    if (request.path == "/status" && request.method == "GET") return StatusPage(request, std::move(reply));
    if (request.path == "/waves" || request.path.rfind("/waves/", 0) == 0) return Waves(std::move(request), std::move(reply));
    if (m_options.moreRoutes && m_options.moreRoutes(request, reply)) return;
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
    const auto t0 = std::chrono::steady_clock::now();
    const ServiceText::BodyCharset charset = ServiceText::ReadBodyCharset(Header(request, "content-type"));
    ParseResult parsed;
    if (charset.supported) parsed = ParseReport(request.body, charset.table);
    else parsed.error = "charset " + charset.declared + " is not supported";
    const auto t1 = std::chrono::steady_clock::now();
    std::string problem = parsed.report ? NumbersProblem(*parsed.report) : parsed.error;
    if (!parsed.report || !problem.empty()) {
        // Counted, with a bounded sample kept; the sender's reply does not wait for it.
        // Only the sample's bytes are held, and a flood beyond the queue's bound goes unrecorded.
        request.body.resize(std::min(request.body.size(), kMalformedSampleBytes));
        Enqueue(MalformedJob{{std::move(request.body), request.remote, std::move(problem), m_clock()}});
        return reply(Json(charset.supported ? Refusal::kMalformed : Refusal::kUnknownCharset));
    }
    PendingReport p = Prepare(std::move(*parsed.report), std::move(request.body), request.remote, m_clock());
    if (m_options.timing) {
        const auto t2 = std::chrono::steady_clock::now();
        m_parseNs += std::chrono::duration_cast<std::chrono::nanoseconds>(t1 - t0).count();
        m_identityNs += std::chrono::duration_cast<std::chrono::nanoseconds>(t2 - t1).count();
    }
    if (p.accountKey.empty()) return reply(Json(Refusal::kMalformed));
    auto shared = std::make_shared<Reply>(std::move(reply));
    auto done = [shared](std::optional<Outcome> outcome) { (*shared)(Json(ReplyTo(outcome))); };
    if (!Enqueue(ReportJob{std::move(p), done})) done(std::nullopt);
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
    auto registered = [finish, name](RegisterResult result) {
        switch (result) {
        case RegisterResult::Registered: return finish(200, "注册成功：" + name, true);
        case RegisterResult::Duplicate: return finish(409, "该账号名已被注册：" + name, false);
        case RegisterResult::Failed: return finish(503, Replies::kServerError, false);
        }
    };
    if (!Enqueue(RegistrationJob{name, Identity::AccountKey(name), request.remote, m_clock(), registered}))
        finish(503, Replies::kServerError, false);
}

void ReportService::Dashboard(const HttpRequest& request, Reply reply) {
    bool fromQuery = false;
    if (!IsAdmin(request, fromQuery) && !(m_options.staffDashboard && m_options.staffDashboard(request)))
        return reply(Refused());
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
    if (m_options.tokenExported) m_options.tokenExported(request);
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

namespace {

// Where the staff's audit log records a wave's step (who, when, from where, what); the admin token has no
// names to record, so nothing is written until staff accounts sign the steps.
void AuditWaveStep(const HttpRequest& request, const std::string& step, int64_t wave, const StepResult& result) {
    (void)request, (void)step, (void)wave, (void)result;
}

// "/waves" → 0 and "", "/waves/3" → 3 and "", "/waves/3/freeze" → 3 and "freeze"; false for anything else.
bool WavePath(const std::string& path, int64_t& wave, std::string& rest) {
    wave = 0;
    rest.clear();
    if (path == "/waves") return true;
    const std::string tail = path.substr(7);
    const size_t slash = tail.find('/');
    const std::string number = tail.substr(0, slash);
    if (number.empty() || number.size() > 9 || number.find_first_not_of("0123456789") != std::string::npos) return false;
    wave = std::atoll(number.c_str());
    if (slash != std::string::npos) rest = tail.substr(slash + 1);
    return wave > 0 && rest.find('/') == std::string::npos;
}

}  // namespace

void ReportService::Waves(HttpRequest request, Reply reply) {
    bool fromQuery = false;
    if (!IsAdmin(request, fromQuery)) return reply(Refused());
    int64_t id = 0;
    std::string rest;
    if (!WavePath(request.path, id, rest)) return reply(PlainError(404));
    const bool post = request.method == "POST";
    if (!post && request.method != "GET") return reply(PlainError(405));
    auto shared = std::make_shared<Reply>(std::move(reply));
    auto work = [this, shared, request = std::move(request), id, rest, post, fromQuery] {
        Storage& storage = *m_reader;
        const int64_t now = m_clock();
        HttpResponse r;
        r.contentType = kHtml;
        RememberAdmin(r, fromQuery, m_options.adminToken);
        auto finish = [&] {
            SecureHtml(r);
            (*shared)(std::move(r));
        };
        auto showWave = [&](int64_t wave, const StepResult& step) {
            const auto record = storage.Wave(wave);
            if (!record) return r = PlainError(503), finish();
            if (record->id == 0) return r = PlainError(404), finish();
            WavePage page{*record, std::nullopt, step.notice, step.good};
            if (record->state >= Draw::WaveState::Drawn) page.coverage = storage.Coverage(wave);
            r.status = step.status;
            r.body = RenderWavePage(page);
            finish();
        };
        if (id == 0) {
            StepResult step{200, {}, true, 0};
            if (post) {
                WaveForm form;
                for (const auto& [name, value] : Http::DecodePairs(request.body)) {
                    if (name == "name") form.name = value;
                    else if (name == "size") form.size = value;
                    else if (name == "strategy") form.strategy = value;
                    else if (name == "minimum") form.minimum = value;
                    else if (name == "aspect") form.aspects.push_back(value);
                }
                step = CreateWave(storage, form, now);
                AuditWaveStep(request, "create", step.wave, step);
                if (step.good) return showWave(step.wave, step);
            }
            const auto waves = storage.Waves();
            if (!waves) return r = PlainError(503), finish();
            r.status = step.status;
            r.body = RenderWavesPage(*waves, step.notice, step.good);
            return finish();
        }
        if (post) {
            StepResult step;
            if (rest == "freeze") step = FreezeWave(storage, id, m_options.requireRegistered, now);
            else if (rest == "seed") step = SeedWave(storage, id, FormValue(request.body, "seed"), now);
            else if (rest == "draw") step = DrawWave(storage, id, now);
            else if (rest == "publish") step = PublishWave(storage, id, now);
            else return r = PlainError(404), finish();
            AuditWaveStep(request, rest, id, step);
            return showWave(id, step);
        }
        if (rest.empty()) return showWave(id, {200, {}, true, id});
        const auto wave = storage.Wave(id);
        if (!wave) return r = PlainError(503), finish();
        if (wave->id == 0) return r = PlainError(404), finish();
        r.contentType = "text/csv; charset=utf-8";
        r.headers.emplace("Content-Disposition", "attachment; filename=\"wave" + std::to_string(id) + "-" + rest + "\"");
        std::optional<std::string> body;
        if (rest == "list.csv" && wave->state >= Draw::WaveState::Frozen) body = storage.WaveFile(id, WaveFileKind::List);
        else if (rest == "result.csv" && wave->state >= Draw::WaveState::Drawn) body = storage.WaveFile(id, WaveFileKind::Result);
        else if (rest == "codes.csv" && wave->state == Draw::WaveState::Published) {
            std::string csv = WaveCodesCsvHeader();
            if (storage.WaveCodes(id, [&csv](const Draw::ChosenRow& row) { return csv += WaveCodesCsvLine(row), true; }))
                body = std::move(csv);
            AuditWaveStep(request, "export", id, {200, {}, true, id});
        } else if (rest == "list.csv" || rest == "result.csv" || rest == "codes.csv") {
            return r = PlainError(409), r.body = "not yet\n", finish();
        } else {
            return r = PlainError(404), finish();
        }
        if (!body) return r = PlainError(503), finish();
        r.body = std::move(*body);
        finish();
    };
    if (!RunBlocking(std::move(work))) (*shared)(PlainError(503));
}

void ReportService::StatusPage(const HttpRequest& request, Reply reply) {
    const auto it = request.query.find("account");
    const std::string account = it == request.query.end() ? std::string() : ServiceText::Trim(it->second);
    auto render = [](const std::string& account, const std::string& answer) {
        HttpResponse r;
        r.contentType = kHtml;
        r.body = RenderStatusPage(account, answer);
        SecureHtml(r);
        return r;
    };
    if (account.empty()) return reply(render({}, {}));
    if (!RegistrationProblem(account).empty()) return reply(render(account, "尚未报名"));
    auto shared = std::make_shared<Reply>(std::move(reply));
    const bool taken = RunBlocking([this, shared, account, render] {
        const auto answer = StatusOf(*m_reader, account);
        (*shared)(answer ? render(account, *answer) : PlainError(503));
    });
    if (!taken) (*shared)(PlainError(503));
}

}  // namespace Service
