#include "report/checker.h"

#include <algorithm>
#include <cwctype>
#include <optional>
#include <utility>

#include "device/network_adapters.h"
#include "report/report_text.h"
#include "text/charset.h"
#include "text/text_encoding.h"

std::u16string TrimAccount(const std::u16string& text) {
    const auto blank = [](char16_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; };
    size_t end = text.size();
    while (end > 0 && blank(text[end - 1])) --end;
    size_t start = 0;
    while (start < end && blank(text[start])) ++start;
    return text.substr(start, end - start);
}

CheckReport AssembleReport(const Device::IDeviceInfo& survey, ICheckEnvironment& environment) {
    CheckReport report;
    Device::NetworkAdapterList networks{};
    survey.GetNetworkAdapters(networks);
    report.macAddress = Device::SelectMacAddress(networks);
    survey.GetOsInfo(report.os);
    survey.GetCpuInfo(report.cpu);
    survey.GetMemoryInfo(report.memory);
    survey.GetDisplayAdapters(report.displays);
    environment.ScreenSize(report.screenWidth, report.screenHeight);
    report.computerName = environment.ComputerName();
    report.userName = environment.UserName();
    return report;
}

Checker::Checker(std::unique_ptr<ICheckEnvironment> environment, std::unique_ptr<IReportTransfer> transfer,
                 IMessageDisplay& display, std::string reportUrl, std::FILE* log)
    : m_environment(std::move(environment)),
      m_transfer(std::move(transfer)),
      m_display(display),
      m_reportUrl(std::move(reportUrl)),
      m_log(log) {}

CheckOutcome Checker::Check(const std::u16string& account, const std::u16string& confirm) {
    const std::u16string trimmed = TrimAccount(account);
    if (trimmed.empty()) {
        m_display.ShowMessage(u"请输入用户名！");
        return CheckOutcome::EmptyAccount;
    }
    if (trimmed != confirm) {
        m_display.ShowMessage(u"账号不一致！");
        return CheckOutcome::AccountMismatch;
    }
    // A character the code page lacks would go out as '?' or a look-alike: two players whose names differ
    // only there would become one account. Sized from the text: 64 double-byte characters take 128 bytes.
    // A private-use character (the user-defined areas) means something only on this machine.
    const bool privateUse = std::any_of(trimmed.begin(), trimmed.end(), Charset::IsPrivateUse);
    const std::optional<std::string> carried =
        privateUse ? std::nullopt : TextEncoding::Utf16ToAnsiExact(trimmed);
    if (!carried) {
        m_display.ShowMessage(u"账号中含有无法识别的字符！");
        return CheckOutcome::UncarriableAccount;
    }
    CheckReport report;
    // A probe may throw (std::bad_alloc, a container's range check): the check ends as a failed survey,
    // and nothing escapes to the window procedure that called it. The next check surveys again.
    try {
        if (!m_survey) m_survey = m_environment->TakeSurvey();
        if (m_survey) report = AssembleReport(*m_survey, *m_environment);
    } catch (...) {
        m_survey.reset();
    }
    if (!m_survey) {
        m_display.ShowMessage(u"获取硬件信息失败！");
        return CheckOutcome::SurveyFailed;
    }
    report.account = *carried;
    WriteSurveyLog(report, m_log);

    const std::string payload = BuildReportJson(report);
    std::fprintf(m_log, "submit ping result[%s].\n%s\n", payload.c_str(), m_reportUrl.c_str());
    std::fflush(m_log);
    const TransferReply reply = m_transfer ? m_transfer->Post(m_reportUrl, payload) : TransferReply{};
    if (reply.hasBlock) {
        // Shown only now that the transfer is over: no modal loop runs inside libcurl.
        std::u16string text = TextEncoding::Utf8ToUtf16(reply.firstBlock);
        text.erase(std::min(text.find(u'\0'), text.size()));
        std::fprintf(m_log, "result: %s\n", TextEncoding::Utf16ToAnsi(text).c_str());
        std::fflush(m_log);
        m_display.ShowMessage(ExtractReplyMessage(text));
    }
    return reply.delivered ? CheckOutcome::Delivered : CheckOutcome::NotDelivered;
}
