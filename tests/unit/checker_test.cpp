#include "report/checker.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "report/report_submit.h"
#include "text/text_encoding.h"
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

// Any transfer the check is given, watched: whether a message was shown while it was still running.
class WatchedTransfer : public IReportTransfer {
public:
    explicit WatchedTransfer(std::unique_ptr<IReportTransfer> inner) : m_inner(std::move(inner)) {}
    TransferReply Post(const std::string& url, const std::string& payload) override {
        ++posts;
        running = true;
        TransferReply reply = m_inner ? m_inner->Post(url, payload) : TransferReply{};
        running = false;
        return reply;
    }
    int posts = 0;
    bool running = false;

private:
    std::unique_ptr<IReportTransfer> m_inner;
};

// One checker with a fake environment, a recording display and a log file of its own. The transfer is the
// real libcurl one, pointed at `url`; without a url there is no transfer to be had.
struct Rig {
    explicit Rig(const std::string& url = "") {
        auto fake = std::make_unique<FakeEnvironment>();
        environment = fake.get();
        auto watched = std::make_unique<WatchedTransfer>(url.empty() ? nullptr : std::make_unique<CurlTransfer>());
        transfer = watched.get();
        display.onShow = [this] { shownDuringTransfer += transfer->running; };
        checker = std::make_unique<Checker>(std::move(fake), std::move(watched), display, url, log.file);
    }
    CheckOutcome Check(const std::u16string& account, const std::u16string& confirm) {
        return checker->Check(account, confirm);
    }

    RecordingDisplay display;
    Log log;
    FakeEnvironment* environment = nullptr;
    WatchedTransfer* transfer = nullptr;
    int shownDuringTransfer = 0;
    std::unique_ptr<Checker> checker;
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
    LoopbackHttpServer server(ScriptedReply{});
    Rig rig(server.Url("/act/score/pcinfo/add"));
    EXPECT_EQ(rig.Check(c.account, c.confirm), c.outcome);
    EXPECT_EQ(rig.display.shown, std::vector<std::u16string>{c.message});
    EXPECT_EQ(rig.environment->surveys, 0);
    EXPECT_EQ(rig.log.Text(), "");
    EXPECT_EQ(rig.transfer->posts, 0);
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
        RefusedCase{"confirmation_longer", u"abc", u"abcd", CheckOutcome::AccountMismatch, u"账号不一致！"},
        // Code page 936 (the stand-in natively, the prefix's under Wine) has neither: they would go out as '?'.
        RefusedCase{"emoji_cp936", u"玩家\U0001F600", u"玩家\U0001F600", CheckOutcome::UncarriableAccount,
                    u"账号中含有无法识别的字符！"},
        RefusedCase{"thai_cp936", u"\u0E01a", u"\u0E01a", CheckOutcome::UncarriableAccount,
                    u"账号中含有无法识别的字符！"},
        RefusedCase{"lone_surrogate", u"a\xD800", u"a\xD800", CheckOutcome::UncarriableAccount,
                    u"账号中含有无法识别的字符！"},
        // Code page 936 maps its user-defined area to U+E000 on, and only this machine's font knows it.
        RefusedCase{"private_use", u"a\uE000", u"a\uE000", CheckOutcome::UncarriableAccount,
                    u"账号中含有无法识别的字符！"}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.label); });

TEST(Checker, TrimmedAccountGoesIntoBothPositionsAndTheSurveyIsTakenOnce) {
    ScriptedReply reply;
    reply.blocks = {"{\"code\":0,\"message\":\"ok\"}"};
    LoopbackHttpServer server(reply);
    Rig rig(server.Url("/act/score/pcinfo/add"));

    EXPECT_EQ(rig.Check(u"  abc  ", u"abc"), CheckOutcome::Delivered);
    rig.environment->width = 1280;
    rig.environment->height = 720;
    EXPECT_EQ(rig.Check(u"abc", u"abc"), CheckOutcome::Delivered);

    EXPECT_EQ(rig.environment->surveys, 1);
    EXPECT_EQ(rig.display.shown, (std::vector<std::u16string>{u"ok", u"ok"}));
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

    const std::string text = rig.log.Text();
    EXPECT_EQ(text.find("MAC address is: 00-1A-2B-3C-4D-5E\nSystem is: Windows 10 Pro 64-Bit\n"), 0u) << text;
    EXPECT_NE(text.find("Computer user name: tester\n"), std::string::npos);
    EXPECT_NE(text.find("Screen resolution: 1280 x 720\n"), std::string::npos);
    EXPECT_NE(text.find("submit ping result[" + requests[1].body + "].\n"), std::string::npos);
    EXPECT_NE(text.find("result: {\"code\":0,\"message\":\"ok\"}\n"), std::string::npos);
}

