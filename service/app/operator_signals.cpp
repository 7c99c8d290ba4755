#include "service/app/operator_signals.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>

#include "service/domain/audit.h"
#include "text/wire_contract.h"

namespace Service {

namespace {

using namespace Metrics;

std::vector<double> BatchBounds() { return {1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048}; }

// The escaping of the wire contract's builder, for UTF-8 text: no byte is a lead byte of a code page.
std::string JsonString(std::string_view text) {
    return "\"" + WireContract::EscapeText(CleanUtf8(text, 64 * 1024), [](unsigned char) { return false; }) + "\"";
}

bool Digits(const std::string& text) {
    return !text.empty() && text.size() < 16 && text.find_first_not_of("0123456789") == std::string::npos &&
           (text.size() == 1 || text[0] != '0');
}

}  // namespace

ServiceMetrics::ServiceMetrics()
    : requests(registry.AddCounter("report_service_http_requests_total", "HTTP requests by route and status",
                                   {"route", "status"})),
      reports(registry.AddCounter("report_service_reports_total", "well-formed reports by outcome", {"outcome"})),
      refusals(registry.AddCounter("report_service_refusals_total",
                                   "requests refused before any rule (too large, too slow, too many, busy, …)",
                                   {"reason"})),
      malformed(registry.AddCounter("report_service_malformed_total", "bodies that are no report").With()),
      batchSize(registry.AddHistogram("report_service_batch_reports", "reports per committed transaction",
                                      BatchBounds())
                    .With()),
      commitSeconds(registry.AddHistogram("report_service_commit_seconds", "time of one batch's transaction",
                                          DurationBounds())
                        .With()),
      queueDepth(registry.AddGauge("report_service_queue_depth", "reports waiting for the writer").With()),
      openConnections(registry.AddGauge("report_service_open_connections", "connections open now").With()),
      databaseUp(registry.AddGauge("report_service_database_up", "1 while the database answers, else 0").With()) {}

void ServiceMetrics::CountRequest(std::string_view path, int status) {
    requests.With({RouteLabel(path), std::to_string(status)}).Inc();
}

const char* RouteLabel(std::string_view path) {
    static const char* const kRoutes[] = {
        "/act/score/pcinfo/add", "/", "/register", "/reports.csv", "/login", "/logout", "/search", "/account",
        "/machine", "/revoke", "/restore", "/erase", "/audit", "/audit.csv", "/suspicious", "/staff", "/healthz",
        "/readyz", "/metrics", "/bench/fixed",
    };
    for (const char* route : kRoutes)
        if (path == route) return route;
    return "other";
}

bool IsLoopback(std::string_view address) {
    const std::string text(address);
    unsigned char bytes[16];
    if (inet_pton(AF_INET, text.c_str(), bytes) == 1) return bytes[0] == 127;
    if (inet_pton(AF_INET6, text.c_str(), bytes) != 1) return false;
    static const unsigned char loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static const unsigned char mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::equal(bytes, bytes + 16, loopback)) return true;
    return std::equal(mapped, mapped + 12, bytes) && bytes[12] == 127;
}

bool MayScrape(std::string_view peer, bool forwarded, bool tokenValid) {
    return tokenValid || (!forwarded && IsLoopback(peer));
}

std::optional<LogFormat> ParseLogFormat(std::string_view name) {
    if (name == "text") return LogFormat::Text;
    if (name == "json") return LogFormat::Json;
    return std::nullopt;
}

std::string JsonLogLine(int64_t unixMillis, std::string_view message,
                        const std::vector<std::pair<std::string, std::string>>& fields) {
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03dZ", static_cast<int>(unixMillis % 1000));
    std::string line = "{\"time\":\"" + FormatUtc(unixMillis / 1000, "%Y-%m-%dT%H:%M:%S") + millis +
                       "\",\"msg\":" + JsonString(message);
    for (const auto& [name, value] : fields)
        line += "," + JsonString(name) + ":" + (Digits(value) ? value : JsonString(value));
    return line + "}";
}

}  // namespace Service
