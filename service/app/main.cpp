// report-service: receives the checker's reports, keeps them in SQLite and shows what came in.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "service/app/draw_cli.h"
#include "service/app/operator_signals.h"
#include "service/app/staff_cli.h"
#include "service/app/staff_desk.h"
#include "service/http/http_server.h"
#include "service/app/secret_file.h"
#include "service/app/service.h"
#include "service/storage/storage.h"

namespace {

const char* const kUsage =
    "usage: report-service [options]\n"
    "\n"
    "Receives the enrolment checker's reports at POST /act/score/pcinfo/add, keeps them in SQLite and\n"
    "serves the registration page (/register), the admin dashboard (/) and the export (/reports.csv).\n"
    "\n"
    "  --listen HOST:PORT     address to listen on (default 127.0.0.1:8360; port 0 picks a free one)\n"
    "  --db PATH              SQLite database (default var/reports.db; folders are created)\n"
    "  --db postgresql://USER@HOST:PORT/DBNAME\n"
    "                         a PostgreSQL database instead, shared by several instances (password from\n"
    "                         ~/.pgpass or PGPASSFILE, never on the command line)\n"
    "  --admin-token TOKEN    token for the dashboard and the export (default: a new one, printed at start)\n"
    "  --admin-token-file F   the token from a file (not readable by everyone): instances behind one address\n"
    "                         share it, and it stays out of the process list\n"
    "  --require-registered   refuse reports of accounts not registered at /register\n"
    "  --max-enrolments-per-address N\n"
    "                         machines one address may enrol in a day (default 300, an internet cafe;\n"
    "                         0: no bound); behind a proxy, the player's address it names\n"
    "  --min-free-mb N        below N MB free on the SQLite database's disk, reports are answered 503,\n"
    "                         /readyz is 503 and the log says why (default 256; 0: no floor)\n"
    "  --max-refused-reports N\n"
    "                         refused reports kept one by one, the newest (default 100000); older ones are\n"
    "                         kept only as counts per day and outcome (0: counts only)\n"
    "  --threads N            I/O threads serving every connection (default 2)\n"
    "  --rate N               requests per second allowed per address, after a burst of 4 N (default 50;\n"
    "                         0: no limit)\n"
    "  --real-ip-from ADDR    a proxy in front (nginx): its X-Real-IP header names the player for the\n"
    "                         per-address limits and the records; no per-address connection cap for it\n"
    "  --bench-endpoint       also answer POST /bench/fixed with a fixed reply, storing nothing\n"
    "  --quiet                no line per request\n"
    "  --log-format text|json one line per event as text (default), or as one JSON object per line\n"
    "  --timing               a line per batch: where its time went (parse, identity, facts, statements,\n"
    "                         commit), for benchmarks\n"
    "  --help                 this text\n"
    "\n"
    "report-service draw verify LIST.csv --seed SEED --params PARAMS [--result RESULT.csv]\n"
    "                         recomputes a published wave of the closed test (draw --help says more)\n"
    "report-service staff add|passwd|disable|list …  manages the staff accounts (staff --help).\n";

struct Flags {
    std::string host = "127.0.0.1";
    int port = 8360;
    std::string db = "var/reports.db";
    std::string token;
    bool requireRegistered = false;
    int64_t maxPerAddress = Service::kDefaultEnrolmentsPerAddress;
    int64_t minFreeMB = 256;
    int64_t refusedKept = Service::kDefaultRefusedKept;
    int threads = 2;
    double rate = 50;
    bool bench = false;
    bool quiet = false;
    bool jsonLog = false;
    bool timing = false;
    std::string proxy;
};

// A flag's whole number from 0 to max; false (having said why) for anything else.
bool WholeNumber(const std::string& flag, const char* text, int64_t max, int64_t& out) {
    if (!text) return false;
    char* end = nullptr;
    out = std::strtoll(text, &end, 10);
    if (end == text || *end || out < 0 || out > max) {
        std::fprintf(stderr, "report-service: %s wants a number from 0 to %lld\n", flag.c_str(), static_cast<long long>(max));
        return false;
    }
    return true;
}

bool ParseListen(const std::string& text, Flags& flags) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    const std::string port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
    const int value = std::atoi(port.c_str());
    if (value > 65535) return false;
    flags.host = text.substr(0, colon);
    flags.port = value;
    return true;
}

