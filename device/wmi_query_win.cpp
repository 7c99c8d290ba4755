#include "device/wmi_query_win.h"

namespace Device {
namespace {

void SetProxyBlanket(IUnknown* proxy) {
    CoSetProxyBlanket(proxy, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
}

Framework::Bstr MakeBstr(const wchar_t* text) { return Framework::Bstr(SysAllocString(text)); }

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

}  // namespace

void WmiQuery::Connect() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExW(&version) || !WmiVersionSupported(version.dwMajorVersion, version.dwMinorVersion)) return;
    ReleaseAll();
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(m_pLocator.Put()))) ||
        !m_pLocator)
        return;
    const Framework::Bstr ns = MakeBstr(L"root\\cimv2");
    // WBEM_FLAG_CONNECT_USE_MAX_WAIT bounds the time the call may take.
    if (SUCCEEDED(m_pLocator->ConnectServer(ns.Get(), nullptr, nullptr, nullptr, WBEM_FLAG_CONNECT_USE_MAX_WAIT, nullptr,
                                            nullptr, m_pServices.Put())) &&
        m_pServices)
        SetProxyBlanket(m_pServices.Get());
}

void WmiQuery::RunQuery(const std::u16string& wql) {
    if (wql.empty() || !m_pServices || m_pEnumerator) return;
    const Framework::Bstr language = MakeBstr(L"WQL");
    const Framework::Bstr query = MakeBstr(Wide(wql));
    if (SUCCEEDED(m_pServices->ExecQuery(language.Get(), query.Get(),
                                         WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                         m_pEnumerator.Put())) &&
        m_pEnumerator)
        SetProxyBlanket(m_pEnumerator.Get());
}

bool WmiQuery::NextObject() {
    if (!m_pEnumerator) return false;
    ULONG returned = 0;
    if (FAILED(m_pEnumerator->Next(10000, 1, m_pObject.Put(), &returned))) return false;
    return static_cast<bool>(m_pObject);
}

std::optional<VariantValue> WmiQuery::Property(const wchar_t* name) {
    if (!m_pObject) return std::nullopt;
    VARIANT value;
    VariantInit(&value);
    std::optional<VariantValue> result;
    if (SUCCEEDED(m_pObject->Get(name, 0, &value, nullptr, nullptr))) result = ValueOf(value);
    VariantClear(&value);
    return result;
}

void WmiQuery::GetPropertyText(const std::u16string& name, std::string& out) {
    if (name.empty()) return;
    if (const auto value = Property(Wide(name))) VariantToText(&*value, out);
}

bool WmiQuery::GetIndex(int32_t& out) {
    const auto value = Property(L"Index");
    out = 0;
    return value && IndexFromValue(*value, out);
}

bool WmiQuery::GetNetConnectionStatus(int32_t& out) {
    const auto value = Property(L"NetConnectionStatus");
    out = 0;
    return value && ConnectionStatusFromValue(*value, out);
}

bool WmiQuery::GetNetConnectionStatusUI2(uint16_t& out) {
    const auto value = Property(L"NetConnectionStatus");
    out = 0;
    return value && ConnectionStatusUI2FromValue(*value, out);
}

void WmiQuery::ReleaseResults() {
    m_pObject.Reset();
    m_pEnumerator.Reset();
}

void WmiQuery::ReleaseAll() {
    ReleaseResults();
    m_pServices.Reset();
    m_pLocator.Reset();
}

void WmiQuery::Close() {
    try {
        ReleaseAll();
    } catch (...) {
        // A provider that throws while being released must not keep COM initialised.
    }
    CoUninitialize();
}

VariantValue ValueOf(const VARIANT& v) {
    VariantValue value;
    value.type = V_VT(&v);
    if (value.type & (VT_ARRAY | VT_BYREF)) return value;
    switch (value.type) {
    case VT_I1: value.integer = V_I1(&v); break;
    case VT_I2: value.integer = V_I2(&v); break;
    case VT_I4: value.integer = V_I4(&v); break;
    case VT_I8: value.integer = V_I8(&v); break;
    case VT_BOOL: value.integer = V_BOOL(&v); break;
    case VT_UI1: value.unsignedInteger = V_UI1(&v); break;
    case VT_UI2: value.unsignedInteger = V_UI2(&v); break;
    case VT_UI4: value.unsignedInteger = V_UI4(&v); break;
    case VT_UI8: value.unsignedInteger = V_UI8(&v); break;
    case VT_R4: value.real = V_R4(&v); break;
    case VT_R8: value.real = V_R8(&v); break;
    case VT_BSTR:
        if (V_BSTR(&v))
            value.text.assign(reinterpret_cast<const char16_t*>(V_BSTR(&v)), SysStringLen(V_BSTR(&v)));
        break;
    default: break;
    }
    return value;
}

void VariantToText(const VARIANT* value, std::string& out) {
    if (!value) return VariantToText(static_cast<const VariantValue*>(nullptr), out);
    const VariantValue tagged = ValueOf(*value);
    VariantToText(&tagged, out);
}

}  // namespace Device
