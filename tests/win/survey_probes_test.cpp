// The Win32 halves of the survey against Wine's real registry, WMI, IP Helper and display enumeration.
// Registry fixtures live under keys of this test's own and are removed again.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "device/cpu_info.h"
#include "device/display_adapters.h"
#include "device/network_adapters.h"
#include "device/os_info.h"
#include "device/registry_win.h"
#include "device/windows_device_info.h"
#include "device/wmi_query_win.h"
#include "tests/support/code_page.h"

namespace {

using Device::RegistryView;

// Each test process plants its own keys: CTest runs tests of this suite side by side in one prefix.
const std::string kTestName = "ZorvSurveyTest" + std::to_string(GetCurrentProcessId());
const std::string kTestRoot = "SOFTWARE\\" + kTestName;
// The Windows the tests run on, as the test runner states it: 32 on a 32-bit Windows, 64 otherwise.
int ExpectedWindowsBits() {
    const char* bits = std::getenv("ZORV_EXPECT_WINDOWS_BITS");
    return bits && std::strcmp(bits, "32") == 0 ? 32 : 64;
}

const std::string kVideoRoot = "System\\" + kTestName;

// The real reader, pointed at the test's own copy of the keys the probes read.
class RebasedRegistry : public Device::RegistryReader {
public:
    std::optional<std::string> ReadA(const std::string& subKey, const std::string& name, size_t maxBytes,
                                     RegistryView view) const override {
        return m_real.ReadA(Rebased(subKey), name, maxBytes, view);
    }
    std::optional<std::string> ReadW(const std::string& subKey, const std::u16string& name,
                                     size_t maxBytes) const override {
        return m_real.ReadW(Rebased(subKey), name, maxBytes);
    }
    std::vector<std::string> SubKeyNames(const std::string& subKey) const override {
        return m_real.SubKeyNames(Rebased(subKey));
    }

private:
    static std::string Rebased(const std::string& subKey) { return std::string(kTestRoot) + "\\" + subKey; }
    Device::WindowsRegistry m_real;
};

// Writes a value below HKLM in the given view (a 64-bit process writing the 32-bit view lands in
// Wow6432Node, where the survey's reads look).
void Write(const std::string& subKey, const char* name, DWORD type, const std::string& data,
           REGSAM view = KEY_WOW64_32KEY) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0, KEY_WRITE | view, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS)
        << subKey;
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

void WriteText(const std::string& subKey, const char* name, const std::string& text, REGSAM view = KEY_WOW64_32KEY) {
    Write(subKey, name, REG_SZ, text + std::string(1, '\0'), view);
}

void WriteWideText(const std::string& subKey, const wchar_t* name, const std::wstring& text) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

std::string Bytes(uint64_t value, size_t width) {
    std::string bytes;
    for (size_t i = 0; i < width; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

std::string Utf16Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

void DeleteTree(const char* parent, const char* name, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent, 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) return;
    RegDeleteTreeA(key, name);
    RegCloseKey(key);
}

class SurveyRegistry : public testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        DeleteTree("SOFTWARE", kTestName.c_str(), KEY_WOW64_32KEY);
        DeleteTree("SOFTWARE", kTestName.c_str(), KEY_WOW64_64KEY);
        DeleteTree("System", kTestName.c_str(), 0);
    }
    const std::string m_currentVersion = std::string(kTestRoot) + "\\" + Device::kCurrentVersionKey;
    RebasedRegistry m_registry;
};

TEST_F(SurveyRegistry, ProductNameComesFromTheNativeView) {
    WriteText(m_currentVersion, "ProductName", "Windows 7 Ultimate", KEY_WOW64_32KEY);
    WriteText(m_currentVersion, "ProductName", "Windows 10 Pro", KEY_WOW64_64KEY);
    WriteText(m_currentVersion, "CurrentBuildNumber", "22631", KEY_WOW64_64KEY);
    WriteText(m_currentVersion, "InstallationType", "Client", KEY_WOW64_64KEY);
    const Device::OsInfo os = Device::ReadOsInfo(m_registry, 9);
    EXPECT_STREQ(os.productName, "Windows 11 Pro");
    EXPECT_EQ(os.bitness, 64);
}

