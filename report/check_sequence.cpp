#include "report/check_sequence.h"

#include <cwctype>

#include "device/network_adapters.h"
#include "report/message_display.h"
#include "report/report_text.h"
#include "report/text_encoding.h"

std::u16string TrimAccount(const std::u16string& text) {
    const auto blank = [](char16_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; };
    size_t end = text.size();
    while (end > 0 && blank(text[end - 1])) --end;
    size_t start = 0;
    while (start < end && blank(text[start])) ++start;
    return text.substr(start, end - start);
}

CheckOutcome RunCheckSequence(const std::u16string& account, const std::u16string& confirm,
                              std::unique_ptr<Device::IDeviceInfo>& survey, ICheckEnvironment& environment,
                              CURL* curl, const char* reportUrl, std::FILE* log) {
    const std::u16string trimmed = TrimAccount(account);
    if (trimmed.empty()) {
        ShowMessage(u"请输入用户名！");
        return CheckOutcome::EmptyAccount;
    }
    if (trimmed != confirm) {
        ShowMessage(u"账号不一致！");
        return CheckOutcome::AccountMismatch;
    }
    CheckReport report;
    // A probe may throw (std::bad_alloc, a container's range check): the check ends as a failed survey,
    // and nothing escapes to the window procedure that called it. The next check surveys again.
    try {
        if (!survey) survey = environment.TakeSurvey();
        if (survey) {
            Device::NetworkAdapterList networks{};
            survey->GetNetworkAdapters(networks);
            report.macAddress = Device::SelectMacAddress(networks);
            survey->GetOsInfo(report.os);
            survey->GetCpuInfo(report.cpu);
            survey->GetMemoryInfo(report.memory);
            survey->GetDisplayAdapters(report.displays);
        }
    } catch (...) {
        survey.reset();
    }
    if (!survey) {
        ShowMessage(u"获取硬件信息失败！");
        return CheckOutcome::SurveyFailed;
    }
    environment.ScreenSize(report.screenWidth, report.screenHeight);
    report.computerName = environment.ComputerName();
    report.userName = environment.UserName();
    // Sized from the text: 64 double-byte characters need 128 bytes, and every one of them is kept.
    report.account = TextEncoding::Utf16ToAnsi(trimmed);

    WriteSurveyLog(report, log);
    if (!curl) return CheckOutcome::NotSent;
    SubmitReport(curl, BuildReportJson(report), reportUrl);
    return CheckOutcome::Reported;
}
