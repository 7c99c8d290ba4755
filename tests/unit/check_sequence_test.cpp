#include "report/check_sequence.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "report/message_display.h"
#include "report/text_encoding.h"
#include "tests/support/code_page.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/recording_display.h"

namespace {

using testing_support::LoopbackHttpServer;
using testing_support::ScriptedReply;

template <size_t N>
void Put(char (&field)[N], const char* text) {
    std::memset(field, 0, N);
    std::strncpy(field, text, N - 1);
}

Device::DeviceSurvey MachineSurvey() {
    Device::DeviceSurvey s{};
    Put(s.os.productName, "Windows 10 Pro");
    s.os.bitness = 64;
    Put(s.cpu.brandName, "  Example CPU 3.0GHz");
    Put(s.cpu.vendor, "GenuineIntel");
    s.cpu.processorCount = 8;
    s.cpu.clockMHz = 2993;
    s.memory.physicalMemoryMB = 16384;
    s.displays.count = 1;
    Put(s.displays.adapters[0].chipType, "Chip X");
    Put(s.displays.adapters[0].name, "Adapter A");
    s.displays.adapters[0].memoryMB = 1024;
    s.networks.count = 1;
    Put(s.networks.adapters[0].description, "Ethernet");
    Put(s.networks.adapters[0].macAddress, "00-1A-2B-3C-4D-5E");
    s.networks.adapters[0].connectionStatus = 2;
    return s;
}

// A survey whose processor probe runs when asked, and throws.
class ThrowingProbe : public Device::StoredDeviceInfo {
public:
    ThrowingProbe() : StoredDeviceInfo(MachineSurvey()) {}
    void GetCpuInfo(Device::CpuInfo&) const override { throw std::out_of_range("cpu"); }
};

class FakeEnvironment : public ICheckEnvironment {
public:
    std::unique_ptr<Device::IDeviceInfo> TakeSurvey() override {
        ++surveys;
        if (failSurvey) return nullptr;
        if (throwInSurvey) throw std::bad_alloc();
        if (throwInProbe) return std::make_unique<ThrowingProbe>();
        return std::make_unique<Device::StoredDeviceInfo>(MachineSurvey());
    }
    void ScreenSize(int32_t& w, int32_t& h) override { w = width, h = height; }
    std::string ComputerName() override { return "PC01"; }
    std::string UserName() override { return "tester"; }

