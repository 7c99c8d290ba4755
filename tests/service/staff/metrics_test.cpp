// The exposition's own rules; that a real scraper reads its samples, labels and buckets is proven by
// metrics_exposition.py.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <thread>

#include "service/app/metrics.h"

namespace {

using namespace Service::Metrics;

TEST(Metrics, Values) {
    EXPECT_EQ(FormatValue(0), "0");
    EXPECT_EQ(FormatValue(123456789012), "123456789012");
    EXPECT_EQ(FormatValue(0.1), "0.1");
    EXPECT_EQ(FormatValue(-2.5), "-2.5");
    EXPECT_EQ(FormatValue(1e300), "1e+300");
    EXPECT_EQ(FormatValue(std::numeric_limits<double>::infinity()), "+Inf");
    EXPECT_EQ(FormatValue(-std::numeric_limits<double>::infinity()), "-Inf");
    EXPECT_EQ(FormatValue(std::nan("")), "NaN");
}

TEST(Metrics, NamesAreCheckedAtRegistration) {
    Registry r;
    EXPECT_THROW(r.AddCounter("requests", "no _total"), std::invalid_argument);
    EXPECT_THROW(r.AddGauge("9lives", "digit first"), std::invalid_argument);
    EXPECT_THROW(r.AddGauge("a-b", "dash"), std::invalid_argument);
    EXPECT_THROW(r.AddGauge("up", "reserved label", {"__name"}), std::invalid_argument);
    EXPECT_THROW(r.AddGauge("up", "colon label", {"a:b"}), std::invalid_argument);
    EXPECT_THROW(r.AddGauge("up", "twice", {"a", "a"}), std::invalid_argument);
    EXPECT_THROW(r.AddHistogram("h_seconds", "le is the bucket's", {1}, {"le"}), std::invalid_argument);
    EXPECT_THROW(r.AddHistogram("h_seconds", "falling", {2, 1}), std::invalid_argument);
    r.AddGauge("ns:up", "colons are for names");
    EXPECT_THROW(r.AddCounter("ns:up", "taken"), std::invalid_argument);
    auto& family = r.AddCounter("x_total", "", {"a", "b"});
    EXPECT_THROW(family.With({"one"}), std::invalid_argument);
}

TEST(Metrics, LabelSetsAreSortedAndBounded) {
    Registry r;
    auto& f = r.AddCounter("refusals_total", "refused reports", {"reason"});
    f.With({"b"}).Inc();
    f.With({"a"}).Inc(2);
    f.With({"a"}).Inc(-5);  // a counter never goes down
    EXPECT_EQ(r.Render(), "# HELP refusals_total refused reports\n# TYPE refusals_total counter\n"
                          "refusals_total{reason=\"a\"} 2\nrefusals_total{reason=\"b\"} 1\n");
    for (size_t i = 0; i < kMaxChildren + 50; ++i) f.With({"r" + std::to_string(i)}).Inc();
    const std::string text = r.Render();
    EXPECT_NE(text.find("refusals_total{reason=\"other\"} 52\n"), std::string::npos);
    EXPECT_EQ(text.find("reason=\"r" + std::to_string(kMaxChildren) + "\""), std::string::npos);
}

TEST(Metrics, CollectorsRunAtEveryRender) {
    Registry r;
    auto& depth = r.AddGauge("queue_depth", "reports waiting").With();
    int calls = 0;
    r.OnCollect([&] { depth.Set(++calls * 10); });
    EXPECT_NE(r.Render().find("queue_depth 10\n"), std::string::npos);
    EXPECT_NE(r.Render().find("queue_depth 20\n"), std::string::npos);
}

TEST(Metrics, ConcurrentUpdatesAreAllCounted) {
    Registry r;
    auto& c = r.AddCounter("requests_total", "", {"route"});
    auto& h = r.AddHistogram("commit_seconds", "", DurationBounds()).With();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50000; ++i) {
                c.With({t % 2 ? "/" : "/metrics"}).Inc();
                h.Observe(0.25);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(c.With({"/"}).Value() + c.With({"/metrics"}).Value(), 200000);
    const auto s = h.Read();
    EXPECT_EQ(s.count, 200000u);
    EXPECT_EQ(s.sum, 50000);
}

}  // namespace
