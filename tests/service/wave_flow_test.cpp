#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "service/domain/draw.h"
#include "service/domain/draw_strata.h"
#include "service/domain/identity.h"
#include "service_test_support.h"

namespace {

class WaveFlow : public ::testing::Test, public ServiceFixture {
protected:
    Service::HttpResponse Admin(const std::string& method, const std::string& path, const std::string& form = {}) {
        Service::HttpRequest r;
        r.method = method;
        r.path = path;
        r.body = form;
        r.remote = "127.0.0.1";
        r.headers.emplace("x-admin-token", "secret-token");
        r.headers.emplace("content-type", "application/x-www-form-urlencoded");
        service->Flush();
        return service->HandleAndWait(r);
    }
    std::string Status(const std::string& account) {
        Service::HttpRequest r;
        r.method = "GET";
        r.path = "/status";
        r.query.emplace("account", account);
        r.remote = "127.0.0.1";
        service->Flush();
        const auto reply = service->HandleAndWait(r);
        EXPECT_EQ(reply.status, 200);
        return reply.body;
    }
    ReportFields Machine(int i) {
        ReportFields f;
        f.account = "Player" + std::to_string(i);
        char mac[32];
        std::snprintf(mac, sizeof mac, "02-00-00-00-%02X-%02X", i / 256, i % 256);
        f.mac = mac;
        f.os = i % 4 ? "Windows 10 Pro 64-Bit" : "Windows 7 Professional 32-Bit";
        f.memory = i % 3 ? "8192" : "2048";
        f.displays = i % 5 ? "GeForce GTX 960;NVIDIA GeForce GTX 960;2048;0" : "Intel HD;Intel(R) HD Graphics;256;0";
        f.computer = "PC" + std::to_string(i);
        return f;
    }
    void Enrol(int from, int to) {
        for (int i = from; i < to; ++i) ASSERT_EQ(Report(CheckerPayload(Machine(i))).status, 200);
    }
};

std::string Between(const std::string& text, const std::string& open, const std::string& close) {
    const size_t a = text.find(open);
    if (a == std::string::npos) return {};
    const size_t b = text.find(close, a + open.size());
    return text.substr(a + open.size(), b - a - open.size());
}

// An admin takes a wave from creation to its exported codes; the published list draws the same accounts
// in anyone's hands; players learn their standing and nothing else.
TEST_F(WaveFlow, FromCreationToThePublishedList) {
    Enrol(0, 60);
    ASSERT_EQ(Admin("POST", "/waves", "name=%E9%A6%96%E6%89%B9&size=20&strategy=proportional&aspect=os&aspect=memory")
                  .status,
              200);
    const auto frozen = Admin("POST", "/waves/1/freeze");
    ASSERT_EQ(frozen.status, 200) << frozen.body;
    const std::string hash = Between(frozen.body, "<code id=\"list-sha256\">", "</code>");
    // Reports arriving after the freeze do not change the wave.
    Enrol(60, 65);
    const auto list = Admin("GET", "/waves/1/list.csv");
    ASSERT_EQ(list.status, 200);
    EXPECT_EQ(Draw::Sha256Hex(list.body), hash);
    // The list is the enrolled machines with their dashboard strata, whichever database kept them.
    std::vector<Draw::Entry> expected;
    for (int i = 0; i < 60; ++i) {
        Service::Report m;
        const auto f = Machine(i);
        m.os = f.os, m.memoryMB = f.memory;
        expected.push_back({Service::Identity::AccountKey(f.account), Service::MachineStrata(m, {"os", "memory"})});
    }
    std::string error;
    EXPECT_EQ(Draw::Freeze(expected, {"os", "memory"}, error)->csv, list.body);

    EXPECT_EQ(Admin("POST", "/waves/1/draw").status, 409);  // no seed yet
    ASSERT_EQ(Admin("POST", "/waves/1/seed", "seed=2026-12-08+lottery+07+12+33").status, 200);
    const auto drawn = Admin("POST", "/waves/1/draw");
    ASSERT_EQ(drawn.status, 200) << drawn.body;
    EXPECT_EQ(Admin("POST", "/waves/1/draw").status, 409);  // once only
    const auto result = Admin("GET", "/waves/1/result.csv");
    const auto parsed = Draw::ParseList(list.body, error);
    const auto params = Draw::ParseParams("size=20 strategy=proportional aspects=os,memory", error);
    ASSERT_TRUE(parsed && params);
    const auto mine = Draw::Run(*parsed, *params, "2026-12-08 lottery 07 12 33", error);
    ASSERT_TRUE(mine) << error;
    EXPECT_EQ(result.body, mine->csv);
    EXPECT_NE(drawn.body.find("硬件覆盖"), std::string::npos);

    // Not published yet: nobody has been told.
    const std::string chosen = mine->chosen[0];
    EXPECT_NE(Status(chosen).find("未入选"), std::string::npos);
    EXPECT_EQ(Admin("GET", "/waves/1/codes.csv").status, 409);
    ASSERT_EQ(Admin("POST", "/waves/1/publish").status, 200);
    const std::string answer = Status(" PLAYER" + chosen.substr(6) + " ");
    EXPECT_NE(answer.find("已入选（第1批）"), std::string::npos) << answer;
    std::string outsider;
    for (int i = 0; i < 60 && outsider.empty(); ++i)
        if (!std::binary_search(mine->chosen.begin(), mine->chosen.end(), "player" + std::to_string(i)))
            outsider = "Player" + std::to_string(i);
    EXPECT_NE(Status(outsider).find("未入选"), std::string::npos);
    EXPECT_NE(Status("nobody").find("尚未报名"), std::string::npos);

    const auto codes = Admin("GET", "/waves/1/codes.csv");
    ASSERT_EQ(codes.status, 200);
    std::set<std::string> seen;
    size_t lines = 0;
    for (size_t at = codes.body.find('\n') + 1; at < codes.body.size(); at = codes.body.find('\n', at) + 1, ++lines) {
        const std::string line = codes.body.substr(at, codes.body.find('\n', at) - at);
        const std::string code = Between(line, "\",", ",");
        EXPECT_TRUE(Draw::IsActivationCode(code)) << line;
        seen.insert(code);
        EXPECT_EQ(line.substr(0, 7), "\"Player") << line;  // the account as it enrolled
        EXPECT_EQ(line.substr(line.size() - 2), ",1");
        // The player's page never shows the code.
        EXPECT_EQ(answer.find(code), std::string::npos);
    }
    EXPECT_EQ(lines, 20u);
    EXPECT_EQ(seen.size(), 20u);
    EXPECT_EQ(answer.find("Windows"), std::string::npos);

    // A chosen account whose enrolment is revoked is marked withdrawn: it leaves the export, nobody moves in.
    ASSERT_TRUE(store->MarkWithdrawn(chosen, 1700000500));
    EXPECT_EQ(Status("Player" + chosen.substr(6)).find("已入选"), std::string::npos);
    const auto after = Admin("GET", "/waves/1/codes.csv");
    EXPECT_EQ(after.body.find("\"Player" + chosen.substr(6) + "\","), std::string::npos);
    EXPECT_EQ(std::count(after.body.begin(), after.body.end(), '\n'), 20);  // the header and 19 codes
    EXPECT_EQ(Admin("GET", "/waves/1/result.csv").body, mine->csv);
    EXPECT_NE(Admin("GET", "/waves/1").body.find("其中 1 个已撤销"), std::string::npos);

    // The next wave's list leaves out those already chosen, and takes in the later machines.
    ASSERT_EQ(Admin("POST", "/waves", "name=second&size=10&strategy=uniform").status, 200);
    const auto second = Admin("POST", "/waves/2/freeze");
    EXPECT_NE(second.body.find("45 个账号"), std::string::npos) << second.body;
    // A wave between freeze and draw holds the next one back.
    ASSERT_EQ(Admin("POST", "/waves", "name=third&size=10&strategy=uniform").status, 200);
    EXPECT_EQ(Admin("POST", "/waves/3/freeze").status, 409);

    // None of it without the admin.
    Service::HttpRequest r;
    r.method = "POST";
    r.path = "/waves";
    r.body = "name=x&size=1&strategy=uniform";
    r.remote = "127.0.0.1";
    EXPECT_EQ(service->HandleAndWait(r).status, 401);
    r.method = "GET";
    r.path = "/waves/1/codes.csv";
    EXPECT_EQ(service->HandleAndWait(r).status, 401);
}

}  // namespace
