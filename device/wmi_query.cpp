#include "device/wmi_query.h"

#include <string>

#include "text/format.h"
#include "text/text_encoding.h"

namespace Device {

bool WmiVersionSupported(unsigned major, unsigned minor) { return major > 5 || (major == 5 && minor >= 1); }

void VariantToText(const VariantValue* value, std::string& out) {
    if (value == nullptr) {
        out.clear();
        return;
    }
    if (value->type & kVtArray) {
        out = "<array>";
        return;
    }
    if (value->type & kVtByRef) {
        out = "<reference>";
        return;
    }
    switch (value->type) {
    case kVtEmpty:
    case kVtNull: out.clear(); break;
    case kVtI2:
    case kVtI4: out = std::to_string(value->integer); break;
    case kVtR4:
    case kVtR8: out = Format("%f", value->real); break;
    case kVtDate: out = "Date"; break;
    case kVtBstr:
        if (!value->text.empty()) out = TextEncoding::Utf16ToAnsi(value->text);
        break;
    case kVtBool: out = value->integer == -1 ? "True" : "False"; break;
    case kVtI1: {
        const char byte = static_cast<char>(value->integer);
        out = byte != 0 ? std::string(1, byte) : std::string();
        break;
    }
    case kVtUi1:
    case kVtUi2:
    case kVtUi4:
    case kVtUi8: out = std::to_string(value->unsignedInteger); break;
    case kVtI8: out = std::to_string(value->integer); break;
    default: break;  // VT_CY, VT_DISPATCH, VT_ERROR, VT_VARIANT, VT_UNKNOWN, VT_DECIMAL and above VT_UI8
    }
}

bool IndexFromValue(const VariantValue& value, int32_t& out) {
    out = 0;
    if (value.type != kVtI4) return false;
    out = static_cast<int32_t>(value.integer);
    return true;
}

bool ConnectionStatusFromValue(const VariantValue& value, int32_t& out) {
    out = 0;
    if ((value.type == kVtI4 && value.integer >= 0) || value.type == kVtUi4) {
        out = static_cast<int32_t>(value.type == kVtI4 ? value.integer : static_cast<int64_t>(value.unsignedInteger));
        return true;
    }
    return false;
}

bool ConnectionStatusUI2FromValue(const VariantValue& value, uint16_t& out) {
    out = 0;
    if (value.type != kVtUi2) return false;
    out = static_cast<uint16_t>(value.unsignedInteger);
    return true;
}

}  // namespace Device
