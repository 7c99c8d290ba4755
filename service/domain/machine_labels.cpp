#include "service/domain/machine_labels.h"

#include <algorithm>
#include <set>

#include "service/domain/service_text.h"

namespace Service {

namespace {

std::string OrEmpty(const std::string& text) {
    const std::string trimmed = ServiceText::Trim(text);
    return trimmed.empty() ? "（空）" : trimmed;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> MachineLabels(const Report& m) {
    std::vector<std::pair<std::string, std::string>> labels = {
        {"os", OrEmpty(m.os)},
        {"vendor", CpuVendor(m.cpuName)},
        {"cores", std::to_string(m.cpuCount)},
        {"clock", ClockBand(m.clockMHz)},
        {"memory", MemoryBand(m.memoryMB)},
        {"resolution", OrEmpty(m.resolution)},
    };
    // Shares of machines: a machine with two adapters of one chip counts once for it.
    std::set<std::string> machineChips;
    int64_t largestVram = 0;
    for (const auto& d : SplitDisplayList(m.displays)) {
        if (!ServiceText::Trim(d.chip).empty()) machineChips.insert(ServiceText::Trim(d.chip));
        largestVram = std::max(largestVram, d.memoryMB);
    }
    for (const auto& chip : machineChips) labels.emplace_back("chip", chip);
    if (machineChips.empty()) labels.emplace_back("chip", "（无）");
    labels.emplace_back("vram", VramBand(largestVram));
    return labels;
}

}  // namespace Service
