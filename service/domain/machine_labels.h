#pragma once
// The labels one enrolled machine adds to the dashboard's hardware counts, kept as it enrols.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "service/domain/report_parse.h"

namespace Service {

// (aspect, label) pairs: "os", "vendor", "cores", "clock", "memory", "resolution", one "chip" per distinct chip
// of the machine, and "vram" of its largest adapter.
std::vector<std::pair<std::string, std::string>> MachineLabels(const Report& machine);

// Labels are the sender's text: each aspect keeps at most this many, and a machine whose label would be a new
// one past them is counted under kOtherLabel, so invented chip names cannot grow the table without end.
constexpr int64_t kMaxLabelsPerAspect = 200;
constexpr const char* kOtherLabel = "其他";

}  // namespace Service
