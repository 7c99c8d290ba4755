#pragma once
// Physical memory and the capacity of the fixed drives, in megabytes of 1,048,576 bytes.
#include <cstdint>
#include <functional>
#include <optional>

namespace Device {

uint32_t MegabytesOf(uint64_t bytes);

// Total size of a drive (by letter) when it is a fixed drive whose size can be read, else nothing.
using FixedDriveSize = std::function<std::optional<uint64_t>(char letter)>;

// Sums the fixed drives of a drive mask (bit 0 = A); the letters after the highest set bit are not probed.
uint64_t SumFixedDiskBytes(uint32_t driveMask, const FixedDriveSize& fixedDriveSize);

}  // namespace Device
