#include "device/cpu_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "tests/support/fake_registry.h"

namespace {

using Device::CpuRegisters;

uint32_t Word(const char* four) {
    return static_cast<uint32_t>(static_cast<unsigned char>(four[0])) |
           static_cast<uint32_t>(static_cast<unsigned char>(four[1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(four[2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(four[3])) << 24;
}

// A processor that answers the leaves it has and garbage for the others, so a guard that lets a missing
// leaf through shows.
Device::CpuidFunction Processor(std::map<uint32_t, CpuRegisters> leaves) {
    return [leaves](uint32_t leaf) {
        const auto it = leaves.find(leaf);
        return it != leaves.end() ? it->second : CpuRegisters{0xDEADBEEF, 0xDEADBEEF, 0xDEADBEEF, 0xDEADBEEF};
    };
}

CpuRegisters Text16(const char* sixteen) {
    return {Word(sixteen), Word(sixteen + 4), Word(sixteen + 8), Word(sixteen + 12)};
}

TEST(CpuIdentity, BrandKeepsItsBlanksAndVendorIsEbxEdxEcx) {
    Device::CpuInfo cpu{};
    Device::FillCpuIdentity(cpu, Processor({
                                     {0, {0x16, Word("Genu"), Word("ntel"), Word("ineI")}},
                                     {0x80000000u, {0x80000008u, 0, 0, 0}},
                                     {0x80000002u, Text16("      Intel(R) C")},
                                     {0x80000003u, Text16("ore(TM) i7-9700 ")},
                                     {0x80000004u, Text16("CPU @ 3.00GHz   ")},
                                 }));
    EXPECT_EQ(std::string(cpu.brandName), "      Intel(R) Core(TM) i7-9700 CPU @ 3.00GHz   ");
    EXPECT_EQ(std::string(cpu.vendor), "GenuineIntel");
    EXPECT_EQ(cpu.brandName[48], '\0');
}

TEST(CpuIdentity, MissingExtendedLeavesLeaveZeros) {
    const std::string leaves[3] = {std::string("AMD Ryzen 7 580\0", 16), "0X 8-Core Proces",
                                   std::string("sor\0\0\0\0\0\0\0\0\0\0\0\0\0", 16)};
    for (uint32_t maxExtended = 0x80000001u; maxExtended <= 0x80000004u; ++maxExtended) {
        SCOPED_TRACE(maxExtended);
        Device::CpuInfo cpu{};
        Device::FillCpuIdentity(cpu, Processor({
                                         {0, {0xD, Word("Auth"), Word("cAMD"), Word("enti")}},
                                         {0x80000000u, {maxExtended, 0, 0, 0}},
                                         {0x80000002u, Text16(leaves[0].data())},
                                         {0x80000003u, Text16(leaves[1].data())},
                                         {0x80000004u, Text16(leaves[2].data())},
                                     }));
        std::string expected;
        for (uint32_t k = 0; k < 3; ++k) expected += 0x80000002u + k <= maxExtended ? leaves[k] : std::string(16, '\0');
        EXPECT_EQ(std::string(cpu.brandName, 48), expected);
        EXPECT_EQ(std::string(cpu.vendor), "AuthenticAMD");
    }
}

TEST(CpuClock, ArithmeticIsCutNotRounded) {
    const struct {
        const char* label;
        uint64_t ticks, frequency;
        int64_t interval;
        uint32_t mhz;
    } cases[] = {
        {"3000 MHz", 750000000, 10000000, 2500000, 3000},
        {"2999 MHz, cut", 750000000, 10000000, 2500001, 2999},
        {"interval 0", 750000000, 10000000, 0, 0},
        {"interval negative", 750000000, 10000000, -5, 0},
        {"no ticks", 0, 10000000, 2500000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Device::ClockMHzFromCounts(c.ticks, c.frequency, c.interval), c.mhz);
    }
}

TEST(CpuClock, FallsBackToTheRegistryWhenTheLow16BitsAreNotPositive) {
    const struct {
        const char* label;
        uint32_t measured;
        uint16_t registry;
        int16_t expected;
    } cases[] = {
        {"measured wins", 3000, 2400, 3000},
        {"failed measurement", 0, 2400, 2400},
        {"40000 reads as -25536", 40000, 2400, 2400},
        {"65536 reads as 0", 65536, 2400, 2400},
        {"65537 reads as 1", 65537, 2400, 1},
        {"both fail", 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(Device::ChooseClockMHz(c.measured, [&] { return c.registry; }), c.expected);
    }
}

TEST(CpuClock, RegistryValue) {
    FakeRegistry registry;
    EXPECT_EQ(Device::ReadRegistryClockMHz(registry), 0);
    registry.Set(Device::kCentralProcessorKey, "~MHz", LittleEndianBytes(2400, 4));
    EXPECT_EQ(Device::ReadRegistryClockMHz(registry), 2400);
    registry.Set(Device::kCentralProcessorKey, "~MHz", LittleEndianBytes(0x12345, 4));
    EXPECT_EQ(Device::ReadRegistryClockMHz(registry), 0x2345);  // low 16 bits
    registry.Set(Device::kCentralProcessorKey, "~MHz", LittleEndianBytes(2400, 8));
    EXPECT_EQ(Device::ReadRegistryClockMHz(registry), 0);  // too large for the 4-byte read
}

}  // namespace
