#include "device/display_adapters.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/code_page.h"
#include "tests/support/fake_registry.h"

namespace {

using Device::DisplayDeviceRow;

const std::string kKey = "System\\CurrentControlSet\\Control\\Video\\{1}\\0000";
const std::string kDeviceKey = "\\Registry\\Machine\\" + kKey;

Device::DisplayDeviceEnumerator Devices(std::vector<DisplayDeviceRow> rows) {
    return [rows](uint32_t index) -> std::optional<DisplayDeviceRow> {
        if (index >= rows.size()) return std::nullopt;
        return rows[index];
    };
}

TEST(VideoMemory, MemorySizeIsABytesCountFrom0x100000On) {
    const struct {
        const char* label;
        std::optional<std::string> bytes;
        uint32_t mb;
    } cases[] = {
        {"exactly 0x100000", LittleEndianBytes(0x100000, 4), 1},
        {"256 MiB in bytes", LittleEndianBytes(268435456, 4), 256},
        {"just below stays", LittleEndianBytes(1048575, 4), 1048575},
        {"512 stays", LittleEndianBytes(512, 4), 512},
        {"missing", std::nullopt, 0},
        {"one byte fills the low byte", std::string("\x80", 1), 0x80},
        {"three bytes fill the low bytes", std::string("\x00\x00\x10", 3), 1},
        {"saturated 32-bit value", LittleEndianBytes(0xFFFFFFFF, 4), 4095},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Device::VideoMemoryMB(std::nullopt, c.bytes), c.mb);
    }
}

TEST(VideoMemory, QwMemorySizeComesFirst) {
    const uint64_t sixteenGB = 16ull << 30;
    const struct {
        const char* label;
        std::optional<std::string> qw;
        uint32_t mb;
    } cases[] = {
        {"QWORD 16 GB", LittleEndianBytes(sixteenGB, 8), 16384},
        {"8-byte binary 6 GB", LittleEndianBytes(6ull << 30, 8), 6144},
        {"4-byte binary 2 GB", LittleEndianBytes(2ull << 30, 4), 2048},
        {"4-byte binary below a megabyte falls back", LittleEndianBytes(0xFFFFF, 4), 4095},
        {"QWORD 0 falls back", LittleEndianBytes(0, 8), 4095},
        {"QWORD of exactly 1 MiB", LittleEndianBytes(0x100000, 8), 1},
        {"empty falls back", std::string(), 4095},
        {"missing falls back", std::nullopt, 4095},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Device::VideoMemoryMB(c.qw, LittleEndianBytes(0xFFFFFFFF, 4)), c.mb);
    }
}

TEST(DisplayAdapters, ReadsTheAdapterKeyOfEachAttachedDevice) {
    TextEncodingScope scope(936);
    FakeRegistry registry;
    registry.Set(kKey, "HardwareInformation.MemorySize", LittleEndianBytes(268435456, 4));
    registry.Set(kKey, "HardwareInformation.AdapterString", Utf16Bytes(u"显卡 GeForce"));
    registry.Set(kKey, "HardwareInformation.ChipType", Utf16Bytes(u"GA104"));
    Device::DisplayAdapterList list{};
    Device::QueryDisplayAdapters(list, Devices({{false, kDeviceKey}, {true, kDeviceKey}}), registry);
    ASSERT_EQ(list.count, 1);
    EXPECT_STREQ(list.adapters[0].name, "\xCF\xD4\xBF\xA8 GeForce");
    EXPECT_STREQ(list.adapters[0].chipType, "GA104");
    EXPECT_EQ(list.adapters[0].memoryMB, 256u);
}

TEST(DisplayAdapters, DevicesWithoutSystemInTheirKeyTakeNoEntry) {
    const struct {
        const char* label;
        std::string deviceKey;
        int count;
    } cases[] = {
        {"System\\", kDeviceKey, 1},
        {"SYSTEM\\ in capitals", "\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Control\\Video\\{1}\\0000", 0},
        {"empty device key", "", 0},
        {"System without backslash", "\\Registry\\Machine\\System", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Device::DisplayAdapterList list{};
        Device::QueryDisplayAdapters(list, Devices({{true, c.deviceKey}}), FakeRegistry());
        EXPECT_EQ(list.count, c.count);
    }
}

TEST(DisplayAdapters, ARejectedDeviceLeavesItsPlaceToTheNext) {
    FakeRegistry registry;
    registry.Set(kKey, "HardwareInformation.ChipType", Utf16Bytes(u"chip"));
    Device::DisplayAdapterList list{};
    Device::QueryDisplayAdapters(list, Devices({{true, "\\SYSTEM\\x"}, {true, kDeviceKey}}), registry);
    ASSERT_EQ(list.count, 1);
    EXPECT_STREQ(list.adapters[0].chipType, "chip");
}

TEST(DisplayAdapters, ElevenAttachedAdaptersStopAtTen) {
    std::vector<DisplayDeviceRow> rows(11, DisplayDeviceRow{true, kDeviceKey});
    uint32_t asked = 0;
    Device::DisplayAdapterList list{};
    Device::QueryDisplayAdapters(
        list,
        [&](uint32_t index) -> std::optional<DisplayDeviceRow> {
            asked = index + 1;
            return index < rows.size() ? std::optional<DisplayDeviceRow>(rows[index]) : std::nullopt;
        },
        FakeRegistry());
    EXPECT_EQ(list.count, 10);
    EXPECT_EQ(asked, 11u);  // the eleventh ends the walk; nothing after it is asked for
}

TEST(DisplayAdapters, AdapterStringsOfUpTo128BytesAreKept) {
    const struct {
        const char* label;
        size_t units;
        size_t expectedLength;
    } cases[] = {{"127 bytes worth: 63 units", 63, 63}, {"exactly 128 bytes", 64, 64}, {"130 bytes", 65, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FakeRegistry registry;
        registry.Set(kKey, "HardwareInformation.AdapterString", Utf16Bytes(std::u16string(c.units, u'A')));
        Device::DisplayAdapterList list{};
        Device::QueryDisplayAdapters(list, Devices({{true, kDeviceKey}}), registry);
        ASSERT_EQ(list.count, 1);
        EXPECT_EQ(std::string(list.adapters[0].name), std::string(c.expectedLength, 'A'));
    }
}

TEST(DisplayAdapters, AMissingKeyStillCountsWithEmptyValues) {
    Device::DisplayAdapterList list{};
    Device::QueryDisplayAdapters(list, Devices({{true, kDeviceKey}, {true, kDeviceKey}}), FakeRegistry());
    ASSERT_EQ(list.count, 2);  // two outputs of one adapter are not merged
    EXPECT_STREQ(list.adapters[1].name, "");
    EXPECT_EQ(list.adapters[1].memoryMB, 0u);
}

}  // namespace
