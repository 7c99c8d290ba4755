#pragma once
// What the check button does: validate the two account entries, take the survey once per run, print the
// survey log, post the report and show the service's reply.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "device/device_info.h"
#include "report/check_report.h"
#include "report/message_display.h"
#include "report/report_transfer.h"

// What a check needs from the machine besides the survey itself.
class ICheckEnvironment {
public:
    virtual ~ICheckEnvironment() = default;
    // The whole survey; null when the object cannot be created.
    virtual std::unique_ptr<Device::IDeviceInfo> TakeSurvey() = 0;
    virtual void ScreenSize(int32_t& width, int32_t& height) = 0;
    virtual std::string ComputerName() = 0;  // ANSI code page
    virtual std::string UserName() = 0;      // ANSI code page
};

// The platform's environment (Windows: GetSystemMetrics, GetComputerNameA, GetUserNameA and the
// Windows survey).
std::unique_ptr<ICheckEnvironment> MakeSystemCheckEnvironment();

// Delivered: the service answered (whatever it said). NotDelivered: the report was sent for but never
// reached an answer (no connection, a timeout, no transfer to be had).
// UncarriableAccount: the ANSI code page lacks a character of the account, so it cannot be sent as typed.
enum class CheckOutcome { EmptyAccount, AccountMismatch, UncarriableAccount, SurveyFailed, Delivered, NotDelivered };

// Removes trailing, then leading white space as the C library's iswspace classifies it.
std::u16string TrimAccount(const std::u16string& text);

// The record of one check from a survey and the environment as they are now; the account is left empty.
// The check and survey.exe both assemble it here.
CheckReport AssembleReport(const Device::IDeviceInfo& survey, ICheckEnvironment& environment);

// Owns everything a check needs across a run: the environment, the survey once taken, the transfer. The
// message display is the caller's and must outlive the checker.
class Checker {
public:
    Checker(std::unique_ptr<ICheckEnvironment> environment, std::unique_ptr<IReportTransfer> transfer,
            IMessageDisplay& display, std::string reportUrl = ReportUrl(), std::FILE* log = stdout);

    // One check. An account the ANSI code page cannot carry exactly is refused before the survey. The
    // machine is surveyed by the first check that passes validation and never again in
    // this run, unless that survey failed. The reply's first block is shown after the transfer returned.
    CheckOutcome Check(const std::u16string& account, const std::u16string& confirm);

private:
    std::unique_ptr<ICheckEnvironment> m_environment;
    std::unique_ptr<IReportTransfer> m_transfer;
    IMessageDisplay& m_display;
    std::string m_reportUrl;
    std::FILE* m_log;
    std::unique_ptr<Device::IDeviceInfo> m_survey;
};
