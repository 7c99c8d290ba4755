#pragma once
// What the operator's tools read: the figures /metrics exposes, who may scrape them, and log lines as JSON
// objects for a log shipper (--log-format json).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "service/app/metrics.h"

namespace Service {

// The service's figures, one set per process.
struct ServiceMetrics {
    ServiceMetrics();
    Metrics::Registry registry;
    Metrics::Family<Metrics::Counter>& requests;  // route, status
    Metrics::Family<Metrics::Counter>& reports;   // outcome: success, account_used, machine_used, not_registered
    Metrics::Family<Metrics::Counter>& refusals;  // reason: what the HTTP layer refused before any rule
    Metrics::Counter& malformed;
    Metrics::Histogram& batchSize;
    Metrics::Histogram& commitSeconds;
    Metrics::Gauge& queueDepth;
    Metrics::Gauge& openConnections;
    Metrics::Gauge& databaseUp;

    void CountRequest(std::string_view path, int status);
};

// The route a request path is counted under: one of the service's own, or "other", so the paths a scanner
// tries never become labels.
const char* RouteLabel(std::string_view path);

// 127.0.0.0/8 and ::1, also written as IPv4-mapped IPv6.
bool IsLoopback(std::string_view address);
// /metrics is for a scraper on this machine, or one with the admin token. A request that came through a
// proxy (it names a client in X-Real-IP, X-Forwarded-For or Forwarded) is not local, though its peer is.
bool MayScrape(std::string_view peer, bool forwarded, bool tokenValid);

enum class LogFormat { Text, Json };
std::optional<LogFormat> ParseLogFormat(std::string_view name);
// {"time":"2026-12-09T01:02:03.456Z","msg":"…",field…}: one line, every text made valid UTF-8 and escaped.
// Fields whose value is all digits are written as numbers.
std::string JsonLogLine(int64_t unixMillis, std::string_view message,
                        const std::vector<std::pair<std::string, std::string>>& fields = {});

}  // namespace Service
