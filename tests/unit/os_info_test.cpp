#include "device/os_info.h"

#include <gtest/gtest.h>

#include "tests/support/fake_registry.h"

namespace {

using Device::RegistryView;

struct NameCase {
    const char* label;
    const char* productName;
    const char* build;
    const char* installationType;
    const char* expected;
};

TEST(OsName, Windows11IsToldFromItsBuildNumber) {
    const NameCase cases[] = {
        {"Windows 10 build 19045 stays", "Windows 10 Pro", "19045", "Client", "Windows 10 Pro"},
        {"build 22000 is Windows 11", "Windows 10 Pro", "22000", "Client", "Windows 11 Pro"},
        {"build 22631 is Windows 11", "Windows 10 Pro", "22631", "Client", "Windows 11 Pro"},
        {"build 21999 stays", "Windows 10 Home", "21999", "Client", "Windows 10 Home"},
        {"Server 2022 stays", "Windows Server 2022 Datacenter", "20348", "Server", "Windows Server 2022 Datacenter"},
        {"Server 2025 stays", "Windows Server 2025 Standard", "26100", "Server", "Windows Server 2025 Standard"},
        {"a server type keeps a Windows 10 name", "Windows 10 Enterprise", "26100", "Server", "Windows 10 Enterprise"},
        {"Server in the name keeps it", "Windows 10 Server Preview", "26100", "", "Windows 10 Server Preview"},
        {"missing build number stays", "Windows 10 Pro", "", "Client", "Windows 10 Pro"},
        {"non-numeric build stays", "Windows 10 Pro", "22631a", "Client", "Windows 10 Pro"},
        {"other names stay", "Windows 7 Ultimate", "26100", "Client", "Windows 7 Ultimate"},
        {"only a leading Windows 10 counts", "Microsoft Windows 10", "22631", "Client", "Microsoft Windows 10"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Device::CorrectedProductName(c.productName, c.build, c.installationType), c.expected);
    }
}

TEST(OsBitness, OnlyAmd64Is64Bit) {
    const struct {
        unsigned architecture;
        int bitness;
    } cases[] = {{9, 64}, {0, 32}, {6, 32}, {12, 32}, {5, 32}, {0xFFFF, 32}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.architecture);
        EXPECT_EQ(Device::BitnessOf(c.architecture), c.bitness);
    }
}

TEST(OsInfo, ReadsTheNativeViewAndCorrectsTheName) {
    FakeRegistry registry;
    registry.SetText(Device::kCurrentVersionKey, "ProductName", "Windows 10 Pro", RegistryView::kNative);
    registry.SetText(Device::kCurrentVersionKey, "CurrentBuildNumber", "22631", RegistryView::kNative);
    registry.SetText(Device::kCurrentVersionKey, "InstallationType", "Client", RegistryView::kNative);
    // An edition left behind in the 32-bit view is not the system's name.
    registry.SetText(Device::kCurrentVersionKey, "ProductName", "Windows 7 Ultimate", RegistryView::k32Bit);
    const Device::OsInfo os = Device::ReadOsInfo(registry, 9);
    EXPECT_STREQ(os.productName, "Windows 11 Pro");
    EXPECT_EQ(os.bitness, 64);
}

TEST(OsInfo, MissingNameStaysEmptyAndBitnessIsStillSet) {
    const Device::OsInfo os = Device::ReadOsInfo(FakeRegistry(), 0);
    EXPECT_STREQ(os.productName, "");
    EXPECT_EQ(os.bitness, 32);
}

TEST(OsInfo, OverLongNameIsCutToFit) {
    FakeRegistry registry;
    registry.SetText(Device::kCurrentVersionKey, "ProductName", std::string(300, 'W'), RegistryView::kNative);
    const Device::OsInfo os = Device::ReadOsInfo(registry, 9);
    EXPECT_EQ(std::string(os.productName), std::string(127, 'W'));
}

}  // namespace
