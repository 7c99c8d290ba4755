// Who may scrape, what a route is counted as, and a log line a JSON reader takes whatever it carries.
#include <gtest/gtest.h>

#include "service/app/operator_signals.h"

namespace {

using namespace Service;

TEST(OperatorSignals, LoopbackAndScraping) {
    const struct {
        const char* address;
        bool loopback;
    } cases[] = {
        {"127.0.0.1", true},  {"127.255.3.4", true},     {"::1", true},          {"::ffff:127.0.0.1", true},
        {"128.0.0.1", false}, {"10.0.0.1", false},       {"::2", false},         {"::ffff:10.0.0.1", false},
        {"", false},          {"localhost", false},      {"0:0:0:0:0:0:0:1", true}, {"126.0.0.1", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsLoopback(c.address), c.loopback) << c.address;
    EXPECT_TRUE(MayScrape("127.0.0.1", false, false));
    EXPECT_FALSE(MayScrape("127.0.0.1", true, false));  // nginx on this machine passing on a stranger
    EXPECT_FALSE(MayScrape("203.0.113.9", false, false));
    EXPECT_TRUE(MayScrape("203.0.113.9", true, true));
}

TEST(OperatorSignals, RoutesAreTheServicesOwnOrOther) {
    ServiceMetrics m;
    m.CountRequest("/act/score/pcinfo/add", 200);
    m.CountRequest("/act/score/pcinfo/add", 200);
    m.CountRequest("/wp-login.php", 404);
    m.CountRequest("/metrics/", 404);
    m.CountRequest("/healthz", 200);
    const std::string text = m.registry.Render();
    EXPECT_NE(text.find("report_service_http_requests_total{route=\"/act/score/pcinfo/add\",status=\"200\"} 2\n"),
              std::string::npos);
    EXPECT_NE(text.find("report_service_http_requests_total{route=\"other\",status=\"404\"} 2\n"), std::string::npos);
    EXPECT_NE(text.find("report_service_http_requests_total{route=\"/healthz\",status=\"200\"} 1\n"), std::string::npos);
    EXPECT_NE(text.find("# TYPE report_service_commit_seconds histogram\n"), std::string::npos);
    EXPECT_NE(text.find("report_service_database_up 0\n"), std::string::npos);
}

TEST(OperatorSignals, JsonLogLines) {
    EXPECT_EQ(ParseLogFormat("json"), LogFormat::Json);
    EXPECT_EQ(ParseLogFormat("text"), LogFormat::Text);
    EXPECT_FALSE(ParseLogFormat("JSON"));
    EXPECT_EQ(JsonLogLine(1796000000123, "database: available again"),
              "{\"time\":\"2026-11-30T00:53:20.123Z\",\"msg\":\"database: available again\"}");
    EXPECT_EQ(JsonLogLine(5, std::string("say \"hi\"\\\n\x01\xFF玩", 15),
                          {{"status", "200"}, {"path", "/a\"b"}, {"id", "007"}, {"n", "0"}}),
              "{\"time\":\"1970-01-01T00:00:00.005Z\",\"msg\":\"say \\\"hi\\\"\\\\\\n\xEF\xBF\xBD\xEF\xBF\xBD玩\","
              "\"status\":200,\"path\":\"/a\\\"b\",\"id\":\"007\",\"n\":0}");
}

}  // namespace
