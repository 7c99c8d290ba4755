#pragma once
// The report service's request handling, apart from any socket: a request in, a reply out, later. Nothing here
// runs on the caller's thread for long: reports go to one writer thread that commits them in batches, admin
// reads go to one reader thread, exports to one of their own, and each reply is handed back through its
// callback.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "service/app/staff_access.h"
#include "service/domain/audit.h"
#include "service/domain/replies.h"
#include "service/http/http_types.h"
#include "service/storage/storage.h"

namespace Service {

struct ServiceOptions {
    std::string adminToken;
    bool requireRegistered = false;
    // Machines one address may enrol in a day; 0, no bound.
    int64_t maxEnrolmentsPerAddress = 0;
    // Reports and registrations waiting for the writer past this are answered 503 at once instead of
    // queueing without end.
    size_t maxPending = 8192;
    // Refused reports kept row by row; older ones are summarised into counts per day and outcome.
    int64_t refusedKept = kDefaultRefusedKept;
    // At most this many reports per transaction.
    size_t maxBatch = 2048;
    // A line about the service's own state (the database gone); nothing when empty.
    std::function<void(const std::string&)> log;
    // Per batch: how long its parts took, for the benchmark; nothing when empty.
    std::function<void(const std::string&)> timing;
    // Routes of the staff desk, asked before a 404: true when it took the request (and the reply).
    std::function<bool(const HttpRequest&, Reply&)> moreRoutes;
    // Whether a signed-in staff member may see the dashboard (besides the admin token).
    std::function<bool(const HttpRequest&)> staffDashboard;
    // Per batch of reports: how many were committed (0: the transaction failed), how long it took, and how
    // many wait behind it. On the writer thread; nothing when empty.
    std::function<void(size_t reports, double seconds, size_t queued)> committed;
    // An export made with the admin token, for the audit log.
    std::function<void(const HttpRequest&)> tokenExported;
    // The staff member signed in behind a request (with the token their forms carry); nothing without a live
    // session. Without it only the admin token opens the wave pages.
    std::function<std::optional<SignedIn>(const HttpRequest&)> staffMember;
    // Writes one entry of the staff's audit log (a wave's step); false when it could not be written.
    std::function<bool(const AuditEntry&)> audit;
};

// The security headers of every page: no scripts, nothing loaded from elsewhere, no framing.
void SecureHtml(HttpResponse& response);

constexpr size_t kMaxReportBody = 16 * 1024;
constexpr const char* kReportPath = "/act/score/pcinfo/add";

// The replies the HTTP layer gives on its own, as the checker reads them.
Refusals ReportRefusals();
// The benchmark's fixed reply: a success's body, storing nothing.
std::string BenchReply();

class ReportService final : public RequestHandler {
public:
    using Clock = std::function<int64_t()>;  // Unix seconds
    // writer takes every write; reader serves the admin pages; exporter, on a thread of its own, the
    // export and every other streamed body, so a slow download never holds the dashboard. Without an
    // exporter the reader streams too, on its own thread.
    ReportService(std::unique_ptr<Storage> writer, std::unique_ptr<Storage> reader, ServiceOptions options,
                  Clock clock = nullptr, std::unique_ptr<Storage> exporter = nullptr);
    // Finishes what is queued (committing it), then stops its threads.
    ~ReportService() override;
    ReportService(const ReportService&) = delete;
    ReportService& operator=(const ReportService&) = delete;

    // Returns at once; reply is called exactly once, possibly on another thread.
    void Handle(HttpRequest request, Reply reply) override;
    // Waits for the reply, with any streamed body gathered into it: for tests and simple callers.
    HttpResponse HandleAndWait(const HttpRequest& request);
    // Returns once everything queued before it has been written.
    void Flush();
    // Every report handed over so far is committed and answered: a flush.
    void Settle() override { Flush(); }
    // Runs a streamed body on the export thread (it may block there); false when it is not taken.
    bool RunBlocking(std::function<void()> work) override;
    // Runs a page's reads on the reader thread; false when it is not taken.
    bool RunRead(std::function<void()> work);
    // Why reports cannot be stored now (the database gone, too little free space), as the writer last
    // found it; empty while they can.
    std::string Unready() const;

    // The reply to a body refused for its size before it was read.
    static HttpResponse TooLarge();

private:
    // What the writer takes, in order: a report to decide, a malformed body to count, a registration, or a
    // marker that everything before it has been written.
    struct ReportJob {
        PendingReport report;
        std::function<void(std::optional<Outcome>)> done;
    };
    struct MalformedJob {
        MalformedReport malformed;
    };
    struct RegistrationJob {
        Registration registration;
        std::function<void(RegisterResult)> done;
    };
    struct FlushJob {
        std::function<void()> done;
    };
    using WriteJob = std::variant<ReportJob, MalformedJob, RegistrationJob, FlushJob>;
    void Write(std::vector<WriteJob>& jobs, size_t queued);
    void PostReport(HttpRequest request, Reply reply);
    void RegisterPage(HttpRequest request, Reply reply);
    void Dashboard(const HttpRequest& request, Reply reply);
    void ReportsCsv(const HttpRequest& request, Reply reply);
    void Waves(HttpRequest request, Reply reply);
    void StatusPage(const HttpRequest& request, Reply reply);
    bool IsAdmin(const HttpRequest& request, bool& fromQuery) const;
    // One entry of the audit log for a wave's step as the wave stands after it; false when not written.
    bool AuditWaveStep(const Principal& who, const std::string& remote, const std::string& step,
                       const Draw::WaveRecord& wave);
    HttpResponse Refused() const;
    bool Enqueue(WriteJob job);
    void WriterLoop();
    void CheckHealth();

    // One thread running posted work in order, with a bound on what may wait.
    class Worker {
    public:
        explicit Worker(size_t bound);
        // Runs what is queued, then stops.
        void Stop();
        ~Worker() { Stop(); }
        bool Post(std::function<void()> work);

    private:
        const size_t m_bound;
        std::mutex m_mutex;
        std::condition_variable m_ready;
        std::deque<std::function<void()>> m_work;
        bool m_stopping = false;
        std::thread m_thread;
    };

    std::unique_ptr<Storage> m_writer;
    std::unique_ptr<Storage> m_reader;
    std::unique_ptr<Storage> m_exporter;  // may be null: then the reader exports
    Storage* m_exportFrom = nullptr;
    ServiceOptions m_options;
    Clock m_clock;

    std::atomic<int64_t> m_parseNs{0}, m_identityNs{0};  // for ServiceOptions::timing

    std::mutex m_writeMutex;
    std::condition_variable m_writeReady;
    std::deque<WriteJob> m_writes;
    size_t m_pendingReports = 0;
    bool m_stopping = false;
    bool m_reportedBroken = false;

    mutable std::mutex m_healthMutex;
    std::string m_unready;

    std::thread m_writerThread;
    // Declared last: stopped (their queues run) before the storages they read go.
    std::unique_ptr<Worker> m_reads, m_exports;
};

}  // namespace Service