TEST_F(SurveyRegistry, ProductNameMissingOrOverLong) {
    TextEncodingScope scope(936);
    EXPECT_STREQ(Device::ReadOsInfo(m_registry, 9).productName, "");
    // 126 single bytes and a double-byte character that would end on byte 128: cut before it.
    WriteText(m_currentVersion, "ProductName", std::string(126, 'W') + "\xD6\xD0" + std::string(200, 'x'),
              KEY_WOW64_64KEY);
    EXPECT_EQ(std::string(Device::ReadOsInfo(m_registry, 9).productName), std::string(126, 'W'));
}

TEST_F(SurveyRegistry, ProcessorClockValue) {
    EXPECT_EQ(Device::ReadRegistryClockMHz(m_registry), 0);
    Write(std::string(kTestRoot) + "\\" + Device::kCentralProcessorKey, "~MHz", REG_DWORD, Bytes(2400, 4));
    EXPECT_EQ(Device::ReadRegistryClockMHz(m_registry), 2400);
}

TEST_F(SurveyRegistry, VideoMemoryInEveryStoredForm) {
    TextEncodingScope scope(936);
    const struct {
        const char* label;
        DWORD sizeType;
        std::string size;
        DWORD qwType;
        std::string qw;
        uint32_t mb;
    } cases[] = {
        {"MemorySize REG_BINARY 4 bytes", REG_BINARY, Bytes(268435456, 4), REG_NONE, "", 256},
        {"MemorySize REG_DWORD", REG_DWORD, Bytes(512, 4), REG_NONE, "", 512},
        {"MemorySize 8 bytes is too large", REG_BINARY, Bytes(268435456, 8), REG_NONE, "", 0},
        {"qwMemorySize REG_QWORD", REG_BINARY, Bytes(0xFFFFFFFF, 4), REG_QWORD, Bytes(16ull << 30, 8), 16384},
        {"qwMemorySize 8-byte binary", REG_DWORD, Bytes(0x7FFFF000, 4), REG_BINARY, Bytes(6ull << 30, 8), 6144},
        {"qwMemorySize 4-byte binary", REG_DWORD, Bytes(512, 4), REG_BINARY, Bytes(2ull << 30, 4), 2048},
    };
    std::vector<Device::DisplayDeviceRow> rows;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const std::string key = std::string(kVideoRoot) + "\\Video\\000" + std::to_string(i);
        Write(key, "HardwareInformation.MemorySize", cases[i].sizeType, cases[i].size, 0);
        if (cases[i].qwType != REG_NONE) Write(key, "HardwareInformation.qwMemorySize", cases[i].qwType, cases[i].qw, 0);
        Write(key, "HardwareInformation.AdapterString", REG_BINARY, Utf16Bytes(L"显卡 " + std::to_wstring(i)), 0);
        rows.push_back({true, "\\Registry\\Machine\\" + key});
    }
    Device::DisplayAdapterList list{};
    Device::QueryDisplayAdapters(
        list,
        [&](uint32_t index) { return index < rows.size() ? std::optional(rows[index]) : std::nullopt; },
        Device::WindowsRegistry());
    ASSERT_EQ(list.count, static_cast<int16_t>(std::size(cases)));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].label);
        EXPECT_EQ(list.adapters[i].memoryMB, cases[i].mb);
        EXPECT_EQ(std::string(list.adapters[i].name), "\xCF\xD4\xBF\xA8 " + std::to_string(i));
    }
}

TEST_F(SurveyRegistry, AdapterStringOfExactly128BytesIsKeptAndLongerIsNot) {
    const std::string key = std::string(kVideoRoot) + "\\Video\\0000";
    Write(key, "HardwareInformation.AdapterString", REG_BINARY, Utf16Bytes(std::wstring(64, L'A')), 0);
    Write(key, "HardwareInformation.ChipType", REG_BINARY, Utf16Bytes(std::wstring(65, L'C')), 0);
    Device::DisplayAdapterList list{};
    Device::QueryDisplayAdapters(
        list,
        [&](uint32_t index) -> std::optional<Device::DisplayDeviceRow> {
            if (index > 0) return std::nullopt;
            return Device::DisplayDeviceRow{true, "\\Registry\\Machine\\" + key};
        },
        Device::WindowsRegistry());
    ASSERT_EQ(list.count, 1);
    EXPECT_EQ(std::string(list.adapters[0].name), std::string(64, 'A'));
    EXPECT_STREQ(list.adapters[0].chipType, "");
}

