#include "service/app/service.h"

#include <algorithm>
#include <chrono>
#include <future>

#include "service/domain/account_name.h"
#include "service/domain/identity.h"
#include "service/domain/report_charset.h"
#include "service/domain/report_parse.h"
#include "service/domain/rules.h"
#include "service/domain/session.h"
#include "service/domain/service_text.h"
#include "service/http/form.h"
#include "service/app/wave_steps.h"
#include "service/pages/draw_pages.h"
#include "service/pages/pages.h"
#include "service/pages/staff_pages.h"

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

ReportService::Worker::Worker(size_t bound) : m_bound(bound) {
    m_thread = std::thread([this] {
        for (;;) {
            std::function<void()> work;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_ready.wait(lock, [this] { return m_stopping || !m_work.empty(); });
                if (m_work.empty()) return;
                work = std::move(m_work.front());
                m_work.pop_front();
            }
            work();
        }
    });
}

void ReportService::Worker::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_ready.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

bool ReportService::Worker::Post(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping || m_work.size() >= m_bound) return false;
        m_work.push_back(std::move(work));
    }
    m_ready.notify_one();
    return true;
}

ReportService::ReportService(std::unique_ptr<Storage> writer, std::unique_ptr<Storage> reader,
                             ServiceOptions options, Clock clock, std::unique_ptr<Storage> exporter)
    : m_writer(std::move(writer)), m_reader(std::move(reader)), m_exporter(std::move(exporter)),
      m_options(std::move(options)), m_clock(std::move(clock)) {
    m_exportFrom = m_exporter ? m_exporter.get() : m_reader.get();
    if (!m_clock)
        m_clock = [] {
            return static_cast<int64_t>(
                std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                    .count());
        };
    m_writerThread = std::thread([this] { WriterLoop(); });
    // Admin work only: a short queue is plenty, and a flood of it cannot pile up. A download holds its
    // thread for as long as the client takes: a few at a time.
    m_reads = std::make_unique<Worker>(64);
    if (m_exporter) m_exports = std::make_unique<Worker>(4);
}

ReportService::~ReportService() {
    {
        std::lock_guard<std::mutex> lock(m_writeMutex);
        m_stopping = true;
    }
    m_writeReady.notify_all();
    m_writerThread.join();
    if (m_exports) m_exports->Stop();
    m_reads->Stop();
}

namespace {
// Reports, malformed bodies and registrations count against the queue's bound and a batch's size; a flush
// marker is the program's own.
template <class Job>
bool Counted(const Job& job) {
    return job.index() != std::variant_size_v<Job> - 1;
}
}  // namespace

bool ReportService::Enqueue(WriteJob job) {
    static_assert(std::is_same_v<std::variant_alternative_t<3, WriteJob>, FlushJob>, "the flush marker is last");
    const bool counted = Counted(job);
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
            // Idle, the writer still looks at the database now and then, so /readyz and the log say at once
            // when the disk runs low or the database goes, not at the next report.
            if (!m_writeReady.wait_for(lock, std::chrono::seconds(2), [this] { return m_stopping || !m_writes.empty(); })) {
                lock.unlock();
                CheckHealth();
                continue;
            }
            if (m_writes.empty()) return;  // stopping with nothing left
            size_t counted = 0;
            while (!m_writes.empty() && counted < m_options.maxBatch) {
                const WriteJob& next = m_writes.front();
                if (Counted(next)) ++counted;
                jobs.push_back(std::move(m_writes.front()));
                m_writes.pop_front();
            }
            m_pendingReports -= counted;
            queued = m_pendingReports;
        }
        Write(jobs, queued);
        CheckHealth();
    }
}

void ReportService::CheckHealth() {
    // Logged when it changes, in one line saying why: a lost SQLite file stays lost, a PostgreSQL server may
    // come back, free space may be made.
    const bool healthy = m_writer->Healthy();
    const std::string why = healthy ? std::string() : m_writer->LastError();
    if (healthy == m_reportedBroken && m_options.log)
        m_options.log(healthy ? std::string("database: available again")
                              : "database: " + why + "; every report is answered 503 while it lasts");
    m_reportedBroken = !healthy;
    std::lock_guard<std::mutex> lock(m_healthMutex);
    m_unready = why;
}

std::string ReportService::Unready() const {
    std::lock_guard<std::mutex> lock(m_healthMutex);
    return m_unready;
}

