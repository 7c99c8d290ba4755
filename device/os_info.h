#pragma once
// Operating system identification: the product name as the system's registry states it, and the bitness
// of the native processor architecture.
#include <cstdint>
#include <string>

#include "device/device_survey.h"
#include "device/registry_reader.h"

namespace Device {

constexpr char kCurrentVersionKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";

// 64 for PROCESSOR_ARCHITECTURE_AMD64 (9), 32 for every other architecture.
int16_t BitnessOf(unsigned nativeArchitecture);

// Windows 11 still calls itself "Windows 10 …" in ProductName; its build number tells it apart (servers
// of the same builds keep their names).
std::string CorrectedProductName(const std::string& productName, const std::string& buildNumber,
                                 const std::string& installationType);

OsInfo ReadOsInfo(const RegistryReader& registry, unsigned nativeArchitecture);

}  // namespace Device