// What Wine's WMI lists for its network adapters: SettingID → MAC text.
std::map<std::string, std::string> WmiAdapterMacs() {
    std::map<std::string, std::string> macs;
    CoInitialize(nullptr);
    Device::WmiQuery wmi;
    wmi.Connect();
    wmi.RunQuery(u"Select * from Win32_NetworkAdapterConfiguration");
    while (wmi.NextObject()) {
        std::string settingId, mac;
        wmi.GetPropertyText(u"SettingID", settingId);
        wmi.GetPropertyText(u"MACAddress", mac);
        if (!settingId.empty() && !mac.empty()) macs[settingId] = mac;
    }
    wmi.Close();
    return macs;
}

TEST_F(SurveyRegistry, NetworkCardsAreMatchedThroughWmi) {
    const auto macs = WmiAdapterMacs();
    ASSERT_FALSE(macs.empty()) << "Wine's WMI lists no network adapter with a SettingID";
    const auto& [settingId, mac] = *macs.begin();
    const std::string cards = std::string(kTestRoot) + "\\" + Device::kNetworkCardsKey;
    WriteText(cards + "\\3", "Description", "no WMI match");
    WriteWideText(cards + "\\3", L"ServiceName", L"{00000000-0000-0000-0000-000000000000}");
    WriteText(cards + "\\5", "Description", "\xCD\xF8\xBF\xA8");  // 网卡
    WriteWideText(cards + "\\5", L"ServiceName", std::wstring(settingId.begin(), settingId.end()));

    Device::NetworkAdapterList list{};
    Device::FillFromNetworkCards(list, m_registry,
                                 [](const std::u16string& serviceName, std::string& type, std::string& macText,
                                    int32_t& status) { Device::QueryAdapterByWmi(serviceName, type, macText, status); });
    ASSERT_EQ(list.count, 1);
    std::string expected = mac;
    std::replace(expected.begin(), expected.end(), ':', '-');
    EXPECT_STREQ(list.adapters[0].description, "\xCD\xF8\xBF\xA8");
    EXPECT_EQ(std::string(list.adapters[0].macAddress), expected);
    std::printf("matched card: %s, type \"%s\", status %d\n", list.adapters[0].macAddress, list.adapters[0].adapterType,
                list.adapters[0].connectionStatus);
}

class Wmi : public testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        m_wmi.Connect();
    }
    void TearDown() override { m_wmi.Close(); }
    Device::WmiQuery m_wmi;
};

TEST_F(Wmi, TypedPropertiesOfRealRows) {
    m_wmi.RunQuery(u"Select * from Win32_NetworkAdapter");
    int rows = 0;
    while (m_wmi.NextObject()) {
        ++rows;
        int32_t index = -1, status = -1;
        EXPECT_TRUE(m_wmi.GetIndex(index));
        EXPECT_GE(index, 0);
        const bool read = m_wmi.GetNetConnectionStatus(status);
        uint16_t status16 = 0;
        const bool read16 = m_wmi.GetNetConnectionStatusUI2(status16);
        EXPECT_TRUE(read || read16) << "NetConnectionStatus of adapter " << index << " is neither VT_I4 nor VT_UI2";
        std::string text = "unread";
        m_wmi.GetPropertyText(u"NoSuchProperty", text);
        EXPECT_EQ(text, "unread");
    }
    EXPECT_GT(rows, 0);
    int32_t index = 5;
    EXPECT_FALSE(m_wmi.GetIndex(index)) << "no current object after the last row";
    EXPECT_EQ(index, 0);
}

TEST_F(Wmi, ASecondQueryWithoutReleaseIsIgnoredAndNoRowIsFalse) {
    m_wmi.RunQuery(u"Select * from Win32_NetworkAdapter WHERE Index=999999");
    m_wmi.RunQuery(u"Select * from Win32_NetworkAdapter");
    EXPECT_FALSE(m_wmi.NextObject());
    m_wmi.ReleaseResults();
    m_wmi.RunQuery(u"Select * from Win32_NetworkAdapter");
    EXPECT_TRUE(m_wmi.NextObject());
}