    int surveys = 0;
    bool failSurvey = false;
    bool throwInSurvey = false;
    bool throwInProbe = false;
    int32_t width = 1920, height = 1080;
};

// A log file of this test's own: the C library's tmpfile() names its files with a per-process counter on
// Windows, so two test processes running side by side can collide.
struct Log {
    Log() {
        std::random_device random;
        path = (std::filesystem::temp_directory_path() /
                ("zorv-check-log-" + std::to_string(random()) + "-" + std::to_string(random())))
                   .string();
        file = std::fopen(path.c_str(), "w+b");
        if (!file) ADD_FAILURE() << "cannot create " << path;
    }
    ~Log() {
        if (file) std::fclose(file);
        std::remove(path.c_str());
    }
    std::string Text() const {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        char buffer[512];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
        return text;
    }
    std::string path;
    std::FILE* file = nullptr;
};

struct RefusedCase {
    const char* label;
    std::u16string account, confirm;
    CheckOutcome outcome;
    std::u16string message;
};

class CheckValidation : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(CheckValidation, RefusesBeforeAnythingIsSurveyedPrintedOrSent) {
    const RefusedCase& c = GetParam();
    FakeEnvironment environment;
    RecordingDisplay display;
    Log log;
    LoopbackHttpServer server(ScriptedReply{});
    CurlHandle curl;
    std::unique_ptr<Device::IDeviceInfo> survey;
    const std::string url = server.Url("/act/score/pcinfo/add");
    EXPECT_EQ(RunCheckSequence(c.account, c.confirm, survey, environment, curl.handle, url.c_str(), log.file), c.outcome);
    EXPECT_EQ(display.shown, std::vector<std::u16string>{c.message});
    EXPECT_EQ(environment.surveys, 0);
    EXPECT_EQ(survey, nullptr);
    EXPECT_EQ(log.Text(), "");
    EXPECT_TRUE(server.Requests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Refused, CheckValidation,
    ::testing::Values(
        RefusedCase{"empty", u"", u"", CheckOutcome::EmptyAccount, u"请输入用户名！"},
        RefusedCase{"blanks_and_tabs", u"  \t \t", u"  \t \t", CheckOutcome::EmptyAccount, u"请输入用户名！"},
        RefusedCase{"case_differs", u"ABC", u"abc", CheckOutcome::AccountMismatch, u"账号不一致！"},
        RefusedCase{"confirmation_not_trimmed", u"abc", u"abc ", CheckOutcome::AccountMismatch, u"账号不一致！"},
        RefusedCase{"confirmation_empty", u"abc", u"", CheckOutcome::AccountMismatch, u"账号不一致！"},
        RefusedCase{"confirmation_longer", u"abc", u"abcd", CheckOutcome::AccountMismatch, u"账号不一致！"}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.label); });

TEST(CheckSequence, TrimmedAccountGoesIntoBothPositionsAndTheSurveyIsTakenOnce) {
    FakeEnvironment environment;
    RecordingDisplay display;
    Log log;
    ScriptedReply reply;
    reply.blocks = {"{\"code\":0,\"message\":\"ok\"}"};
    LoopbackHttpServer server(reply);
    CurlHandle curl;
    std::unique_ptr<Device::IDeviceInfo> survey;
    const std::string url = server.Url("/act/score/pcinfo/add");

    EXPECT_EQ(RunCheckSequence(u"  abc  ", u"abc", survey, environment, curl.handle, url.c_str(), log.file),
              CheckOutcome::Reported);
    environment.width = 1280;
    environment.height = 720;
    EXPECT_EQ(RunCheckSequence(u"abc", u"abc", survey, environment, curl.handle, url.c_str(), log.file),
              CheckOutcome::Reported);

    EXPECT_EQ(environment.surveys, 1);
    EXPECT_EQ(display.shown, (std::vector<std::u16string>{u"ok", u"ok"}));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    const auto first = nlohmann::json::parse(requests[0].body)["param"];
    const auto second = nlohmann::json::parse(requests[1].body)["param"];
    EXPECT_EQ(first[0], "abc");
    EXPECT_EQ(first[1], "abc");
    EXPECT_EQ(first[2], "00-1A-2B-3C-4D-5E");
    EXPECT_EQ(first[3], "Example CPU 3.0GHz");
    EXPECT_EQ(first[8], "1920 x 1080");
    EXPECT_EQ(second[8], "1280 x 720");
    for (int i : {2, 3, 4, 5, 6, 7, 9, 10}) EXPECT_EQ(first[i], second[i]) << "position " << i;

    const std::string text = log.Text();
    EXPECT_EQ(text.find("MAC address is: 00-1A-2B-3C-4D-5E\nSystem is: Windows 10 Pro 64-Bit\n"), 0u) << text;
    EXPECT_NE(text.find("Computer user name: tester\n"), std::string::npos);
    EXPECT_NE(text.find("Screen resolution: 1280 x 720\n"), std::string::npos);
}

TEST(CheckSequence, AFailedSurveyIsToldAndTriedAgainNextTime) {
    FakeEnvironment environment;
    environment.failSurvey = true;
    RecordingDisplay display;
    Log log;
    std::unique_ptr<Device::IDeviceInfo> survey;
    EXPECT_EQ(RunCheckSequence(u"abc", u"abc", survey, environment, nullptr, "", log.file), CheckOutcome::SurveyFailed);
    EXPECT_EQ(survey, nullptr);
    environment.failSurvey = false;
    EXPECT_EQ(RunCheckSequence(u"abc", u"abc", survey, environment, nullptr, "", log.file), CheckOutcome::NotSent);
    EXPECT_EQ(environment.surveys, 2);
    EXPECT_EQ(display.shown, std::vector<std::u16string>{u"获取硬件信息失败！"});
}

TEST(CheckSequence, AnExceptionInTheSurveyIsAFailedSurveyAndGoesNoFurther) {
    for (const bool inProbe : {false, true}) {
        SCOPED_TRACE(inProbe ? "thrown by a probe of the survey" : "thrown while the survey is taken");
        FakeEnvironment environment;
        environment.throwInSurvey = !inProbe;
        environment.throwInProbe = inProbe;
        RecordingDisplay display;
        Log log;
        std::unique_ptr<Device::IDeviceInfo> survey;
        CheckOutcome outcome = CheckOutcome::Reported;
        EXPECT_NO_THROW(outcome = RunCheckSequence(u"abc", u"abc", survey, environment, nullptr, "", log.file));
        EXPECT_EQ(outcome, CheckOutcome::SurveyFailed);
        EXPECT_EQ(survey, nullptr);
        EXPECT_EQ(display.shown, std::vector<std::u16string>{u"获取硬件信息失败！"});
        EXPECT_EQ(log.Text(), "");
        environment.throwInSurvey = environment.throwInProbe = false;
        EXPECT_EQ(RunCheckSequence(u"abc", u"abc", survey, environment, nullptr, "", log.file), CheckOutcome::NotSent);
        EXPECT_EQ(environment.surveys, 2);
    }
}

TEST(CheckSequence, WithoutATransferHandleTheLogIsStillPrintedAndNothingShown) {
    FakeEnvironment environment;
    RecordingDisplay display;
    Log log;
    std::unique_ptr<Device::IDeviceInfo> survey;
    EXPECT_EQ(RunCheckSequence(u"abc", u"abc", survey, environment, nullptr, "", log.file), CheckOutcome::NotSent);
    EXPECT_TRUE(display.shown.empty());
    EXPECT_NE(log.Text().find("CPU count: 8\n"), std::string::npos);
}

TEST(CheckSequence, SixtyFourChineseCharactersAreSentWhole) {
    TextEncodingScope scope(936);
    FakeEnvironment environment;
    RecordingDisplay display;
    Log log;
    ScriptedReply reply;
    reply.blocks = {"{\"message\":\"ok\"}"};
    LoopbackHttpServer server(reply);
    CurlHandle curl;
    std::unique_ptr<Device::IDeviceInfo> survey;
    const std::u16string account(64, u'\u73a9');  // 玩
    const std::string url = server.Url("/act/score/pcinfo/add");
    RunCheckSequence(account, account, survey, environment, curl.handle, url.c_str(), log.file);
    ASSERT_EQ(server.Requests().size(), 1u);
    const std::string body = server.Requests()[0].body;
    const std::string ansi = TextEncoding::Utf16ToAnsi(account);
    ASSERT_EQ(ansi.size(), 128u);
    EXPECT_EQ(body.substr(0, 11 + 128 + 3 + 128), "{\"param\":[\"" + ansi + "\",\"" + ansi);
}

TEST(AccountTrim, RemovesWhiteSpaceAtBothEndsOnly) {
    EXPECT_EQ(TrimAccount(u" \t a b \r\n"), u"a b");
    EXPECT_EQ(TrimAccount(u"abc"), u"abc");
    EXPECT_EQ(TrimAccount(u"   "), u"");
}

}  // namespace
