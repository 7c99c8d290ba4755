// Writes an exposition of random figures under awkward label values and help texts (argv[2]), and beside it
// what each sample must read back as (argv[3]), worked out from the inputs alone, for metrics_exposition.py.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "service/app/metrics.h"

namespace {

std::string Hex(const std::string& text) {
    std::string out;
    char byte[3];
    for (unsigned char c : text) {
        std::snprintf(byte, sizeof byte, "%02x", c);
        out += byte;
    }
    return out;
}

std::string Number(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: metrics_sample SEED EXPOSITION EXPECTED\n");
        return 2;
    }
    std::mt19937 random(static_cast<unsigned>(std::atoi(argv[1])));
    const std::string pieces[] = {"a", "\\", "\"", "\n", "{", "}", "=", ",", " ", "#", "玩家", "\t", "le", "x"};
    const auto text = [&] {
        std::string s;
        for (int n = static_cast<int>(random() % 6); n >= 0; --n) s += pieces[random() % std::size(pieces)];
        return s;
    };
    std::string pool[8];
    for (auto& p : pool) p = text();
    const auto label = [&] { return pool[random() % 8]; };

    using namespace Service::Metrics;
    Registry registry;
    const std::string help = "requests by " + text() + " and\\ status\nsecond line";
    auto& requests = registry.AddCounter("requests_total", help, {"route", "status"});
    auto& depth = registry.AddGauge("queue_depth", "waiting " + text(), {"queue"});
    auto& commit = registry.AddHistogram("commit_seconds", "commit time", DurationBounds(), {"backend"});
    std::ofstream expected(argv[3], std::ios::binary);
    expected << "help\trequests\t" << Hex(help) << "\n";

    std::map<std::pair<std::string, std::string>, double> counts;
    for (int i = 0; i < 60; ++i) {
        const std::string route = label(), status = label();
        const double by = (random() % 5) + (random() % 4) * 0.25;
        requests.With({route, status}).Inc(by);
        counts[{route, status}] += by;
    }
    for (const auto& [labels, value] : counts)
        expected << "requests_total\troute=" << Hex(labels.first) << ",status=" << Hex(labels.second) << "\t"
                 << Number(value) << "\n";

    std::map<std::string, double> depths;
    for (int i = 0; i < 20; ++i) {
        const std::string queue = label();
        const double value = static_cast<double>(random() % 2000) - 1000;
        depth.With({queue}).Set(value);
        depths[queue] = value;
    }
    for (const auto& [queue, value] : depths)
        expected << "queue_depth\tqueue=" << Hex(queue) << "\t" << Number(value) << "\n";

    const auto bounds = DurationBounds();
    std::map<std::string, std::vector<double>> observed;
    for (int i = 0; i < 300; ++i) {
        const std::string backend = label();
        const double v = std::ldexp(static_cast<double>(random() % 1000), -static_cast<int>(random() % 16));
        commit.With({backend}).Observe(v);
        observed[backend].push_back(v);
    }
    for (const auto& [backend, values] : observed) {
        double sum = 0;
        for (double v : values) sum += v;
        for (size_t b = 0; b <= bounds.size(); ++b) {
            size_t n = 0;
            for (double v : values) n += b == bounds.size() || v <= bounds[b];
            expected << "commit_seconds_bucket\tbackend=" << Hex(backend) << ",le="
                     << Hex(b == bounds.size() ? "+Inf" : FormatValue(bounds[b])) << "\t" << n << "\n";
        }
        expected << "commit_seconds_sum\tbackend=" << Hex(backend) << "\t" << Number(sum) << "\n";
        expected << "commit_seconds_count\tbackend=" << Hex(backend) << "\t" << values.size() << "\n";
    }
    std::ofstream(argv[2], std::ios::binary) << registry.Render();
    return expected ? 0 : 1;
}
