#pragma once
// The labels one enrolled machine adds to the dashboard's hardware counts, kept as it enrols.
#include <string>
#include <utility>
#include <vector>

#include "service/domain/report_parse.h"

namespace Service {

// (aspect, label) pairs: "os", "vendor", "cores", "clock", "memory", "resolution", one "chip" per distinct chip
// of the machine, and "vram" of its largest adapter.
std::vector<std::pair<std::string, std::string>> MachineLabels(const Report& machine);

}  // namespace Service
