#include <windows.h>

#include <cpuid.h>
#include <x86intrin.h>

#include "device/cpu_info.h"
#include "device/registry_win.h"
#include "device/windows_device_info.h"

namespace Device {
namespace {

SYSTEM_INFO NativeSystemInfo() {
    // A 32-bit process must describe the machine, not the processor its emulation layer presents.
    using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
    SYSTEM_INFO info{};
    const auto getNative = reinterpret_cast<GetNativeSystemInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetNativeSystemInfo")));
    if (getNative) getNative(&info);
    else GetSystemInfo(&info);
    return info;
}

}  // namespace

unsigned NativeProcessorArchitecture() { return NativeSystemInfo().wProcessorArchitecture; }
unsigned LogicalProcessorCount() { return NativeSystemInfo().dwNumberOfProcessors; }

void WindowsDeviceInfo::QueryCpuInfo() {
    FillCpuIdentity(m_survey.cpu, [](uint32_t leaf) {
        CpuRegisters r{};
        __cpuid_count(leaf, 0, r.eax, r.ebx, r.ecx, r.edx);
        return r;
    });
    m_survey.cpu.clockMHz = ChooseClockMHz(static_cast<uint32_t>(MeasureCpuClockMHz()), ReadCpuClockMHzFromRegistry);
    m_survey.cpu.processorCount = static_cast<int16_t>(LogicalProcessorCount());
}

int32_t MeasureCpuClockMHz() {
    HANDLE process = GetCurrentProcess();
    HANDLE thread = GetCurrentThread();
    LARGE_INTEGER frequency{};
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) return 0;
    if (!IsProcessorFeaturePresent(PF_RDTSC_INSTRUCTION_AVAILABLE)) return 0;
    const DWORD priorityClass = GetPriorityClass(process);
    if (priorityClass == 0) return 0;
    const int threadPriority = GetThreadPriority(thread);
    if (threadPriority == THREAD_PRIORITY_ERROR_RETURN) return 0;

    SetPriorityClass(process, REALTIME_PRIORITY_CLASS);
    SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
    LARGE_INTEGER probe{}, t0{}, t1{};
    uint64_t c0 = 0, c1 = 0;
    const bool timed = QueryPerformanceCounter(&probe) && QueryPerformanceCounter(&t0);
    if (timed) {
        c0 = __rdtsc();
        Sleep(250);
        c1 = __rdtsc();
        QueryPerformanceCounter(&t1);
    }
    SetPriorityClass(process, priorityClass);
    SetThreadPriority(thread, threadPriority);
    if (!timed) return 0;
    return static_cast<int32_t>(
        ClockMHzFromCounts(c1 - c0, static_cast<uint64_t>(frequency.QuadPart), t1.QuadPart - t0.QuadPart));
}

uint16_t ReadCpuClockMHzFromRegistry() { return ReadRegistryClockMHz(WindowsRegistry()); }

}  // namespace Device
