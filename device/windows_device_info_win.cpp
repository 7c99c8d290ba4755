#include "device/windows_device_info.h"

#include <cstring>

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

// The probes arrive one by one; until a probe exists its section stays at the zero state, which is a
// valid (empty) survey.
void WindowsDeviceInfo::QueryOsInfo() {}
void WindowsDeviceInfo::QueryCpuInfo() {}
void WindowsDeviceInfo::QueryMemoryInfo() {}
void WindowsDeviceInfo::QueryDisplayAdapters() {}
void WindowsDeviceInfo::QueryNetworkAdaptersFromIpHelper() {}
void WindowsDeviceInfo::QueryNetworkAdaptersFromRegistry() {}

}  // namespace Device
