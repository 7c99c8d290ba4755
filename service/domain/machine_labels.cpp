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

namespace {

// The display list's labels: one "chip" per distinct chip, then "vram" of the largest adapter.
std::vector<std::pair<std::string, std::string>> DisplayLabels(const std::string& displays) {
    // Shares of machines: a machine with two adapters of one chip counts once for it.
    std::set<std::string> machineChips;
    int64_t largestVram = 0;
    for (const auto& d : SplitDisplayList(displays)) {
        if (!ServiceText::Trim(d.chip).empty()) machineChips.insert(ServiceText::Trim(d.chip));
        largestVram = std::max(largestVram, d.memoryMB);
    }
    std::vector<std::pair<std::string, std::string>> labels;
    for (const auto& chip : machineChips) labels.emplace_back("chip", chip);
    if (machineChips.empty()) labels.emplace_back("chip", "（无）");
    labels.emplace_back("vram", VramBand(largestVram));
    return labels;
}

// A field's label, remembered: a fresh one is worked out, and past a bound the memory starts again.
template <class Memo, class Key, class Make>
const typename Memo::mapped_type& Remember(Memo& memo, const Key& key, Make make) {
    auto it = memo.find(key);
    if (it != memo.end()) return it->second;
    if (memo.size() >= 65536) memo.clear();
    return memo.emplace(key, make(key)).first->second;
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
    for (auto& label : DisplayLabels(m.displays)) labels.push_back(std::move(label));
    return labels;
}

const std::vector<std::pair<std::string, std::string>>& MachineLabeler::Of(const Report& m) {
    m_labels.resize(6);
    m_labels[0] = {"os", Remember(m_os, m.os, OrEmpty)};
    m_labels[1] = {"vendor", Remember(m_vendor, m.cpuName, CpuVendor)};
    m_labels[2] = {"cores", std::to_string(m.cpuCount)};
    m_labels[3] = {"clock", Remember(m_clock, m.clockMHz, ClockBand)};
    m_labels[4] = {"memory", Remember(m_memory, m.memoryMB, MemoryBand)};
    m_labels[5] = {"resolution", Remember(m_resolution, m.resolution, OrEmpty)};
    const auto& displays = Remember(m_displays, m.displays, DisplayLabels);
    m_labels.insert(m_labels.end(), displays.begin(), displays.end());
    return m_labels;
}

}  // namespace Service
