#pragma once
// The WMI client the network-card look-up talks to, as an interface, and the decisions made on property
// values: their text, which typed reads accept them, and which systems may connect at all.
#include <cstdint>
#include <string>

namespace Device {

class IWmiQuery {
public:
    virtual ~IWmiQuery() = default;
    virtual void Connect() = 0;
    // Ignored when the text is empty, the client is not connected, or an earlier result set is still held.
    virtual void RunQuery(const std::u16string& wql) = 0;
    virtual bool NextObject() = 0;
    // Leaves the text untouched when the name is empty, there is no current object or the read fails.
    virtual void GetPropertyText(const std::u16string& name, std::string& out) = 0;
    virtual bool GetIndex(int32_t& out) = 0;
    virtual bool GetNetConnectionStatus(int32_t& out) = 0;
    virtual bool GetNetConnectionStatusUI2(uint16_t& out) = 0;
    virtual void ReleaseResults() = 0;
    // Releases everything and ends the caller's COM use; runs on every way out of a look-up.
    virtual void Close() = 0;
};

// Windows 2000 and older (below 5.1) never connect.
bool WmiVersionSupported(unsigned major, unsigned minor);

// A property value as WMI hands it over: the VARIANT type and the member that type selects.
struct VariantValue {
    uint16_t type = 0;
    int64_t integer = 0;    // VT_I1, VT_I2, VT_I4, VT_I8, VT_BOOL
    uint64_t unsignedInteger = 0;  // VT_UI1, VT_UI2, VT_UI4, VT_UI8
    double real = 0;        // VT_R4 (widened), VT_R8
    std::u16string text;    // VT_BSTR
};

enum : uint16_t {
    kVtEmpty = 0, kVtNull = 1, kVtI2 = 2, kVtI4 = 3, kVtR4 = 4, kVtR8 = 5, kVtCy = 6, kVtDate = 7, kVtBstr = 8,
    kVtDispatch = 9, kVtError = 10, kVtBool = 11, kVtVariant = 12, kVtUnknown = 13, kVtDecimal = 14, kVtI1 = 16,
    kVtUi1 = 17, kVtUi2 = 18, kVtUi4 = 19, kVtI8 = 20, kVtUi8 = 21,
    kVtArray = 0x2000, kVtByRef = 0x4000,
};

// Replaces the text with the value's ANSI text; types without a text (VT_CY, VT_DISPATCH, …, empty strings)
// leave it as it was. A null value gives the empty text.
void VariantToText(const VariantValue* value, std::string& out);

// The typed reads: "Index" only as VT_I4; "NetConnectionStatus" as a non-negative VT_I4 or a VT_UI4, or
// in the second read as VT_UI2.
bool IndexFromValue(const VariantValue& value, int32_t& out);
bool ConnectionStatusFromValue(const VariantValue& value, int32_t& out);
bool ConnectionStatusUI2FromValue(const VariantValue& value, uint16_t& out);

}  // namespace Device