void ReportService::Write(std::vector<WriteJob>& jobs, size_t queued) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    Batch batch;
    batch.requireRegistered = m_options.requireRegistered;
    batch.maxEnrolmentsPerAddress = m_options.maxEnrolmentsPerAddress;
    batch.refusedKept = m_options.refusedKept;
    std::vector<ReportJob*> reportJobs;
    std::vector<RegistrationJob*> registrationJobs;
    for (auto& job : jobs) {
        if (auto* r = std::get_if<ReportJob>(&job)) {
            batch.reports.push_back(std::move(r->report));
            reportJobs.push_back(r);
        } else if (auto* m = std::get_if<MalformedJob>(&job)) {
            batch.malformed.push_back(std::move(m->malformed));
        } else if (auto* g = std::get_if<RegistrationJob>(&job)) {
            batch.registrations.push_back(std::move(g->registration));
            registrationJobs.push_back(g);
        }
    }
    std::optional<std::vector<Outcome>> outcomes;
    std::vector<RegisterResult> registered;
    if (!batch.reports.empty() || !batch.malformed.empty() || !batch.registrations.empty())
        outcomes = m_writer->Apply(batch, registered);
    const auto applied = Clock::now();
    if (!batch.reports.empty() && m_options.committed)
        m_options.committed(outcomes ? batch.reports.size() : 0, std::chrono::duration<double>(applied - start).count(),
                            queued);
    for (size_t i = 0; i < reportJobs.size(); ++i)
        reportJobs[i]->done(outcomes ? std::optional<Outcome>((*outcomes)[i]) : std::nullopt);
    for (size_t i = 0; i < registrationJobs.size(); ++i)
        registrationJobs[i]->done(outcomes && i < registered.size() ? registered[i] : RegisterResult::Failed);
    for (auto& job : jobs)
        if (auto* f = std::get_if<FlushJob>(&job)) f->done();
    if (m_options.timing && !batch.reports.empty()) {
        auto us = [](Clock::duration d) { return std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(d).count()); };
        // Parse and identity run on the I/O threads as requests arrive: their sums since the last batch.
        const auto parse = m_parseNs.exchange(0) / 1000, identity = m_identityNs.exchange(0) / 1000;
        m_options.timing("batch " + std::to_string(batch.reports.size()) + " parse_us " + std::to_string(parse) +
                         " identity_us " + std::to_string(identity) + " apply_us " + us(applied - start) + " " +
                         m_writer->LastTiming());
    }
}

void ReportService::Flush() {
    std::promise<void> flushed;
    if (Enqueue(FlushJob{[&flushed] { flushed.set_value(); }})) flushed.get_future().wait();
}

bool ReportService::RunBlocking(std::function<void()> work) {
    return (m_exports ? m_exports : m_reads)->Post(std::move(work));
}

bool ReportService::RunRead(std::function<void()> work) { return m_reads->Post(std::move(work)); }

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
    p.codePage = ServiceText::CodePageOf(charset.table);
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
    // ?page=N of the registered list; anything else is the first page.
    int64_t page = 1;
    if (const auto p = request.query.find("page"); p != request.query.end() && !p->second.empty() &&
                                                   p->second.size() <= 7 &&
                                                   p->second.find_first_not_of("0123456789") == std::string::npos)
        page = std::max<int64_t>(1, std::atoll(p->second.c_str()));
    // The page, once the registration (if any) is decided: the account list is read on the reader thread.
    auto finish = [this, admin, fromQuery, shared, page](int status, std::string notice, bool good) {
        auto render = [this, admin, fromQuery, shared, status, notice, good, page] {
            HttpResponse r;
            r.status = status;
            r.contentType = kHtml;
            std::optional<AccountPage> accounts;
            if (admin) {
                accounts = m_reader->Accounts(page);
                RememberAdmin(r, fromQuery, m_options.adminToken);
            }
            r.body = RenderRegisterPage(notice, good, accounts ? &*accounts : nullptr);
            SecureHtml(r);
            (*shared)(std::move(r));
        };
        // Only the admin's page reads the database; the players' page is rendered where it is.
        if (!admin) return render();
        if (!RunRead(render)) (*shared)(PlainError(503));
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
    if (!Enqueue(RegistrationJob{{name, Identity::AccountKey(name), request.remote, m_clock()}, registered}))
        finish(503, Replies::kServerError, false);
}

