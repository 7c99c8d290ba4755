#include "device/cpu_info.h"

#include "text/field_text.h"

namespace Device {

CpuRegisters GuardedCpuid(const CpuidFunction& cpuid, uint32_t leaf) {
    const uint32_t rangeBase = leaf < 0x80000000u ? 0 : 0x80000000u;
    if (leaf > cpuid(rangeBase).eax) return {0, 0, 0, 0};
    return cpuid(leaf);
}

void FillCpuIdentity(CpuInfo& cpu, const CpuidFunction& cpuid) {
    for (uint32_t k = 0; k < 3; ++k) {
        const CpuRegisters r = GuardedCpuid(cpuid, 0x80000002u + k);
        const uint32_t words[4] = {r.eax, r.ebx, r.ecx, r.edx};
        for (int w = 0; w < 4; ++w)
            for (int b = 0; b < 4; ++b) cpu.brandName[16 * k + 4 * w + b] = static_cast<char>(words[w] >> (8 * b));
    }
    const CpuRegisters r = GuardedCpuid(cpuid, 0);
    const uint32_t words[3] = {r.ebx, r.edx, r.ecx};
    for (int w = 0; w < 3; ++w)
        for (int b = 0; b < 4; ++b) cpu.vendor[4 * w + b] = static_cast<char>(words[w] >> (8 * b));
}

uint32_t ClockMHzFromCounts(uint64_t tscTicks, uint64_t counterFrequency, int64_t counterTicks) {
    if (counterTicks <= 0) return 0;
    const uint64_t hz = (tscTicks * counterFrequency) / static_cast<uint64_t>(counterTicks);
    return static_cast<uint32_t>(hz / 1000000u);
}

int16_t ChooseClockMHz(uint32_t measuredMHz, const std::function<uint16_t()>& registryMHz) {
    const int16_t measured = static_cast<int16_t>(measuredMHz & 0xFFFF);
    return measured > 0 ? measured : static_cast<int16_t>(registryMHz());
}

uint16_t ReadRegistryClockMHz(const RegistryReader& registry) {
    const auto bytes = registry.ReadA(kCentralProcessorKey, "~MHz", 4);
    return static_cast<uint16_t>(bytes ? FieldText::LittleEndian(*bytes) : 0);
}

}  // namespace Device
