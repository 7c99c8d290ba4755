#include "report/report_submit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/code_page.h"
#include "tests/support/loopback_http_server.h"

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

// One transfer against a loopback service with the given reply.
struct Exchange {
    CURLcode result;
    TransferReply reply;
    std::vector<testing_support::RecordedRequest> requests;
};

Exchange Submit(ScriptedReply reply, const std::string& payload = kPayload) {
    LoopbackHttpServer server(std::move(reply));
    CurlTransfer transfer;
    const TransferReply got = transfer.Post(server.Url("/act/score/pcinfo/add"), payload);
    return {transfer.LastResult(), got, server.Requests()};
}

TEST(ReportTransfer, PostsThePayloadWithExactlyTheTwoHeaders) {
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
    EXPECT_EQ(x.reply.firstBlock, "{\"code\":0,\"message\":\"ok\"}");
    EXPECT_TRUE(x.reply.delivered);
    EXPECT_EQ(x.result, CURLE_WRITE_ERROR);  // the callback ends the transfer after the first block
}

#ifndef _WIN32
// Every other code page names itself; natively the stand-in code page decides, under Wine the system's
// (the end-to-end flows on a Traditional Chinese prefix see Big5 arrive).
TEST(ReportTransfer, TheContentTypeDeclaresEveryCodePageButChinese) {
    for (const auto& [codePage, type] : {std::pair<unsigned, std::string>{950, "Application/json; charset=Big5"},
                                         {932, "Application/json; charset=Shift_JIS"},
                                         {1252, "Application/json; charset=windows-1252"},
                                         {65001, "Application/json; charset=UTF-8"}}) {
        TextEncodingScope scope(codePage);
        const Exchange x = Submit(Reply({"{\"message\":\"ok\"}"}));
        ASSERT_EQ(x.requests.size(), 1u);
        EXPECT_EQ(x.requests[0].Header("Content-Type"), type);
    }
}
#endif

TEST(ReportTransfer, ALongPayloadGoesThroughTheContinueHandshakeIntact) {
    std::string payload = kPayload;
    payload.replace(payload.find("PC01"), 4, std::string(1500, 'P'));
    const Exchange x = Submit(Reply({"{\"message\":\"ok\"}"}), payload);
    ASSERT_EQ(x.requests.size(), 1u);
    EXPECT_EQ(x.requests[0].body, payload);
    EXPECT_EQ(x.reply.firstBlock, "{\"message\":\"ok\"}");
}

TEST(ReportTransfer, OnlyTheFirstBlockOfASplitReplyIsCollectedAndTheTransferEndsThere) {
    ScriptedReply reply = Reply({"{\"code\":0,\"mess", "age\":\"ok\"}"});
    reply.pauseMs = 300;
    const Exchange x = Submit(reply);
    EXPECT_EQ(x.reply.firstBlock, "{\"code\":0,\"mess");
    EXPECT_EQ(x.result, CURLE_WRITE_ERROR);
}

TEST(ReportTransfer, AReplyLongerThanTheOldBufferIsCollectedWhole) {
    const std::string text(700, 'x');
    const Exchange x = Submit(Reply({"{\"message\":\"" + text + "\"}"}));
    EXPECT_EQ(x.reply.firstBlock, "{\"message\":\"" + text + "\"}");
}

TEST(ReportTransfer, AReplyWithoutBodyIsDeliveredWithNoBlock) {
    const Exchange x = Submit(Reply({}));
    EXPECT_TRUE(x.reply.delivered);
    EXPECT_FALSE(x.reply.hasBlock);
    EXPECT_EQ(x.result, CURLE_OK);
}

TEST(ReportTransfer, UnreachableServiceIsNotDelivered) {
    std::string url;
    {
        LoopbackHttpServer closed(ScriptedReply{});
        url = closed.Url("/act/score/pcinfo/add");
    }
    CurlTransfer transfer;
    const TransferReply reply = transfer.Post(url, kPayload);
    EXPECT_EQ(transfer.LastResult(), CURLE_COULDNT_CONNECT);
    EXPECT_FALSE(reply.delivered);
    EXPECT_FALSE(reply.hasBlock);
}

TEST(ReportTransfer, AServiceThatNeverAnswersIsGivenUpAtTheBound) {
    ScriptedReply silent;
    silent.silent = true;
    LoopbackHttpServer server(silent);
    TransferBounds bounds;
    bounds.totalSeconds = 2;
    CurlTransfer transfer(bounds);
    const auto start = std::chrono::steady_clock::now();
    const TransferReply reply = transfer.Post(server.Url("/act/score/pcinfo/add"), kPayload);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(transfer.LastResult(), CURLE_OPERATION_TIMEDOUT);
    EXPECT_GE(seconds, 1.5);
    EXPECT_LT(seconds, 10.0);
    EXPECT_FALSE(reply.delivered);
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(ReportTransfer, TheHandleServesASecondSubmission) {
    LoopbackHttpServer server(Reply({"{\"message\":\"again\"}"}));
    CurlTransfer transfer;
    const std::string url = server.Url("/act/score/pcinfo/add");
    const TransferReply first = transfer.Post(url, kPayload);
    const TransferReply second = transfer.Post(url, kPayload);
    EXPECT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(first.firstBlock, "{\"message\":\"again\"}");
    EXPECT_EQ(second.firstBlock, "{\"message\":\"again\"}");
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
                      ExtractCase{"no_message_is_unreadable", u"{\"data\":\"x\"}", kUnreadableReply},
                      ExtractCase{"a_proxy_page_is_unreadable", u"<html><body><h1>502 Bad Gateway</h1></body></html>",
                                  u"服务器应答有误，请稍后再试"},
                      ExtractCase{"nothing_is_unreadable", u"", kUnreadableReply},
                      ExtractCase{"escapes_stay", u"{\"message\":\"a\\\"b\"}", u"a\\\"b"},
                      ExtractCase{"end_before_key_ignored", u"\"}{\"message\":\"late", u"late"}),
    [](const ::testing::TestParamInfo<ExtractCase>& info) { return std::string(info.param.label); });

}  // namespace
