#pragma once
// Network adapters from the IP Helper list, or from the registry's network cards with a WMI look-up per
// card, and the choice of the one MAC address a report carries.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_survey.h"
#include "device/registry_reader.h"
#include "device/wmi_query.h"

namespace Device {

// One adapter as IP Helper lists it.
struct AdapterRecord {
    std::string description;
    std::string address;  // the hardware address bytes
    unsigned type;        // 6 = Ethernet
    bool hasBoundAddress;  // the first IP address entry carries a context value
};

// Upper-case two-digit hexadecimal bytes joined by '-'.
std::string FormatMacAddress(std::string_view address);

void FillFromAdapterRecords(NetworkAdapterList& list, const std::vector<AdapterRecord>& records);

constexpr char kNetworkCardsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";

// Finds a card's type, MAC text and connection status by its service name; leaves them as they are
// where WMI does not know the card.
using WmiAdapterLookup = std::function<void(const std::u16string& serviceName, std::string& adapterType,
                                            std::string& macAddress, int32_t& connectionStatus)>;

// Lists the registry's network cards that the look-up gives a MAC text.
void FillFromNetworkCards(NetworkAdapterList& list, const RegistryReader& registry, const WmiAdapterLookup& lookup);

// The look-up over a WMI client whose COM use the caller has begun; closes the client on every way out.
void QueryAdapterByWmi(IWmiQuery& wmi, const std::u16string& serviceName, std::string& adapterType,
                       std::string& macAddress, int32_t& connectionStatus);

// The first connected adapter with a MAC that is not a VMware virtual one; else the first with a MAC;
// else the empty text.
std::string SelectMacAddress(const NetworkAdapterList& list);

}  // namespace Device
