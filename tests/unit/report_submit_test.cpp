#include "report/report_submit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "report/message_display.h"
#include "tests/support/loopback_http_server.h"
#include "tests/support/recording_display.h"

namespace {

using testing_support::LoopbackHttpServer;
using testing_support::ScriptedReply;

const std::string kPayload =
    "{\"param\":[\"player1\",\"player1\",\"00-11-22-33-44-55\",\"Example CPU 3.0GHz\",4,2993,\"8192\","
    "\"Chip X;Adapter A;1024;0\",\"1920 x 1080\",\"Windows 7 Professional 64-Bit\",\"PC01\",\"\",\"\",\"\"]}";

ScriptedReply Reply(std::vector<std::string> blocks) {
    ScriptedReply reply;
    reply.blocks = std::move(blocks);
    return reply;
}

// One submission against a loopback service with the given reply.
struct Exchange {
    CURLcode result;
    std::vector<testing_support::RecordedRequest> requests;
    std::vector<std::u16string> shown;
};

Exchange Submit(ScriptedReply reply, const std::string& payload = kPayload) {
    LoopbackHttpServer server(std::move(reply));
    RecordingDisplay display;
    CurlHandle curl;
    const CURLcode result = SubmitReport(curl.handle, payload, server.Url("/act/score/pcinfo/add").c_str());
    return {result, server.Requests(), display.shown};
}

TEST(ReportSubmission, PostsThePayloadWithExactlyTheTwoHeaders) {
    const Exchange x = Submit(Reply({"{\"code\":0,\"message\":\"ok\"}"}));
    ASSERT_EQ(x.requests.size(), 1u);
    const auto& request = x.requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/act/score/pcinfo/add");
    EXPECT_EQ(request.Header("Accept"), "Application/json");
    EXPECT_EQ(request.Header("Content-Type"), "Application/json");
    int acceptLines = 0, typeLines = 0;
    for (const std::string& line : request.headerLines) {
        acceptLines += line.rfind("Accept:", 0) == 0;
        typeLines += line.rfind("Content-Type:", 0) == 0;
    }
    EXPECT_EQ(acceptLines, 1);
    EXPECT_EQ(typeLines, 1);
    EXPECT_EQ(request.Header("Content-Length"), std::to_string(kPayload.size()));
    EXPECT_EQ(request.body, kPayload);
    EXPECT_EQ(x.shown, std::vector<std::u16string>{u"ok"});
    EXPECT_EQ(x.result, CURLE_WRITE_ERROR);  // the callback ends the transfer after the first block
}

TEST(ReportSubmission, ALongPayloadGoesThroughTheContinueHandshakeIntact) {
    std::string payload = kPayload;
    payload.replace(payload.find("PC01"), 4, std::string(1500, 'P'));
    const Exchange x = Submit(Reply({"{\"message\":\"ok\"}"}), payload);
    ASSERT_EQ(x.requests.size(), 1u);
    EXPECT_EQ(x.requests[0].body, payload);
    EXPECT_EQ(x.shown, std::vector<std::u16string>{u"ok"});
}

TEST(ReportSubmission, OnlyTheFirstBlockOfASplitReplyIsShown) {
    ScriptedReply reply = Reply({"{\"code\":0,\"mess", "age\":\"ok\"}"});
    reply.pauseMs = 300;
    const Exchange x = Submit(reply);
    EXPECT_EQ(x.shown, std::vector<std::u16string>{u"{\"code\":0,\"mess"});
    EXPECT_EQ(x.result, CURLE_WRITE_ERROR);
}

TEST(ReportSubmission, ChineseMessageInUtf8IsShownAsTyped) {
    const Exchange x = Submit(Reply({"{\"code\":0,\"message\":\"\xE6\x8F\x90\xE4\xBA\xA4\xE6\x88\x90\xE5\x8A\x9F\"}"}));
    EXPECT_EQ(x.shown, std::vector<std::u16string>{u"提交成功"});
}

TEST(ReportSubmission, AnErrorStatusWithABodyIsShownLikeAnyReply) {
    ScriptedReply reply = Reply({"{\"message\":\"bad report\"}"});
    reply.status = 400;
    EXPECT_EQ(Submit(reply).shown, std::vector<std::u16string>{u"bad report"});
}

TEST(ReportSubmission, AReplyLongerThanTheOldBufferIsShownWhole) {
    const std::string text(700, 'x');
    const Exchange x = Submit(Reply({"{\"message\":\"" + text + "\"}"}));
    ASSERT_EQ(x.shown.size(), 1u);
    EXPECT_EQ(x.shown[0].size(), 700u);
}

TEST(ReportSubmission, AReplyWithoutBodyShowsNothing) {
    const Exchange x = Submit(Reply({}));
    EXPECT_TRUE(x.shown.empty());
    EXPECT_EQ(x.result, CURLE_OK);
}

TEST(ReportSubmission, UnreachableServiceShowsNothing) {
    std::string url;
    {
        LoopbackHttpServer closed(ScriptedReply{});
        url = closed.Url("/act/score/pcinfo/add");
    }
    RecordingDisplay display;
    CurlHandle curl;
    EXPECT_EQ(SubmitReport(curl.handle, kPayload, url.c_str()), CURLE_COULDNT_CONNECT);
    EXPECT_TRUE(display.shown.empty());
}

TEST(ReportSubmission, AServiceThatNeverAnswersIsGivenUpAtTheBound) {
    ScriptedReply silent;
    silent.silent = true;
    LoopbackHttpServer server(silent);
    RecordingDisplay display;
    CurlHandle curl;
    TransferBounds bounds;
    bounds.totalSeconds = 2;
    const auto start = std::chrono::steady_clock::now();
    const CURLcode result = SubmitReport(curl.handle, kPayload, server.Url("/act/score/pcinfo/add").c_str(), bounds);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(result, CURLE_OPERATION_TIMEDOUT);
    EXPECT_GE(seconds, 1.5);
    EXPECT_LT(seconds, 10.0);
    EXPECT_TRUE(display.shown.empty());
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(ReportSubmission, TheHandleServesASecondSubmission) {
    LoopbackHttpServer server(Reply({"{\"message\":\"again\"}"}));
    RecordingDisplay display;
    CurlHandle curl;
    const std::string url = server.Url("/act/score/pcinfo/add");
    SubmitReport(curl.handle, kPayload, url.c_str());
    SubmitReport(curl.handle, kPayload, url.c_str());
    EXPECT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(display.shown, (std::vector<std::u16string>{u"again", u"again"}));
}

struct ExtractCase {
    const char* label;
    const char16_t* reply;
    const char16_t* shown;
};

class ReplyExtraction : public ::testing::TestWithParam<ExtractCase> {};

TEST_P(ReplyExtraction, ShowsTheMessageOrTheWholeReply) {
    EXPECT_EQ(ExtractReplyMessage(GetParam().reply), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyExtraction,
    ::testing::Values(ExtractCase{"last_member", u"{\"code\":0,\"message\":\"ok\"}", u"ok"},
                      ExtractCase{"empty_shows_whole", u"{\"message\":\"\"}", u"{\"message\":\"\"}"},
                      ExtractCase{"not_last_runs_on", u"{\"message\":\"ok\",\"data\":\"x\"}", u"ok\",\"data\":\"x"},
                      ExtractCase{"number_after_runs_to_end", u"{\"message\":\"ok\",\"code\":1}", u"ok\",\"code\":1}"},
                      ExtractCase{"no_message_shows_whole", u"{\"data\":\"x\"}", u"{\"data\":\"x\"}"},
                      ExtractCase{"escapes_stay", u"{\"message\":\"a\\\"b\"}", u"a\\\"b"},
                      ExtractCase{"end_before_key_ignored", u"\"}{\"message\":\"late", u"late"}),
    [](const ::testing::TestParamInfo<ExtractCase>& info) { return std::string(info.param.label); });

}  // namespace
