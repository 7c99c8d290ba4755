#pragma once
// The Windows survey: constructing the object is the survey. Every probe runs once, in a fixed order, and
// fills one section of the record; a probe that fails leaves its fields zero and the next one runs.
#include <cstdint>
#include <string>
#include <vector>

#include "device/device_info.h"
#include "device/network_adapters.h"

namespace Device {

class WindowsDeviceInfo : public IDeviceInfo {
public:
    WindowsDeviceInfo();

    void GetOsInfo(OsInfo& out) const override { out = m_survey.os; }
    void GetCpuInfo(CpuInfo& out) const override { out = m_survey.cpu; }
    void GetMemoryInfo(MemoryInfo& out) const override { out = m_survey.memory; }
    void GetDisplayAdapters(DisplayAdapterList& out) const override { out = m_survey.displays; }
    void GetNetworkAdapters(NetworkAdapterList& out) const override { out = m_survey.networks; }

private:
    void QueryOsInfo();
    void QueryCpuInfo();
    void QueryMemoryInfo();
    void QueryDisplayAdapters();
    void QueryNetworkAdaptersFromIpHelper();
    void QueryNetworkAdaptersFromRegistry();

    DeviceSurvey m_survey;
};

// The platform halves of the probes.
unsigned NativeProcessorArchitecture();
unsigned LogicalProcessorCount();
// The processor clock timed over 250 ms at raised priority; 0 when it cannot be measured.
int32_t MeasureCpuClockMHz();
uint16_t ReadCpuClockMHzFromRegistry();
uint64_t PhysicalMemoryBytes();
uint64_t SumFixedDiskBytes();
std::vector<AdapterRecord> ReadIpHelperAdapters();
// The WMI look-up of one network card, with its own COM initialisation.
void QueryAdapterByWmi(const std::u16string& serviceName, std::string& adapterType, std::string& macAddress,
                       int32_t& connectionStatus);

}  // namespace Device
