#pragma once
// The machine survey record: fixed-size, trivially copyable, so a section is copied out with one block copy
// and consumers keep their copies on the stack. Texts are NUL-terminated ANSI text.
#include <cstdint>
#include <type_traits>

namespace Device {

constexpr int kMaxDisplayAdapters = 10;
constexpr int kMaxNetworkAdapters = 30;

struct OsInfo {
    char productName[128];
    int16_t bitness;  // 64 or 32
};

struct CpuInfo {
    char brandName[128];  // the processor's 48-byte brand string, blanks included
    char vendor[64];
    int16_t processorCount;
    int16_t clockMHz;  // measured, registry as fall-back, 0 when both fail
};

struct MemoryInfo {
    uint32_t physicalMemoryMB;
    uint32_t fixedDiskMB;
};

struct DisplayAdapterInfo {
    char name[256];
    char chipType[256];
    uint32_t memoryMB;
};

struct DisplayAdapterList {
    DisplayAdapterInfo adapters[kMaxDisplayAdapters];
    int16_t count;
};

struct NetworkAdapterInfo {
    char description[128];
    char macAddress[64];
    char adapterType[64];
    int32_t connectionStatus;  // 2 = connected
};

struct NetworkAdapterList {
    NetworkAdapterInfo adapters[kMaxNetworkAdapters];
    int16_t count;
};

struct DeviceSurvey {
    OsInfo os;
    CpuInfo cpu;
    MemoryInfo memory;
    DisplayAdapterList displays;
    NetworkAdapterList networks;
};

static_assert(std::is_trivially_copyable_v<DeviceSurvey>);
static_assert(std::is_standard_layout_v<DeviceSurvey>);
static_assert(sizeof(OsInfo::productName) == 128 && sizeof(OsInfo::bitness) == 2);
static_assert(sizeof(CpuInfo::brandName) == 128 && sizeof(CpuInfo::vendor) == 64);
static_assert(sizeof(CpuInfo::processorCount) == 2 && sizeof(CpuInfo::clockMHz) == 2);
static_assert(sizeof(MemoryInfo) == 8);
static_assert(sizeof(DisplayAdapterInfo::name) == 256 && sizeof(DisplayAdapterInfo::chipType) == 256);
static_assert(sizeof(DisplayAdapterInfo::memoryMB) == 4);
static_assert(sizeof(DisplayAdapterList::count) == 2 && sizeof(NetworkAdapterList::count) == 2);
static_assert(sizeof(NetworkAdapterInfo::description) == 128 && sizeof(NetworkAdapterInfo::macAddress) == 64);
static_assert(sizeof(NetworkAdapterInfo::adapterType) == 64 && sizeof(NetworkAdapterInfo::connectionStatus) == 4);

}  // namespace Device
