#include "device/network_adapters.h"

#include <algorithm>
#include <cstring>

#include "text/field_text.h"
#include "text/format.h"
#include "text/text_encoding.h"

namespace Device {

std::string FormatMacAddress(std::string_view address) {
    std::string text;
    for (size_t i = 0; i < address.size(); ++i)
        text += Format(i + 1 < address.size() ? "%02X-" : "%02X", static_cast<unsigned char>(address[i]));
    return text;
}

void FillFromAdapterRecords(NetworkAdapterList& list, const std::vector<AdapterRecord>& records) {
    for (const AdapterRecord& record : records) {
        if (record.address.empty() || record.type != 6) continue;
        if (list.count >= kMaxNetworkAdapters) return;
        NetworkAdapterInfo& entry = list.adapters[list.count];
        FieldText::CopyToField(entry.description, record.description);
        FieldText::CopyToField(entry.macAddress, FormatMacAddress(record.address));
        entry.connectionStatus = record.hasBoundAddress ? 2 : 0;
        ++list.count;
    }
}

void FillFromNetworkCards(NetworkAdapterList& list, const RegistryReader& registry, const WmiAdapterLookup& lookup) {
    for (const std::string& card : registry.SubKeyNames(kNetworkCardsKey)) {
        if (list.count >= kMaxNetworkAdapters) return;
        const std::string path = std::string(kNetworkCardsKey) + "\\" + card;
        NetworkAdapterInfo& entry = list.adapters[list.count];
        FieldText::CopyToField(entry.description, FieldText::NarrowText(registry.ReadA(path, "Description", kLongTextBytes).value_or("")));
        const std::u16string serviceName = FieldText::WideText(registry.ReadW(path, u"ServiceName", 256).value_or(""));
        std::string adapterType, macAddress;
        lookup(serviceName, adapterType, macAddress, entry.connectionStatus);
        std::replace(macAddress.begin(), macAddress.end(), ':', '-');
        FieldText::CopyToField(entry.adapterType, adapterType);
        FieldText::CopyToField(entry.macAddress, macAddress);
        if (entry.macAddress[0] != '\0') ++list.count;
    }
}

void QueryAdapterByWmi(IWmiQuery& wmi, const std::u16string& serviceName, std::string& adapterType,
                       std::string& macAddress, int32_t& connectionStatus) {
    struct CloseOnExit {
        IWmiQuery& wmi;
        ~CloseOnExit() { wmi.Close(); }
    } closeOnExit{wmi};
    if (serviceName.empty()) return;
    wmi.Connect();
    wmi.RunQuery(u"Select * from Win32_NetworkAdapterConfiguration WHERE SettingID=\"" + serviceName + u"\"");
    int32_t index = 0;
    // A card the configuration query does not know ends here: going on with Index 0 would give it
    // another adapter's MAC.
    if (!wmi.NextObject() || !wmi.GetIndex(index)) return;
    wmi.ReleaseResults();
    wmi.RunQuery(TextEncoding::AnsiToUtf16(Format("Select * from Win32_NetworkAdapter WHERE Index=%d", index)));
    if (wmi.NextObject()) {
        wmi.GetPropertyText(u"AdapterType", adapterType);
        wmi.GetPropertyText(u"MACAddress", macAddress);
        wmi.GetNetConnectionStatus(connectionStatus);
        uint16_t status16 = 0;
        if (connectionStatus == 0) {
            wmi.GetNetConnectionStatusUI2(status16);
            connectionStatus = status16;
        }
    }
    wmi.ReleaseResults();
}

namespace {

template <size_t N>
std::string_view FieldView(const char (&field)[N]) {
    return std::string_view(field, strnlen(field, N));
}

}  // namespace

std::string SelectMacAddress(const NetworkAdapterList& list) {
    static const std::string_view kVmware = "VMware Virtual Ethernet Adapter";
    auto isVmware = [](std::string_view description) {
        for (size_t at = 0; at < description.size(); at += FieldText::AnsiCharLength(description.substr(at)))
            if (description.substr(at, kVmware.size()) == kVmware) return true;
        return false;
    };
    const int count = std::min<int>(list.count, kMaxNetworkAdapters);
    for (int i = 0; i < count; ++i) {
        const NetworkAdapterInfo& entry = list.adapters[i];
        if (entry.connectionStatus == 2 && entry.macAddress[0] != '\0' && !isVmware(FieldView(entry.description)))
            return std::string(FieldView(entry.macAddress));
    }
    for (int i = 0; i < count; ++i)
        if (list.adapters[i].macAddress[0] != '\0') return std::string(FieldView(list.adapters[i].macAddress));
    return {};
}

}  // namespace Device
