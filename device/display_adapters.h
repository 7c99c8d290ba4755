#pragma once
// Display adapters attached to the desktop, with the names and video memory their registry keys record.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "device/device_survey.h"
#include "device/registry_reader.h"

namespace Device {

struct DisplayDeviceRow {
    bool attachedToDesktop;
    std::string deviceKey;  // e.g. \Registry\Machine\System\CurrentControlSet\Control\Video\{…}\0000
};

// The display device at an enumeration index, or nothing where the enumeration ends.
using DisplayDeviceEnumerator = std::function<std::optional<DisplayDeviceRow>(uint32_t index)>;

// Video memory in MB from the adapter's two size values (their raw bytes, nothing when missing): the
// 64-bit qwMemorySize when it holds at least 1 MiB, else the 32-bit MemorySize, a byte count when 0x100000
// or more.
uint32_t VideoMemoryMB(const std::optional<std::string>& qwMemorySize, const std::optional<std::string>& memorySize);

void QueryDisplayAdapters(DisplayAdapterList& list, const DisplayDeviceEnumerator& enumerate,
                          const RegistryReader& registry);

}  // namespace Device
