#pragma once
// The WMI client over COM: root\cimv2, one WQL query at a time, one row at a time. The caller calls
// CoInitialize before making it and ends with Close, which calls CoUninitialize.
#include <windows.h>
#include <wbemidl.h>

#include <optional>

#include "device/wmi_query.h"
#include "framework/handles.h"

namespace Device {

class WmiQuery : public IWmiQuery {
public:
    WmiQuery() = default;
    ~WmiQuery() override { ReleaseAll(); }
    WmiQuery(const WmiQuery&) = delete;
    WmiQuery& operator=(const WmiQuery&) = delete;

    void Connect() override;
    void RunQuery(const std::u16string& wql) override;
    bool NextObject() override;
    void GetPropertyText(const std::u16string& name, std::string& out) override;
    bool GetIndex(int32_t& out) override;
    bool GetNetConnectionStatus(int32_t& out) override;
    bool GetNetConnectionStatusUI2(uint16_t& out) override;
    void ReleaseResults() override;
    void ReleaseAll();
    void Close() override;

private:
    // A property of the current object; nothing when there is no object or the read fails.
    std::optional<VariantValue> Property(const wchar_t* name);

    Framework::ComPtr<IEnumWbemClassObject> m_pEnumerator;
    Framework::ComPtr<IWbemClassObject> m_pObject;
    Framework::ComPtr<IWbemLocator> m_pLocator;
    Framework::ComPtr<IWbemServices> m_pServices;
};

// The tagged value a VARIANT holds.
VariantValue ValueOf(const VARIANT& value);
void VariantToText(const VARIANT* value, std::string& out);

}  // namespace Device
