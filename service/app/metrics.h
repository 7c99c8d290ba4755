#pragma once
// The service's figures for a Prometheus scraper: counters, gauges and histograms, each a family with a fixed
// set of label names, rendered in the text exposition format (version 0.0.4). Updating a figure is an atomic
// add on a child found once; only the first use of a label set and the rendering take a lock.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Service::Metrics {

constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";
// A family keeps at most this many label sets; any further one is counted under every label "other", so a
// label fed from outside (a route, a reason) cannot grow the exposition without bound.
constexpr size_t kMaxChildren = 200;

using Labels = std::vector<std::string>;

class Counter {
public:
    void Inc(double by = 1);
    double Value() const { return m_value.load(std::memory_order_relaxed); }

private:
    std::atomic<double> m_value{0};
};

class Gauge {
public:
    void Set(double value) { m_value.store(value, std::memory_order_relaxed); }
    void Add(double by);
    double Value() const { return m_value.load(std::memory_order_relaxed); }

private:
    std::atomic<double> m_value{0};
};

class Histogram {
public:
    explicit Histogram(const std::vector<double>* bounds);
    void Observe(double value);
    // Cumulative counts per bound (the last one +Inf), the sum and the count, read together.
    struct Snapshot {
        std::vector<uint64_t> cumulative;
        double sum = 0;
        uint64_t count = 0;
    };
    Snapshot Read() const;

private:
    const std::vector<double>* m_bounds;
    std::unique_ptr<std::atomic<uint64_t>[]> m_buckets;  // per bound, plus one past the last
    std::atomic<double> m_sum{0};
};

class Registry;

// One metric name with its label names; children by label values, created on first use and never moved.
template <typename Child>
class Family {
public:
    // values: one per label name (a wrong count is a programming error and throws std::invalid_argument).
    Child& With(const Labels& values);
    Child& With() { return With(Labels{}); }

private:
    friend class Registry;
    Family(std::string name, std::string help, Labels labelNames, std::vector<double> bounds = {});
    std::unique_ptr<Child> Make() const;

    std::string m_name, m_help;
    Labels m_labelNames;
    std::vector<double> m_bounds;  // histograms only
    mutable std::mutex m_mutex;
    std::map<Labels, std::unique_ptr<Child>> m_children;
};

// Bucket bounds in seconds for durations from a millisecond to ten seconds.
std::vector<double> DurationBounds();

class Registry {
public:
    Registry();
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    // Names: [a-zA-Z_:][a-zA-Z0-9_:]*, counters ending in _total; label names [a-zA-Z_][a-zA-Z0-9_]*, not
    // starting with "__" (nor "le" for a histogram). A wrong name, or a name used twice, throws
    // std::invalid_argument: these are fixed by the program, never by input.
    Family<Counter>& AddCounter(const std::string& name, const std::string& help, Labels labelNames = {});
    Family<Gauge>& AddGauge(const std::string& name, const std::string& help, Labels labelNames = {});
    Family<Histogram>& AddHistogram(const std::string& name, const std::string& help, std::vector<double> bounds,
                                    Labels labelNames = {});
    // Called at the start of every Render, to set gauges read from elsewhere (a queue's depth).
    void OnCollect(std::function<void()> collect);

    // The exposition: per family "# HELP", "# TYPE" and its samples, label sets in sorted order.
    std::string Render() const;

private:
    struct Entry;
    void Claim(const std::string& name, const Labels& labelNames, bool histogram);

    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<Entry>> m_entries;
    std::vector<std::function<void()>> m_collectors;
};

// Exposition-format escaping: label values escape '\\', '"' and line feeds; help texts '\\' and line feeds.
std::string EscapeLabelValue(const std::string& value);
std::string EscapeHelp(const std::string& help);
// A sample value: integers without a fraction, others in the shortest form that reads back the same, and
// "+Inf", "-Inf", "NaN".
std::string FormatValue(double value);

}  // namespace Service::Metrics
