#include "service/app/metrics.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace Service::Metrics {

namespace {

void AtomicAdd(std::atomic<double>& target, double by) {
    double old = target.load(std::memory_order_relaxed);
    while (!target.compare_exchange_weak(old, old + by, std::memory_order_relaxed)) {
    }
}

bool ValidName(const std::string& name, bool colons) {
    if (name.empty()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || (colons && c == ':') ||
                        (i > 0 && c >= '0' && c <= '9');
        if (!ok) return false;
    }
    return true;
}

bool EndsWith(const std::string& text, const char* tail) {
    const std::string t(tail);
    return text.size() >= t.size() && text.compare(text.size() - t.size(), t.size(), t) == 0;
}

std::string LabelText(const Labels& names, const Labels& values, const std::string& extraName = {},
                      const std::string& extraValue = {}) {
    std::string out;
    for (size_t i = 0; i < names.size(); ++i)
        out += (out.empty() ? "" : ",") + names[i] + "=\"" + EscapeLabelValue(values[i]) + "\"";
    if (!extraName.empty()) out += (out.empty() ? "" : ",") + extraName + "=\"" + extraValue + "\"";
    return out.empty() ? out : "{" + out + "}";
}

}  // namespace

void Counter::Inc(double by) {
    if (by > 0) AtomicAdd(m_value, by);  // a counter never goes down
}

void Gauge::Add(double by) { AtomicAdd(m_value, by); }

Histogram::Histogram(const std::vector<double>* bounds)
    : m_bounds(bounds), m_buckets(new std::atomic<uint64_t>[bounds->size() + 1]) {
    for (size_t i = 0; i <= bounds->size(); ++i) m_buckets[i].store(0);
}

void Histogram::Observe(double value) {
    if (std::isnan(value)) return;
    const size_t bucket = std::lower_bound(m_bounds->begin(), m_bounds->end(), value) - m_bounds->begin();
    m_buckets[bucket].fetch_add(1, std::memory_order_relaxed);
    AtomicAdd(m_sum, value);
}

Histogram::Snapshot Histogram::Read() const {
    Snapshot s;
    uint64_t running = 0;
    for (size_t i = 0; i <= m_bounds->size(); ++i) {
        running += m_buckets[i].load(std::memory_order_relaxed);
        s.cumulative.push_back(running);
    }
    // The count is the +Inf bucket, so the two always agree, as a scraper expects.
    s.count = running;
    s.sum = m_sum.load(std::memory_order_relaxed);
    return s;
}

template <typename Child>
Family<Child>::Family(std::string name, std::string help, Labels labelNames, std::vector<double> bounds)
    : m_name(std::move(name)), m_help(std::move(help)), m_labelNames(std::move(labelNames)), m_bounds(std::move(bounds)) {}

template <>
std::unique_ptr<Counter> Family<Counter>::Make() const { return std::make_unique<Counter>(); }
template <>
std::unique_ptr<Gauge> Family<Gauge>::Make() const { return std::make_unique<Gauge>(); }
template <>
std::unique_ptr<Histogram> Family<Histogram>::Make() const { return std::make_unique<Histogram>(&m_bounds); }

template <typename Child>
Child& Family<Child>::With(const Labels& values) {
    if (values.size() != m_labelNames.size())
        throw std::invalid_argument(m_name + ": " + std::to_string(m_labelNames.size()) + " label values wanted");
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_children.find(values);
    if (it != m_children.end()) return *it->second;
    const Labels key = m_children.size() < kMaxChildren ? values : Labels(values.size(), "other");
    auto& child = m_children[key];
    if (!child) child = Make();
    return *child;
}

template class Family<Counter>;
template class Family<Gauge>;
template class Family<Histogram>;

std::vector<double> DurationBounds() {
    return {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};
}

struct Registry::Entry {
    std::unique_ptr<Family<Counter>> counter;
    std::unique_ptr<Family<Gauge>> gauge;
    std::unique_ptr<Family<Histogram>> histogram;
};

Registry::Registry() = default;
Registry::~Registry() = default;

