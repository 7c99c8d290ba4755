#include "device/memory_info.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

TEST(Memory, MegabytesAreCutOff) {
    const struct {
        uint64_t bytes;
        uint32_t mb;
    } cases[] = {{8589934592ull, 8192}, {8590983167ull, 8192}, {8590983168ull, 8193}, {1048575, 0}, {0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(Device::MegabytesOf(c.bytes), c.mb);
    }
}

TEST(FixedDisks, TheSumIsShiftedOnceAfterAdding) {
    const uint64_t total = Device::SumFixedDiskBytes(0b1100, [](char letter) -> std::optional<uint64_t> {
        if (letter == 'C' || letter == 'D') return 1000204886016ull;
        return std::nullopt;
    });
    EXPECT_EQ(Device::MegabytesOf(total), 1907739u);
}

TEST(FixedDisks, OnlyLettersOfTheMaskAreProbedUpToTheHighestSetBit) {
    const struct {
        const char* label;
        uint32_t mask;
        std::string probed;
    } cases[] = {
        {"empty mask", 0, ""},
        {"A and C", 0b101, "AC"},
        {"C to E", 0b11100, "CDE"},
        {"only Z", 1u << 25, "Z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::string probed;
        const uint64_t total = Device::SumFixedDiskBytes(c.mask, [&](char letter) -> std::optional<uint64_t> {
            probed += letter;
            return letter == 'C' ? std::optional<uint64_t>(1u << 20) : std::nullopt;  // other drives are not fixed
        });
        EXPECT_EQ(probed, c.probed);
        EXPECT_EQ(total, c.probed.find('C') != std::string::npos ? 1u << 20 : 0u);
    }
}

}  // namespace
