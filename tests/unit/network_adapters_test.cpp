#include "device/network_adapters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "tests/support/code_page.h"
#include "tests/support/fake_registry.h"

namespace {

using Device::AdapterRecord;
using Device::VariantValue;

TEST(MacAddress, UpperCaseHexJoinedByDashes) {
    EXPECT_EQ(Device::FormatMacAddress(std::string("\x00\x1a\x2b\x3c\x4d\x5e", 6)), "00-1A-2B-3C-4D-5E");
    const std::string eight = Device::FormatMacAddress(std::string("\x01\x02\x03\x04\x05\x06\xfe\xff", 8));
    EXPECT_EQ(eight, "01-02-03-04-05-06-FE-FF");
    EXPECT_EQ(eight.size(), 23u);
    EXPECT_EQ(Device::FormatMacAddress(""), "");
}

TEST(IpHelperAdapters, OnlyEthernetAdaptersWithAnAddress) {
    Device::NetworkAdapterList list{};
    Device::FillFromAdapterRecords(list, {
                                             {"wireless", "\x01\x02\x03\x04\x05\x06", 71, true},
                                             {"no address", "", 6, true},
                                             {"loopback", "\x00\x00\x00\x00\x00\x00", 24, true},
                                             {"wired, unbound", std::string("\x00\x1a\x2b\x3c\x4d\x5e", 6), 6, false},
                                             {"wired, bound", "\xaa\xbb\xcc\xdd\xee\xff", 6, true},
                                         });
    ASSERT_EQ(list.count, 2);
    EXPECT_STREQ(list.adapters[0].description, "wired, unbound");
    EXPECT_STREQ(list.adapters[0].macAddress, "00-1A-2B-3C-4D-5E");
    EXPECT_EQ(list.adapters[0].connectionStatus, 0);
    EXPECT_EQ(list.adapters[1].connectionStatus, 2);
    EXPECT_STREQ(list.adapters[1].adapterType, "");
}

TEST(IpHelperAdapters, ThirtyOneAdaptersStopAtThirtyAndLongDescriptionsAreCut) {
    std::vector<AdapterRecord> records(31, AdapterRecord{std::string(131, 'd'), "\x01\x02\x03\x04\x05\x06", 6, true});
    Device::NetworkAdapterList list{};
    Device::FillFromAdapterRecords(list, records);
    EXPECT_EQ(list.count, 30);
    EXPECT_EQ(std::string(list.adapters[29].description), std::string(127, 'd'));
}

Device::NetworkAdapterInfo Adapter(const char* description, const char* mac, int32_t status) {
    Device::NetworkAdapterInfo info{};
    std::strcpy(info.description, description);
    std::strcpy(info.macAddress, mac);
    info.connectionStatus = status;
    return info;
}

TEST(SelectMacAddress, EveryRule) {
    TextEncodingScope scope(936);
    const char* vmware = "VMware Virtual Ethernet Adapter for VMnet8";
    const struct {
        const char* label;
        std::vector<Device::NetworkAdapterInfo> adapters;
        const char* expected;
    } cases[] = {
        {"empty list", {}, ""},
        {"one wired adapter", {Adapter("eth", "00-1A-2B-3C-4D-5E", 2)}, "00-1A-2B-3C-4D-5E"},
        {"connected one wins over an earlier unconnected",
         {Adapter("a", "00-00-00-00-00-01", 0), Adapter("b", "00-00-00-00-00-02", 2)}, "00-00-00-00-00-02"},
        {"VMware skipped for a later physical one",
         {Adapter(vmware, "00-50-56-C0-00-08", 2), Adapter("Realtek", "00-00-00-00-00-02", 2)}, "00-00-00-00-00-02"},
        {"only VMware: taken by the second rule", {Adapter(vmware, "00-50-56-C0-00-08", 2)}, "00-50-56-C0-00-08"},
        {"VMware text inside the description",
         {Adapter("x VMware Virtual Ethernet Adapter", "00-50-56-C0-00-08", 2), Adapter("p", "00-00-00-00-00-02", 2)},
         "00-00-00-00-00-02"},
        {"case matters", {Adapter("vmware virtual ethernet adapter", "00-50-56-C0-00-08", 2)}, "00-50-56-C0-00-08"},
        {"no connected adapter: first with a MAC",
         {Adapter("a", "", 0), Adapter("b", "00-00-00-00-00-02", 0), Adapter("c", "00-00-00-00-00-03", 7)},
         "00-00-00-00-00-02"},
        {"connected without a MAC is passed over",
         {Adapter("a", "", 2), Adapter("b", "00-00-00-00-00-02", 2)}, "00-00-00-00-00-02"},
        // The second byte of the double-byte character is 'V': a byte-wise search would see the VMware text.
        {"VMware text starting on a trail byte is no match",
         {Adapter("\x81VMware Virtual Ethernet Adapter", "00-00-00-00-00-01", 2), Adapter("p", "00-00-00-00-00-02", 2)},
         "00-00-00-00-00-01"},
        {"VMware text after a whole double-byte character",
         {Adapter("\xD6\xD0VMware Virtual Ethernet Adapter", "00-00-00-00-00-01", 2),
          Adapter("p", "00-00-00-00-00-02", 2)},
         "00-00-00-00-00-02"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Device::NetworkAdapterList list{};
        for (const auto& adapter : c.adapters) list.adapters[list.count++] = adapter;
        EXPECT_EQ(Device::SelectMacAddress(list), c.expected);
    }
}

TEST(SelectMacAddress, EntriesFromCountOnAreNotRead) {
    Device::NetworkAdapterList list{};
    list.adapters[0] = Adapter("left by a rejected card", "00-00-00-00-00-09", 2);
    EXPECT_EQ(Device::SelectMacAddress(list), "");
}

// A WMI whose rows are recorded per query text; typed reads decide as the real client does.
class FakeWmi : public Device::IWmiQuery {
public:
    using Row = std::map<std::u16string, VariantValue>;
    std::map<std::u16string, std::vector<Row>> results;
    std::vector<std::u16string> queries;
    bool connected = false, closed = false;

    void Connect() override { connected = true; }
    void RunQuery(const std::u16string& wql) override {
        if (!connected || m_rows) return;
        queries.push_back(wql);
        m_rows = &results[wql];
        m_next = 0;
        m_current = nullptr;
    }
    bool NextObject() override {
        m_current = m_rows && m_next < m_rows->size() ? &(*m_rows)[m_next++] : nullptr;
        return m_current != nullptr;
    }
    void GetPropertyText(const std::u16string& name, std::string& out) override {
        if (const VariantValue* v = Get(name)) Device::VariantToText(v, out);
    }
    bool GetIndex(int32_t& out) override {
        const VariantValue* v = Get(u"Index");
        out = 0;
        return v && Device::IndexFromValue(*v, out);
    }
    bool GetNetConnectionStatus(int32_t& out) override {
        const VariantValue* v = Get(u"NetConnectionStatus");
        out = 0;
        return v && Device::ConnectionStatusFromValue(*v, out);
    }
    bool GetNetConnectionStatusUI2(uint16_t& out) override {
        const VariantValue* v = Get(u"NetConnectionStatus");
        out = 0;
        return v && Device::ConnectionStatusUI2FromValue(*v, out);
    }
    void ReleaseResults() override { m_rows = nullptr, m_current = nullptr; }
    void Close() override { closed = true; }

private:
    const VariantValue* Get(const std::u16string& name) const {
        if (!m_current) return nullptr;
        const auto it = m_current->find(name);
        return it == m_current->end() ? nullptr : &it->second;
    }
    std::vector<Row>* m_rows = nullptr;
    size_t m_next = 0;
    const Row* m_current = nullptr;
};

VariantValue I4(int32_t v) { return {Device::kVtI4, v, 0, 0, {}}; }
VariantValue Unsigned(uint16_t type, uint32_t v) { return {type, 0, v, 0, {}}; }
VariantValue Str(const std::u16string& s) { return {Device::kVtBstr, 0, 0, 0, s}; }

const std::u16string kConfigQuery = u"Select * from Win32_NetworkAdapterConfiguration WHERE SettingID=\"{GUID-1}\"";
const std::u16string kAdapterQuery = u"Select * from Win32_NetworkAdapter WHERE Index=7";

struct LookupResult {
    std::string type = "", mac = "";
    int32_t status = -9;  // a value the look-up must not touch unless it reads one
};

LookupResult LookUp(FakeWmi& wmi, const std::u16string& serviceName = u"{GUID-1}") {
    LookupResult r;
    Device::QueryAdapterByWmi(wmi, serviceName, r.type, r.mac, r.status);
    EXPECT_TRUE(wmi.closed);
    return r;
}

TEST(WmiAdapterLookup, AMatchedCardGetsTypeMacAndStatus) {
    const struct {
        const char* label;
        VariantValue status;
        int32_t expected;
    } cases[] = {
        {"VT_I4", I4(2), 2},
        {"VT_UI4", Unsigned(Device::kVtUi4, 2), 2},
        {"VT_UI2 through the second read", Unsigned(Device::kVtUi2, 7), 7},
        {"negative VT_I4 refused", I4(-1), 0},
        {"VT_BSTR refused", Str(u"2"), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FakeWmi wmi;
        wmi.results[kConfigQuery] = {{{u"Index", I4(7)}}};
        wmi.results[kAdapterQuery] = {{{u"AdapterType", Str(u"以太网 802.3")},
                                       {u"MACAddress", Str(u"00:1A:2B:3C:4D:5E")},
                                       {u"NetConnectionStatus", c.status}}};
        TextEncodingScope scope(936);
        const LookupResult r = LookUp(wmi);
        EXPECT_EQ(r.type, "\xD2\xD4\xCC\xAB\xCD\xF8 802.3");
        EXPECT_EQ(r.mac, "00:1A:2B:3C:4D:5E");
        EXPECT_EQ(r.status, c.expected);
        EXPECT_EQ(wmi.queries, (std::vector<std::u16string>{kConfigQuery, kAdapterQuery}));
    }
}

TEST(WmiAdapterLookup, UnmatchedCardsEndWithNothingSet) {
    const struct {
        const char* label;
        std::vector<FakeWmi::Row> configRows;
        std::u16string serviceName;
        size_t queries;
    } cases[] = {
        {"no configuration row (Index 0 would be another adapter)", {}, u"{GUID-1}", 1},
        {"Index not VT_I4", {{{u"Index", Unsigned(Device::kVtUi4, 7)}}}, u"{GUID-1}", 1},
        {"Index missing", {{{u"Caption", Str(u"x")}}}, u"{GUID-1}", 1},
        {"empty service name", {{{u"Index", I4(7)}}}, u"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FakeWmi wmi;
        wmi.results[kConfigQuery] = c.configRows;
        wmi.results[u"Select * from Win32_NetworkAdapter WHERE Index=0"] = {
            {{u"MACAddress", Str(u"66:66:66:66:66:66")}, {u"NetConnectionStatus", I4(2)}}};
        const LookupResult r = LookUp(wmi, c.serviceName);
        EXPECT_EQ(r.mac, "");
        EXPECT_EQ(r.status, -9);
        EXPECT_EQ(wmi.queries.size(), c.queries);
    }
}

TEST(WmiAdapterLookup, NoAdapterRowLeavesTextsEmptyAndStatusAsItWas) {
    FakeWmi wmi;
    wmi.results[kConfigQuery] = {{{u"Index", I4(7)}}};
    const LookupResult r = LookUp(wmi);
    EXPECT_EQ(r.mac, "");
    EXPECT_EQ(r.type, "");
    EXPECT_EQ(r.status, -9);
}

TEST(NetworkCards, OnlyCardsWithAMacTakeAnEntry) {
    TextEncodingScope scope(936);
    FakeRegistry registry;
    const std::string cards = Device::kNetworkCardsKey;
    registry.SetSubKeys(cards, {"2", "7", "9", "11"});
    registry.SetText(cards + "\\2", "Description", "\xCE\xDE\xCF\xDF\xCD\xF8\xBF\xA8");  // 无线网卡
    registry.Set(cards + "\\2", "ServiceName", Utf16Bytes(u"{W}") + std::string(2, '\0'));
    registry.SetText(cards + "\\7", "Description", "unknown to WMI, and a long description to be overwritten");
    registry.Set(cards + "\\7", "ServiceName", Utf16Bytes(u"{X}"));
    registry.SetText(cards + "\\9", "Description", "no service name");
    registry.SetText(cards + "\\11", "Description", "wired");
    registry.Set(cards + "\\11", "ServiceName", Utf16Bytes(u"{E}"));
    std::vector<std::u16string> asked;
    Device::NetworkAdapterList list{};
    Device::FillFromNetworkCards(list, registry,
                                 [&](const std::u16string& name, std::string& type, std::string& mac, int32_t& status) {
                                     asked.push_back(name);
                                     if (name == u"{W}") type = "Wireless", mac = "aa:bb:cc:dd:ee:01", status = 2;
                                     if (name == u"{E}") type = "Ethernet 802.3", mac = "AA:BB:CC:DD:EE:02", status = 7;
                                 });
    EXPECT_EQ(asked, (std::vector<std::u16string>{u"{W}", u"{X}", u"", u"{E}"}));
    ASSERT_EQ(list.count, 2);
    EXPECT_STREQ(list.adapters[0].description, "\xCE\xDE\xCF\xDF\xCD\xF8\xBF\xA8");
    EXPECT_STREQ(list.adapters[0].macAddress, "aa-bb-cc-dd-ee-01");
    EXPECT_STREQ(list.adapters[0].adapterType, "Wireless");
    EXPECT_EQ(list.adapters[0].connectionStatus, 2);
    EXPECT_STREQ(list.adapters[1].description, "wired");
    EXPECT_STREQ(list.adapters[1].macAddress, "AA-BB-CC-DD-EE-02");
    EXPECT_EQ(list.adapters[1].connectionStatus, 7);
}

TEST(NetworkCards, ThirtyOneCardsStopAtThirty) {
    FakeRegistry registry;
    std::vector<std::string> names;
    for (int i = 0; i < 31; ++i) names.push_back(std::to_string(i));
    registry.SetSubKeys(Device::kNetworkCardsKey, names);
    int lookUps = 0;
    Device::NetworkAdapterList list{};
    Device::FillFromNetworkCards(list, registry, [&](const std::u16string&, std::string&, std::string& mac, int32_t&) {
        ++lookUps;
        mac = "00:00:00:00:00:01";
    });
    EXPECT_EQ(list.count, 30);
    EXPECT_EQ(lookUps, 30);
}

TEST(NetworkCards, NoNetworkCardsKeyStoresNothing) {
    Device::NetworkAdapterList list{};
    Device::FillFromNetworkCards(list, FakeRegistry(), [](const std::u16string&, std::string&, std::string& mac,
                                                          int32_t&) { mac = "x"; });
    EXPECT_EQ(list.count, 0);
}

}  // namespace