void Registry::Claim(const std::string& name, const Labels& labelNames, bool histogram) {
    if (!ValidName(name, true)) throw std::invalid_argument("metric name " + name);
    for (const auto& label : labelNames)
        if (!ValidName(label, false) || label.rfind("__", 0) == 0 || (histogram && label == "le"))
            throw std::invalid_argument(name + ": label name " + label);
    for (size_t i = 0; i < labelNames.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (labelNames[i] == labelNames[j]) throw std::invalid_argument(name + ": label " + labelNames[i] + " twice");
    for (const auto& e : m_entries) {
        const std::string& other = e->counter ? e->counter->m_name : e->gauge ? e->gauge->m_name : e->histogram->m_name;
        if (other == name) throw std::invalid_argument("metric " + name + " twice");
    }
}

Family<Counter>& Registry::AddCounter(const std::string& name, const std::string& help, Labels labelNames) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!EndsWith(name, "_total")) throw std::invalid_argument("counter " + name + " must end in _total");
    Claim(name, labelNames, false);
    auto entry = std::make_unique<Entry>();
    entry->counter.reset(new Family<Counter>(name, help, std::move(labelNames)));
    m_entries.push_back(std::move(entry));
    return *m_entries.back()->counter;
}

Family<Gauge>& Registry::AddGauge(const std::string& name, const std::string& help, Labels labelNames) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Claim(name, labelNames, false);
    auto entry = std::make_unique<Entry>();
    entry->gauge.reset(new Family<Gauge>(name, help, std::move(labelNames)));
    m_entries.push_back(std::move(entry));
    return *m_entries.back()->gauge;
}

Family<Histogram>& Registry::AddHistogram(const std::string& name, const std::string& help, std::vector<double> bounds,
                                          Labels labelNames) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Claim(name, labelNames, true);
    if (bounds.empty() || !std::is_sorted(bounds.begin(), bounds.end()) ||
        std::adjacent_find(bounds.begin(), bounds.end()) != bounds.end() || !std::isfinite(bounds.back()))
        throw std::invalid_argument(name + ": bounds must rise and be finite");
    auto entry = std::make_unique<Entry>();
    entry->histogram.reset(new Family<Histogram>(name, help, std::move(labelNames), std::move(bounds)));
    m_entries.push_back(std::move(entry));
    return *m_entries.back()->histogram;
}

void Registry::OnCollect(std::function<void()> collect) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_collectors.push_back(std::move(collect));
}

std::string Registry::Render() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& collect : m_collectors) collect();
    std::string out;
    const auto head = [&out](const std::string& name, const std::string& help, const char* type) {
        out += "# HELP " + name + " " + EscapeHelp(help) + "\n# TYPE " + name + " " + type + "\n";
    };
    for (const auto& e : m_entries) {
        if (e->counter || e->gauge) {
            const bool counter = e->counter != nullptr;
            const auto& name = counter ? e->counter->m_name : e->gauge->m_name;
            head(name, counter ? e->counter->m_help : e->gauge->m_help, counter ? "counter" : "gauge");
            const auto sample = [&](const Labels& names, const Labels& values, double value) {
                out += name + LabelText(names, values) + " " + FormatValue(value) + "\n";
            };
            if (counter) {
                std::lock_guard<std::mutex> family(e->counter->m_mutex);
                for (const auto& [values, child] : e->counter->m_children)
                    sample(e->counter->m_labelNames, values, child->Value());
            } else {
                std::lock_guard<std::mutex> family(e->gauge->m_mutex);
                for (const auto& [values, child] : e->gauge->m_children)
                    sample(e->gauge->m_labelNames, values, child->Value());
            }
            continue;
        }
        const auto& h = *e->histogram;
        head(h.m_name, h.m_help, "histogram");
        std::lock_guard<std::mutex> family(h.m_mutex);
        for (const auto& [values, child] : h.m_children) {
            const auto snapshot = child->Read();
            for (size_t i = 0; i <= h.m_bounds.size(); ++i)
                out += h.m_name + "_bucket" +
                       LabelText(h.m_labelNames, values, "le", i < h.m_bounds.size() ? FormatValue(h.m_bounds[i]) : "+Inf") +
                       " " + std::to_string(snapshot.cumulative[i]) + "\n";
            out += h.m_name + "_sum" + LabelText(h.m_labelNames, values) + " " + FormatValue(snapshot.sum) + "\n";
            out += h.m_name + "_count" + LabelText(h.m_labelNames, values) + " " + std::to_string(snapshot.count) + "\n";
        }
    }
    return out;
}

std::string EscapeLabelValue(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::string EscapeHelp(const std::string& help) {
    std::string out;
    for (char c : help) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::string FormatValue(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    if (value == std::floor(value) && std::fabs(value) < 1e15) return std::to_string(static_cast<int64_t>(value));
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

}  // namespace Service::Metrics
