#pragma once
// The values of one check, as the check sequence gathered them; the survey log and the report payload are
// both rendered from this.
#include <cstdint>
#include <string>

#include "device/device_survey.h"

struct CheckReport {
    std::string account;  // trimmed, in the ANSI code page
    std::string macAddress;
    Device::OsInfo os{};
    Device::CpuInfo cpu{};
    Device::MemoryInfo memory{};
    Device::DisplayAdapterList displays{};
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    std::string computerName;
    std::string userName;  // logged, never sent
};
