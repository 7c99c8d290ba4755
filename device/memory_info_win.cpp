#include <windows.h>

#include "device/memory_info.h"
#include "device/windows_device_info.h"

namespace Device {

uint64_t PhysicalMemoryBytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    GlobalMemoryStatusEx(&status);
    return status.ullTotalPhys;
}

void WindowsDeviceInfo::QueryMemoryInfo() {
    m_survey.memory.physicalMemoryMB = MegabytesOf(PhysicalMemoryBytes());
    m_survey.memory.fixedDiskMB = MegabytesOf(SumFixedDiskBytes());
}

uint64_t SumFixedDiskBytes() {
    const DWORD mask = GetLogicalDrives();
    if (mask == 0) return 0;
    // No critical-error box for a drive that cannot be read.
    const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    const uint64_t total = SumFixedDiskBytes(mask, [](char letter) -> std::optional<uint64_t> {
        const wchar_t root[] = {static_cast<wchar_t>(letter), L':', L'\\', L'\0'};
        ULARGE_INTEGER size{};
        if (GetDriveTypeW(root) != DRIVE_FIXED || !GetDiskFreeSpaceExW(root, nullptr, &size, nullptr))
            return std::nullopt;
        return size.QuadPart;
    });
    SetErrorMode(previousMode);
    return total;
}

}  // namespace Device
