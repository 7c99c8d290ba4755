#include <windows.h>
#include <iphlpapi.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "device/network_adapters.h"
#include "device/registry_win.h"
#include "device/windows_device_info.h"
#include "device/wmi_query_win.h"

namespace Device {

std::vector<AdapterRecord> ReadIpHelperAdapters() {
    std::vector<AdapterRecord> records;
    ULONG size = 0;
    GetAdaptersInfo(nullptr, &size);
    if (size == 0) return records;
    const std::unique_ptr<void, decltype(&std::free)> buffer(std::calloc(1, size), &std::free);
    if (!buffer) return records;
    auto* first = static_cast<IP_ADAPTER_INFO*>(buffer.get());
    if (GetAdaptersInfo(first, &size) != ERROR_SUCCESS) return records;
    for (const IP_ADAPTER_INFO* adapter = first; adapter; adapter = adapter->Next) {
        const size_t length = adapter->AddressLength < sizeof adapter->Address ? adapter->AddressLength
                                                                               : sizeof adapter->Address;
        records.push_back({std::string(adapter->Description, strnlen(adapter->Description, sizeof adapter->Description)),
                           std::string(reinterpret_cast<const char*>(adapter->Address), length), adapter->Type,
                           adapter->IpAddressList.Context != 0});
    }
    return records;
}

void QueryAdapterByWmi(const std::u16string& serviceName, std::string& adapterType, std::string& macAddress,
                       int32_t& connectionStatus) {
    CoInitialize(nullptr);
    WmiQuery wmi;
    QueryAdapterByWmi(wmi, serviceName, adapterType, macAddress, connectionStatus);
}

void WindowsDeviceInfo::QueryNetworkAdaptersFromIpHelper() {
    FillFromAdapterRecords(m_survey.networks, ReadIpHelperAdapters());
}

void WindowsDeviceInfo::QueryNetworkAdaptersFromRegistry() {
    FillFromNetworkCards(m_survey.networks, WindowsRegistry(),
                         [](const std::u16string& serviceName, std::string& adapterType, std::string& macAddress,
                            int32_t& connectionStatus) {
                             QueryAdapterByWmi(serviceName, adapterType, macAddress, connectionStatus);
                         });
}

}  // namespace Device
