#pragma once
// Processor identification from CPUID register values, and the clock arithmetic. The instructions and the
// timing calls are the platform half's; everything decided from their values is here.
#include <cstdint>
#include <functional>

#include "device/device_survey.h"
#include "device/registry_reader.h"

namespace Device {

struct CpuRegisters {
    uint32_t eax, ebx, ecx, edx;
};

// Executes CPUID for a leaf with ECX = 0.
using CpuidFunction = std::function<CpuRegisters(uint32_t leaf)>;

// A leaf beyond the maximum of its range (leaf 0 or 0x80000000 tells it) gives four zeros.
CpuRegisters GuardedCpuid(const CpuidFunction& cpuid, uint32_t leaf);

// Brand string from leaves 0x80000002..4 (EAX, EBX, ECX, EDX each), vendor from leaf 0 (EBX, EDX, ECX).
void FillCpuIdentity(CpuInfo& cpu, const CpuidFunction& cpuid);

// Time-stamp ticks over a performance-counter interval, in MHz, cut off; 0 when the interval is not
// positive. Unsigned, wrapping 64-bit arithmetic.
uint32_t ClockMHzFromCounts(uint64_t tscTicks, uint64_t counterFrequency, int64_t counterTicks);

// The measured clock unless its low 16 bits read as 0 or negative; then the registry's.
int16_t ChooseClockMHz(uint32_t measuredMHz, const std::function<uint16_t()>& registryMHz);

constexpr char kCentralProcessorKey[] = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";

// Low 16 bits of the "~MHz" value of processor 0; 0 when unreadable.
uint16_t ReadRegistryClockMHz(const RegistryReader& registry);

}  // namespace Device
