#pragma once
// A machine's stratum for the draw: its labels for the chosen aspects, the very labels the dashboard counts
// it under, so a wave's coverage reads against the dashboard's charts.
#include <string>
#include <utility>
#include <vector>

#include "service/domain/report_parse.h"

namespace Service {

// aspects: names from Draw::AspectNames(), in that order. The dashboard counts a machine once for every
// chip it has; a stratum needs one label, so the chip label is all of the machine's chips, joined by " + "
// in the dashboard's order (a laptop's integrated and discrete pair is a kind of machine of its own).
std::vector<std::string> MachineStrata(const Report& machine, const std::vector<std::string>& aspects);
// The same from the machine's labels (MachineLabels), for a caller that counts them too.
std::vector<std::string> MachineStrata(const std::vector<std::pair<std::string, std::string>>& labels,
                                       const std::vector<std::string>& aspects);

}  // namespace Service