TEST(VariantToTextWin, RealVariants) {
    TextEncodingScope scope(936);
    std::string out = "earlier";

    VARIANT text;
    VariantInit(&text);
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocString(L"本地连接");
    Device::VariantToText(&text, out);
    EXPECT_EQ(out, "\xB1\xBE\xB5\xD8\xC1\xAC\xBD\xD3");
    VariantClear(&text);

    VARIANT array;
    VariantInit(&array);
    V_VT(&array) = VT_ARRAY | VT_BSTR;
    V_ARRAY(&array) = SafeArrayCreateVector(VT_BSTR, 0, 2);
    Device::VariantToText(&array, out);
    EXPECT_EQ(out, "<array>");
    VariantClear(&array);

    LONG number = 7;
    VARIANT reference;
    VariantInit(&reference);
    V_VT(&reference) = VT_BYREF | VT_I4;
    V_I4REF(&reference) = &number;
    Device::VariantToText(&reference, out);
    EXPECT_EQ(out, "<reference>");

    VARIANT flag;
    VariantInit(&flag);
    V_VT(&flag) = VT_BOOL;
    V_BOOL(&flag) = VARIANT_TRUE;
    Device::VariantToText(&flag, out);
    EXPECT_EQ(out, "True");

    VARIANT currency;
    VariantInit(&currency);
    V_VT(&currency) = VT_CY;
    Device::VariantToText(&currency, out);
    EXPECT_EQ(out, "True");  // unchanged

    VARIANT big;
    VariantInit(&big);
    V_VT(&big) = VT_I8;
    V_I8(&big) = -1234567890123LL;
    Device::VariantToText(&big, out);
    EXPECT_EQ(out, "-1234567890123");

    Device::VariantToText(static_cast<const VARIANT*>(nullptr), out);
    EXPECT_EQ(out, "");
}

std::string ReadLinuxFile(const char* path) {
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

TEST(WholeSurvey, MatchesWhatWineReportsAndReadsTheSameTwice) {
    const auto survey = std::make_unique<Device::WindowsDeviceInfo>();

    Device::CpuInfo cpu{};
    survey->GetCpuInfo(cpu);
    const std::string cpuinfo = ReadLinuxFile("Z:\\proc\\cpuinfo");
    int processors = 0;
    for (size_t at = cpuinfo.find("processor\t"); at != std::string::npos; at = cpuinfo.find("processor\t", at + 1))
        ++processors;
    ASSERT_GT(processors, 0) << "Z:\\proc\\cpuinfo unreadable";
    EXPECT_EQ(cpu.processorCount, processors);
    EXPECT_EQ(std::strlen(cpu.vendor), 12u);

    Device::MemoryInfo memory{};
    survey->GetMemoryInfo(memory);
    const std::string meminfo = ReadLinuxFile("Z:\\proc\\meminfo");
    const size_t total = meminfo.find("MemTotal:");
    ASSERT_NE(total, std::string::npos);
    const unsigned long long kb = std::strtoull(meminfo.c_str() + total + 9, nullptr, 10);
    EXPECT_NEAR(static_cast<double>(memory.physicalMemoryMB), kb / 1024.0, 1.0);
    EXPECT_GT(memory.fixedDiskMB, 0u);

    Device::NetworkAdapterList networks{};
    survey->GetNetworkAdapters(networks);
    std::set<std::string> wmiMacs;
    for (const auto& entry : WmiAdapterMacs()) {
        std::string mac = entry.second;
        std::replace(mac.begin(), mac.end(), ':', '-');
        CharUpperA(&mac[0]);  // IP Helper's texts are upper case, WMI's as WMI delivers them
        wmiMacs.insert(mac);
    }
    std::set<std::string> surveyMacs;
    for (int i = 0; i < networks.count; ++i) surveyMacs.insert(networks.adapters[i].macAddress);
    EXPECT_EQ(surveyMacs, wmiMacs);

    Device::OsInfo os{};
    survey->GetOsInfo(os);
    EXPECT_NE(os.productName[0], '\0');

    Device::DisplayAdapterList displays{};
    survey->GetDisplayAdapters(displays);
    EXPECT_GE(displays.count, 1);

    // A later check reads the same survey: every section byte for byte.
    Device::OsInfo os2{};
    Device::CpuInfo cpu2{};
    Device::MemoryInfo memory2{};
    Device::DisplayAdapterList displays2{};
    Device::NetworkAdapterList networks2{};
    survey->GetOsInfo(os2);
    survey->GetCpuInfo(cpu2);
    survey->GetMemoryInfo(memory2);
    survey->GetDisplayAdapters(displays2);
    survey->GetNetworkAdapters(networks2);
    EXPECT_EQ(std::memcmp(&os, &os2, sizeof os), 0);
    EXPECT_EQ(std::memcmp(&cpu, &cpu2, sizeof cpu), 0);
    EXPECT_EQ(std::memcmp(&memory, &memory2, sizeof memory), 0);
    EXPECT_EQ(std::memcmp(&displays, &displays2, sizeof displays), 0);
    EXPECT_EQ(std::memcmp(&networks, &networks2, sizeof networks), 0);
}

// A 32-bit program on 64-bit Windows is shown an x86 by GetSystemInfo; the report must name the machine.
TEST(NativeSystem, OsBitnessIsTheWindowsOneNotTheProcessOne) {
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(wow64 != FALSE, sizeof(void*) == 4 && ExpectedWindowsBits() == 64);
    if (wow64) {
        SYSTEM_INFO emulated{};
        GetSystemInfo(&emulated);
        EXPECT_EQ(emulated.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL) << "not the case this test is for";
    }
    Device::OsInfo os{};
    Device::WindowsDeviceInfo().GetOsInfo(os);
    EXPECT_EQ(os.bitness, ExpectedWindowsBits());
}

// 64-bit Windows keeps a second CurrentVersion for 32-bit programs (Wow6432Node), and a 32-bit program's
// plain reads land there. The product name users see is the native one.
class RedirectedProductName : public testing::Test {
protected:
    static constexpr char kRedirected[] = "SOFTWARE\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion";
    void SetUp() override {
        if (ExpectedWindowsBits() == 32) GTEST_SKIP() << "a 32-bit Windows has one registry view";
        char saved[256] = {};
        DWORD size = sizeof saved;
        if (Device::ReadRegistryValueA(kRedirected, "ProductName", saved, &size, KEY_WOW64_64KEY))
            m_saved = std::string(saved, strnlen(saved, sizeof saved));
    }
    void TearDown() override {
        if (ExpectedWindowsBits() == 32) return;
        if (m_saved) {
            WriteText(kRedirected, "ProductName", *m_saved, KEY_WOW64_64KEY);
        } else if (HKEY key = nullptr; RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRedirected, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                                                     &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, "ProductName");
            RegCloseKey(key);
        }
    }
    std::optional<std::string> m_saved;
};