// 0: go on; otherwise the exit code.
int ParseFlags(int argc, char** argv, Flags& flags) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "report-service: %s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return -1;
        } else if (arg == "--listen") {
            const char* v = value("--listen");
            if (!v) return 2;
            if (!ParseListen(v, flags)) {
                std::fprintf(stderr, "report-service: --listen wants HOST:PORT, not %s\n", v);
                return 2;
            }
        } else if (arg == "--db") {
            const char* v = value("--db");
            if (!v) return 2;
            flags.db = v;
        } else if (arg == "--admin-token") {
            const char* v = value("--admin-token");
            if (!v) return 2;
            flags.token = v;
            if (flags.token.empty()) {
                std::fprintf(stderr, "report-service: --admin-token must not be empty\n");
                return 2;
            }
        } else if (arg == "--admin-token-file") {
            const char* v = value("--admin-token-file");
            if (!v) return 2;
            std::string error;
            const auto token = Service::ReadSecretFile(v, error);
            if (!token) {
                std::fprintf(stderr, "report-service: --admin-token-file %s: %s\n", v, error.c_str());
                return 2;
            }
            flags.token = *token;
        } else if (arg == "--threads") {
            const char* v = value("--threads");
            if (!v) return 2;
            flags.threads = std::atoi(v);
            if (flags.threads < 1 || flags.threads > 64) {
                std::fprintf(stderr, "report-service: --threads wants 1 to 64\n");
                return 2;
            }
        } else if (arg == "--rate") {
            const char* v = value("--rate");
            if (!v) return 2;
            char* end = nullptr;
            flags.rate = std::strtod(v, &end);
            if (!end || *end || !(flags.rate >= 0 && flags.rate <= 1e6)) {
                std::fprintf(stderr, "report-service: --rate wants a number from 0 to 1000000\n");
                return 2;
            }
        } else if (arg == "--max-enrolments-per-address") {
            if (!WholeNumber(arg, value(arg.c_str()), 100000000, flags.maxPerAddress)) return 2;
        } else if (arg == "--min-free-mb") {
            if (!WholeNumber(arg, value(arg.c_str()), int64_t{1} << 30, flags.minFreeMB)) return 2;
        } else if (arg == "--max-refused-reports") {
            if (!WholeNumber(arg, value(arg.c_str()), 1000000000, flags.refusedKept)) return 2;
        } else if (arg == "--real-ip-from") {
            const char* v = value("--real-ip-from");
            if (!v) return 2;
            flags.proxy = v;
        } else if (arg == "--require-registered") {
            flags.requireRegistered = true;
        } else if (arg == "--bench-endpoint") {
            flags.bench = true;
        } else if (arg == "--log-format") {
            const char* v = value("--log-format");
            if (!v) return 2;
            const auto format = Service::ParseLogFormat(v);
            if (!format) {
                std::fprintf(stderr, "report-service: --log-format wants text or json\n");
                return 2;
            }
            flags.jsonLog = *format == Service::LogFormat::Json;
        } else if (arg == "--quiet") {
            flags.quiet = true;
        } else if (arg == "--timing") {
            flags.timing = true;
        } else {
            std::fprintf(stderr, "report-service: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        }
    }
    return 0;
}

std::string NewToken() {
    unsigned char bytes[16] = {};
    std::ifstream random("/dev/urandom", std::ios::binary);
    if (!random.read(reinterpret_cast<char*>(bytes), sizeof bytes)) return {};
    static const char* hex = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token += hex[b >> 4];
        token += hex[b & 15];
    }
    return token;
}

}  // namespace

