#include "device/windows_device_info.h"

#include <windows.h>

#include <cstring>

#include "device/display_adapters.h"
#include "device/os_info.h"
#include "device/registry_win.h"

namespace Device {

WindowsDeviceInfo::WindowsDeviceInfo() {
    std::memset(&m_survey, 0, sizeof m_survey);
    QueryOsInfo();
    QueryCpuInfo();
    QueryMemoryInfo();
    QueryDisplayAdapters();
    QueryNetworkAdaptersFromIpHelper();
    // The registry walk, with its WMI look-ups, is the slow fall-back for when IP Helper lists nothing.
    if (m_survey.networks.count <= 0) QueryNetworkAdaptersFromRegistry();
}

void WindowsDeviceInfo::QueryOsInfo() { m_survey.os = ReadOsInfo(WindowsRegistry(), NativeProcessorArchitecture()); }

void WindowsDeviceInfo::QueryDisplayAdapters() {
    Device::QueryDisplayAdapters(m_survey.displays, [](uint32_t index) -> std::optional<DisplayDeviceRow> {
        DISPLAY_DEVICEA device{};
        device.cb = sizeof device;
        if (!EnumDisplayDevicesA(nullptr, index, &device, EDD_GET_DEVICE_INTERFACE_NAME)) return std::nullopt;
        return DisplayDeviceRow{(device.StateFlags & DISPLAY_DEVICE_ATTACHED_TO_DESKTOP) != 0,
                                std::string(device.DeviceKey, strnlen(device.DeviceKey, sizeof device.DeviceKey))};
    }, WindowsRegistry());
}

}  // namespace Device