void ReportService::Dashboard(const HttpRequest& request, Reply reply) {
    bool fromQuery = false;
    if (!IsAdmin(request, fromQuery) && !(m_options.staffDashboard && m_options.staffDashboard(request)))
        return reply(Refused());
    auto shared = std::make_shared<Reply>(std::move(reply));
    const bool taken = RunRead([this, shared, fromQuery] {
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
        const bool ok = m_exportFrom->Export([&](const ReportRow& row) {
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

std::optional<AuditAction> WaveAction(const std::string& step) {
    if (step == "create") return AuditAction::WaveCreate;
    if (step == "freeze") return AuditAction::WaveFreeze;
    if (step == "seed") return AuditAction::WaveSeed;
    if (step == "draw") return AuditAction::WaveDraw;
    if (step == "publish") return AuditAction::WavePublish;
    if (step == "codes.csv") return AuditAction::WaveExport;
    return std::nullopt;
}

}  // namespace

bool ReportService::AuditWaveStep(const Principal& who, const std::string& remote, const std::string& step,
                                  const Draw::WaveRecord& wave) {
    const auto action = WaveAction(step);
    if (!m_options.audit || !action) return true;
    if (m_options.audit(MakeAuditEntry(m_clock(), who.name, remote, *action, Draw::WaveAuditSubject(wave.id),
                                       Draw::WaveAuditDetail(wave))))
        return true;
    if (m_options.log) m_options.log("audit: wave " + std::to_string(wave.id) + " " + step + " by " + who.name + " not recorded");
    return false;
}

void ReportService::Waves(HttpRequest request, Reply reply) {
    bool fromQuery = false;
    const bool token = IsAdmin(request, fromQuery);
    if (!token && !m_options.staffMember) return reply(Refused());
    int64_t id = 0;
    std::string rest;
    if (!WavePath(request.path, id, rest)) return reply(PlainError(404));
    const bool post = request.method == "POST";
    if (!post && request.method != "GET") return reply(PlainError(405));
    auto shared = std::make_shared<Reply>(std::move(reply));
    auto work = [this, shared, request = std::move(request), id, rest, post, fromQuery, token] {
        Storage& storage = *m_reader;
        const int64_t now = m_clock();
        HttpResponse r;
        r.contentType = kHtml;
        auto finish = [&] {
            SecureHtml(r);
            (*shared)(std::move(r));
        };
        // Scripts come with the admin token; people sign in as staff with the admin role, and every form of
        // theirs carries the session's token.
        WaveViewer viewer;
        Principal who{Principal::Kind::Token, kTokenActor, Role::Admin};
        if (token) {
            RememberAdmin(r, fromQuery, m_options.adminToken);
        } else {
            const auto member = m_options.staffMember(request);
            if (!member) {
                r = PlainError(303);
                r.body.clear();
                r.headers.emplace("Location", "/login");
                return finish();
            }
            r.headers.emplace("Cache-Control", "no-store");
            if (!Permitted(member->who, Action::ManageWaves)) {
                r.status = 403;
                r.body = RenderStaffPage("没有权限", StaffBar(member->who, member->csrf) + "<p>您的角色不能打开此页。</p>");
                return finish();
            }
            if (post && !Sessions::CsrfValid(CookieValue(Header(request, "cookie"), Sessions::kCookieName),
                                             FormValue(request.body, Sessions::kCsrfField))) {
                r = PlainError(403);
                r.body = "forbidden: the form's token does not match the session\n";
                return finish();
            }
            who = member->who;
            viewer = {member->who, member->csrf};
        }
        // After a step that changed the wave, the log holds who took it and what it fixed.
        auto audited = [&](const std::string& step, StepResult& result) {
            if (!result.good) return;
            const auto record = storage.Wave(result.wave);
            if (!record || record->id == 0 || !AuditWaveStep(who, request.remote, step, *record))
                result.notice += "（审计日志未能写入）";
        };
        auto showWave = [&](int64_t wave, const StepResult& step) {
            const auto record = storage.Wave(wave);
            if (!record) return r = PlainError(503), finish();
            if (record->id == 0) return r = PlainError(404), finish();
            WavePage page{*record, std::nullopt, step.notice, step.good, viewer};
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
                audited("create", step);
                if (step.good) return showWave(step.wave, step);
            }
            const auto waves = storage.Waves();
            if (!waves) return r = PlainError(503), finish();
            r.status = step.status;
            r.body = RenderWavesPage(*waves, step.notice, step.good, viewer);
            return finish();
        }
        if (post) {
            StepResult step;
            if (rest == "freeze") step = FreezeWave(storage, id, m_options.requireRegistered, now);
            else if (rest == "seed") step = SeedWave(storage, id, FormValue(request.body, "seed"), now);
            else if (rest == "draw") step = DrawWave(storage, id, now);
            else if (rest == "publish") step = PublishWave(storage, id, now);
            else return r = PlainError(404), finish();
            audited(rest, step);
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
            // The codes leave only with their entry in the log: an export nobody could trace is refused.
            if (!AuditWaveStep(who, request.remote, rest, *wave)) return r = PlainError(503), finish();
            std::string csv = WaveCodesCsvHeader();
            if (storage.WaveCodes(id, [&csv](const Draw::ChosenRow& row) { return csv += WaveCodesCsvLine(row), true; }))
                body = std::move(csv);
        } else if (rest == "list.csv" || rest == "result.csv" || rest == "codes.csv") {
            return r = PlainError(409), r.body = "not yet\n", finish();
        } else {
            return r = PlainError(404), finish();
        }
        if (!body) return r = PlainError(503), finish();
        r.body = std::move(*body);
        finish();
    };
    if (!RunRead(std::move(work))) (*shared)(PlainError(503));
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
    const bool taken = RunRead([this, shared, account, render] {
        const auto answer = StatusOf(*m_reader, account);
        (*shared)(answer ? render(account, *answer) : PlainError(503));
    });
    if (!taken) (*shared)(PlainError(503));
}

}  // namespace Service
