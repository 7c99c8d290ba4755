#pragma once
// What the check button does: validate the two account entries, take the survey once per run, print the
// survey log and post the report.
#include <curl/curl.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "device/device_info.h"
#include "report/report_submit.h"

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

enum class CheckOutcome { EmptyAccount, AccountMismatch, SurveyFailed, Reported, NotSent };

// Removes trailing, then leading white space as the C library's iswspace classifies it.
std::u16string TrimAccount(const std::u16string& text);

// One check. `survey` is empty before the first passing check and is kept for every later one, so the
// machine is surveyed at most once per run. The check's messages go to the message display.
CheckOutcome RunCheckSequence(const std::u16string& account, const std::u16string& confirm,
                              std::unique_ptr<Device::IDeviceInfo>& survey, ICheckEnvironment& environment,
                              CURL* curl, const char* reportUrl = ReportUrl(), std::FILE* log = stdout);

// The platform's environment (Windows: GetSystemMetrics, GetComputerNameA, GetUserNameA and the
// Windows survey).
ICheckEnvironment& SystemCheckEnvironment();
