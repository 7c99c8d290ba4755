#include "service/domain/draw_strata.h"

#include "service/domain/machine_labels.h"

namespace Service {

std::vector<std::string> MachineStrata(const Report& machine, const std::vector<std::string>& aspects) {
    return MachineStrata(MachineLabels(machine), aspects);
}

std::vector<std::string> MachineStrata(const std::vector<std::pair<std::string, std::string>>& labels,
                                       const std::vector<std::string>& aspects) {
    std::vector<std::string> stratum;
    stratum.reserve(aspects.size());
    for (const auto& aspect : aspects) {
        std::string label;
        bool first = true;
        for (const auto& [name, value] : labels) {
            if (name != aspect) continue;
            label += (first ? "" : " + ") + value;
            first = false;
        }
        stratum.push_back(std::move(label));
    }
    return stratum;
}

}  // namespace Service
