#pragma once
// The Windows survey: constructing the object is the survey. Every probe runs once, in a fixed order, and
// fills one section of the record; a probe that fails leaves its fields zero and the next one runs.
#include "device/device_info.h"

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

}  // namespace Device
