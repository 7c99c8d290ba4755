#pragma once
// The labels one enrolled machine adds to the dashboard's hardware counts, kept as it enrols.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "service/domain/report_parse.h"

namespace Service {

// (aspect, label) pairs: "os", "vendor", "cores", "clock", "memory", "resolution", one "chip" per distinct chip
// of the machine, and "vram" of its largest adapter.
std::vector<std::pair<std::string, std::string>> MachineLabels(const Report& machine);

// MachineLabels for a million machines in a row (a freeze): the same labels, each field's remembered, since a
// population has a few thousand CPU names, memory sizes and display lists, not a million. The labels
// returned stand until the next call.
class MachineLabeler {
public:
    const std::vector<std::pair<std::string, std::string>>& Of(const Report& machine);

private:
    using Memo = std::unordered_map<std::string, std::string>;
    Memo m_os, m_vendor, m_memory, m_resolution;
    std::unordered_map<int64_t, std::string> m_clock;
    std::unordered_map<std::string, std::vector<std::pair<std::string, std::string>>> m_displays;
    std::vector<std::pair<std::string, std::string>> m_labels;
};

// Labels are the sender's text: each aspect keeps at most this many, and a machine whose label would be a new
// one past them is counted under kOtherLabel, so invented chip names cannot grow the table without end.
constexpr int64_t kMaxLabelsPerAspect = 200;
constexpr const char* kOtherLabel = "其他";

}  // namespace Service
