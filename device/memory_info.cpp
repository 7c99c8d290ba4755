#include "device/memory_info.h"

namespace Device {

uint32_t MegabytesOf(uint64_t bytes) { return static_cast<uint32_t>(bytes >> 20); }

uint64_t SumFixedDiskBytes(uint32_t driveMask, const FixedDriveSize& fixedDriveSize) {
    uint64_t total = 0;
    for (char letter = 'A'; driveMask != 0; ++letter, driveMask >>= 1)
        if (driveMask & 1) total += fixedDriveSize(letter).value_or(0);
    return total;
}

}  // namespace Device
