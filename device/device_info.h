#pragma once
// The survey interface: five read operations, each copying one section of the survey record.
#include "device/device_survey.h"

namespace Device {

class IDeviceInfo {
public:
    virtual void GetOsInfo(OsInfo& out) const = 0;
    virtual void GetCpuInfo(CpuInfo& out) const = 0;
    virtual void GetMemoryInfo(MemoryInfo& out) const = 0;
    virtual void GetDisplayAdapters(DisplayAdapterList& out) const = 0;
    virtual void GetNetworkAdapters(NetworkAdapterList& out) const = 0;
    virtual ~IDeviceInfo() {}
};

// Serves a survey taken elsewhere (or made up by a test): the same read operations over a stored record.
class StoredDeviceInfo : public IDeviceInfo {
public:
    explicit StoredDeviceInfo(const DeviceSurvey& survey) : m_survey(survey) {}
    void GetOsInfo(OsInfo& out) const override { out = m_survey.os; }
    void GetCpuInfo(CpuInfo& out) const override { out = m_survey.cpu; }
    void GetMemoryInfo(MemoryInfo& out) const override { out = m_survey.memory; }
    void GetDisplayAdapters(DisplayAdapterList& out) const override { out = m_survey.displays; }
    void GetNetworkAdapters(NetworkAdapterList& out) const override { out = m_survey.networks; }

private:
    DeviceSurvey m_survey;
};

}  // namespace Device