TEST_F(RedirectedProductName, IsNotReported) {
    const std::string planted = "Windows XP Home Edition (32-bit view)";
    WriteText(kRedirected, "ProductName", planted, KEY_WOW64_64KEY);
    auto read = [](const char* name, REGSAM view) {
        char value[256] = {};
        DWORD size = sizeof value;
        Device::ReadRegistryValueA(Device::kCurrentVersionKey, name, value, &size, view);
        return std::string(value, strnlen(value, sizeof value));
    };
    const std::string native = read("ProductName", KEY_WOW64_64KEY);
    ASSERT_FALSE(native.empty());
    ASSERT_NE(native, planted);
    // What a 32-bit program reads when it does not ask for the native view.
    if (sizeof(void*) == 4) {
        ASSERT_EQ(read("ProductName", 0), planted) << "no redirection to test against";
    }

    Device::OsInfo os{};
    Device::WindowsDeviceInfo().GetOsInfo(os);
    EXPECT_EQ(std::string(os.productName),
              Device::CorrectedProductName(native, read("CurrentBuildNumber", KEY_WOW64_64KEY),
                                           read("InstallationType", KEY_WOW64_64KEY)));
}

// The measured clock beside the registry's ~MHz and the kernel's figure; printed for the record.
TEST(CpuClock, MeasuredClockAgreesWithTheRegistry) {
    const int32_t measured = Device::MeasureCpuClockMHz();
    const uint16_t registry = Device::ReadCpuClockMHzFromRegistry();
    const std::string cpuinfo = ReadLinuxFile("Z:\\proc\\cpuinfo");
    const size_t at = cpuinfo.find("cpu MHz");
    const double kernel = at == std::string::npos ? 0 : std::strtod(cpuinfo.c_str() + cpuinfo.find(':', at) + 1, nullptr);
    std::printf("measured %d MHz, registry ~MHz %u, /proc/cpuinfo %.3f MHz (%.2f %% off the registry)\n", measured,
                registry, kernel, registry ? 100.0 * (measured - registry) / registry : 0.0);
    ASSERT_GT(measured, 0);
    ASSERT_GT(registry, 0);
    // Within 2 % is right; the bound leaves room for a virtual machine's coarse timers, while a wrong unit
    // or formula would be far off.
    EXPECT_NEAR(measured, registry, registry * 0.10);
}

}  // namespace