namespace {

// Every line the program prints about itself: as it is, or as one JSON object for a log shipper.
bool g_jsonLog = false;
void Emit(const std::string& line) {
    if (!g_jsonLog) {
        std::printf("%s\n", line.c_str());
        return;
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    std::printf("%s\n", Service::JsonLogLine(ms, line).c_str());
}

std::string Text(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Text(const char* format, ...) {
    char text[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "draw") == 0)
        return Service::DrawCommand(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
    if (argc > 1 && std::strcmp(argv[1], "staff") == 0)
        return Service::StaffMain(std::vector<std::string>(argv + 2, argv + argc));
    Flags flags;
    if (const int rc = ParseFlags(argc, argv, flags)) return rc < 0 ? 0 : rc;
    setvbuf(stdout, nullptr, _IOLBF, 0);

    const std::string shownDb = Service::LogSafe(Service::PrintableDb(flags.db), 4096);
    std::error_code ec;
    const auto parent = std::filesystem::path(flags.db).parent_path();
    if (!parent.empty() && !Service::IsPostgresUrl(flags.db)) std::filesystem::create_directories(parent, ec);
    std::string error;
    // Three connections: the writer's, the reader's for the admin pages, and the export's, so an export
    // never delays a commit nor the dashboard.
    auto writer = Service::OpenStorage(flags.db, error);
    auto reader = writer ? Service::OpenStorage(flags.db, error) : nullptr;
    auto exporter = reader ? Service::OpenStorage(flags.db, error) : nullptr;
    if (!writer || !reader || !exporter) {
        std::fprintf(stderr, "report-service: cannot use the database %s: %s\n", shownDb.c_str(), error.c_str());
        return 1;
    }
    // Every connection is a descriptor: take what the system allows.
    struct rlimit files {};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    const bool generated = flags.token.empty();
    if (generated) flags.token = NewToken();
    if (flags.token.empty()) {
        std::fprintf(stderr, "report-service: cannot make an admin token\n");
        return 1;
    }

    // Signals are taken by one thread with sigwait, so no handler runs in the middle of a request.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Service::ServiceOptions serviceOptions;
    serviceOptions.adminToken = flags.token;
    serviceOptions.requireRegistered = flags.requireRegistered;
    serviceOptions.maxEnrolmentsPerAddress = flags.maxPerAddress;
    serviceOptions.refusedKept = flags.refusedKept;
    g_jsonLog = flags.jsonLog;
    serviceOptions.log = Emit;
    if (flags.timing) serviceOptions.timing = serviceOptions.log;
    writer->SetFreeSpaceFloor(static_cast<uint64_t>(flags.minFreeMB) << 20);
    // The staff desk on a connection of its own: logins, the audit log, the support pages.
    auto staffStore = Service::OpenStaffStore(flags.db, error);
    if (!staffStore) {
        std::fprintf(stderr, "report-service: cannot use the staff tables of %s: %s\n", shownDb.c_str(), error.c_str());
        return 1;
    }
    // And one more for support's changes to enrolments, made beside the writer's batches.
    auto deskStorage = Service::OpenStorage(flags.db, error);
    if (!deskStorage) {
        std::fprintf(stderr, "report-service: cannot use the database %s: %s\n", shownDb.c_str(), error.c_str());
        return 1;
    }
    auto desk = std::make_unique<Service::StaffDesk>(std::move(staffStore), std::move(deskStorage), [] {
        return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                        std::chrono::system_clock::now().time_since_epoch())
                                        .count());
    });
    serviceOptions.moreRoutes = [&desk](const Service::HttpRequest& r, Service::Reply& reply) {
        return desk->Route(r, reply);
    };
    serviceOptions.staffDashboard = [&desk](const Service::HttpRequest& r) { return desk->MayViewDashboard(r); };
    serviceOptions.tokenExported = [&desk](const Service::HttpRequest& r) { desk->TokenExported(r); };
    serviceOptions.staffMember = [&desk](const Service::HttpRequest& r) { return desk->Member(r); };
    serviceOptions.audit = [&desk](const Service::AuditEntry& e) { return desk->Audit(e); };
    Service::ServiceMetrics& figures = desk->Figures();
    serviceOptions.committed = [&figures](size_t reports, double seconds, size_t queued) {
        figures.queueDepth.Set(static_cast<double>(queued));
        if (reports == 0) return;
        figures.batchSize.Observe(static_cast<double>(reports));
        figures.commitSeconds.Observe(seconds);
    };
    auto service = std::make_unique<Service::ReportService>(std::move(writer), std::move(reader), serviceOptions,
                                                            nullptr, std::move(exporter));
    desk->SetMetricsToken(flags.token);
    desk->SetRunner([&service](std::function<void()> work) { return service->RunRead(std::move(work)); });
    desk->SetReadiness([&service] { return service->Unready(); });
    Service::ServerOptions options;
    options.host = flags.host;
    options.port = flags.port;
    options.ioThreads = flags.threads;
    options.ratePerSecond = flags.rate;
    options.rateBurst = flags.rate * 4;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY)
        options.maxConnections = std::min<size_t>(options.maxConnections, files.rlim_cur > 64 ? files.rlim_cur - 64 : 1);
    options.trustedProxy = flags.proxy;
    if (flags.bench) options.benchReply = Service::BenchReply();
    options.refusals = Service::ReportRefusals();
    options.bodyLimit = Service::kMaxReportBody;
    if (!flags.quiet) options.log = Emit;
    options.answered = [&figures](std::string_view path, int status) { figures.CountRequest(path, status); };
    options.refused = [&figures](const char* reason) { figures.refusals.With({reason}).Inc(); };
    options.connections = [&figures](size_t open) { figures.openConnections.Set(static_cast<double>(open)); };
    auto server = std::make_unique<Service::HttpServer>(*service, options);
    const int port = server->Bind();
    if (port <= 0) {
        std::fprintf(stderr, "report-service: cannot listen on %s:%d\n", flags.host.c_str(), flags.port);
        return 1;
    }
    Emit("database " + shownDb);
    if (generated) Emit("admin token " + flags.token);
    Emit(Text("dashboard http://%s:%d/?token=…  registration http://%s:%d/register", flags.host.c_str(), port,
              flags.host.c_str(), port));
    if (flags.requireRegistered) Emit("reports of unregistered accounts are refused");
    Emit(Text("listening on %s:%d", flags.host.c_str(), port));

    std::thread waiter([&server, &stopSignals] {
        int signo = 0;
        sigwait(&stopSignals, &signo);
        Emit(Text("signal %d: stopping", signo));
        // Run may not have started yet; keep asking until the listening loop has ended.
        for (int i = 0; i < 500 && !server->IsRunning(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        server->Stop();
    });
    const bool ok = server->Run();
    // Run can also end by itself (a socket error): wake the waiter so it can be joined.
    kill(getpid(), SIGTERM);
    waiter.join();
    server.reset();
    service.reset();  // what was queued is committed, then the database is closed
    Emit("stopped");
    return ok ? 0 : 1;
}