TEST(Checker, AFailedSurveyIsToldAndTriedAgainNextTime) {
    Rig rig;
    rig.environment->failSurvey = true;
    EXPECT_EQ(rig.Check(u"abc", u"abc"), CheckOutcome::SurveyFailed);
    EXPECT_EQ(rig.transfer->posts, 0);
    rig.environment->failSurvey = false;
    EXPECT_EQ(rig.Check(u"abc", u"abc"), CheckOutcome::NotDelivered);
    EXPECT_EQ(rig.environment->surveys, 2);
    EXPECT_EQ(rig.display.shown, std::vector<std::u16string>{u"获取硬件信息失败！"});
}

TEST(Checker, AnExceptionInTheSurveyIsAFailedSurveyAndGoesNoFurther) {
    for (const bool inProbe : {false, true}) {
        SCOPED_TRACE(inProbe ? "thrown by a probe of the survey" : "thrown while the survey is taken");
        Rig rig;
        rig.environment->throwInSurvey = !inProbe;
        rig.environment->throwInProbe = inProbe;
        CheckOutcome outcome = CheckOutcome::Delivered;
        EXPECT_NO_THROW(outcome = rig.Check(u"abc", u"abc"));
        EXPECT_EQ(outcome, CheckOutcome::SurveyFailed);
        EXPECT_EQ(rig.display.shown, std::vector<std::u16string>{u"获取硬件信息失败！"});
        EXPECT_EQ(rig.log.Text(), "");
        EXPECT_EQ(rig.transfer->posts, 0);
        rig.environment->throwInSurvey = rig.environment->throwInProbe = false;
        EXPECT_EQ(rig.Check(u"abc", u"abc"), CheckOutcome::NotDelivered);
        EXPECT_EQ(rig.environment->surveys, 2);
    }
}

TEST(Checker, WithoutATransferTheLogIsStillPrintedAndNothingShown) {
    Rig rig;
    EXPECT_EQ(rig.Check(u"abc", u"abc"), CheckOutcome::NotDelivered);
    EXPECT_TRUE(rig.display.shown.empty());
    EXPECT_NE(rig.log.Text().find("CPU count: 8\n"), std::string::npos);
}

// What the outcome says and what the player sees, for each way a transfer can end.
struct DeliveryCase {
    const char* label;
    ScriptedReply reply;
    bool reachable;
    CheckOutcome outcome;
    std::vector<std::u16string> shown;
};

ScriptedReply Blocks(std::vector<std::string> blocks, int status = 200) {
    ScriptedReply reply;
    reply.blocks = std::move(blocks);
    reply.status = status;
    reply.pauseMs = 300;
    return reply;
}

class Delivery : public ::testing::TestWithParam<DeliveryCase> {};

TEST_P(Delivery, TheOutcomeTellsWhetherTheServiceAnsweredAndTheFirstBlockIsShownAfterTheTransfer) {
    const DeliveryCase& c = GetParam();
    std::string url;
    auto server = std::make_unique<LoopbackHttpServer>(c.reply);
    url = server->Url("/act/score/pcinfo/add");
    if (!c.reachable) server.reset();  // nothing listens there any more
    Rig rig(url);
    EXPECT_EQ(rig.Check(u"abc", u"abc"), c.outcome);
    EXPECT_EQ(rig.display.shown, c.shown);
    EXPECT_EQ(rig.shownDuringTransfer, 0) << "a message box ran inside the transfer";
    EXPECT_EQ(rig.transfer->posts, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, Delivery,
    ::testing::Values(
        DeliveryCase{"reply", Blocks({"{\"code\":0,\"message\":\"ok\"}"}), true, CheckOutcome::Delivered, {u"ok"}},
        // The first block alone has no "message":" to show.
        DeliveryCase{"split_reply_first_block_only", Blocks({"{\"code\":0,\"mess", "age\":\"ok\"}"}), true,
                     CheckOutcome::Delivered, {u"服务器应答有误，请稍后再试"}},
        DeliveryCase{"refusal_with_error_status", Blocks({"{\"message\":\"bad report\"}"}, 400), true,
                     CheckOutcome::Delivered, {u"bad report"}},
        DeliveryCase{"chinese_message_in_utf8",
                     Blocks({"{\"code\":0,\"message\":\"\xE6\x8F\x90\xE4\xBA\xA4\xE6\x88\x90\xE5\x8A\x9F\"}"}), true,
                     CheckOutcome::Delivered, {u"提交成功"}},
        DeliveryCase{"reply_without_body", Blocks({}), true, CheckOutcome::Delivered, {}},
        DeliveryCase{"nothing_listening", Blocks({}), false, CheckOutcome::NotDelivered, {}}),
    [](const ::testing::TestParamInfo<DeliveryCase>& info) { return std::string(info.param.label); });

TEST(Checker, SixtyFourChineseCharactersAreSentWhole) {
    TextEncodingScope scope(936);
    ScriptedReply reply;
    reply.blocks = {"{\"message\":\"ok\"}"};
    LoopbackHttpServer server(reply);
    Rig rig(server.Url("/act/score/pcinfo/add"));
    const std::u16string account(64, u'\u73a9');  // 玩
    rig.Check(account, account);
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
