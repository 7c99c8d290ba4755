#include "service/domain/figures.h"

#include "service/domain/machine_labels.h"

namespace Service {

BatchFigures Tally(const Batch& batch, const std::vector<Service::Outcome>& outcomes) {
    BatchFigures f;
    for (size_t i = 0; i < outcomes.size() && i < batch.reports.size(); ++i) {
        const bool success = outcomes[i] == Outcome::Success;
        ++f.outcomes[OutcomeName(outcomes[i])];
        ++f.hours[batch.reports[i].receivedAt / kHourSeconds * kHourSeconds][success ? 0 : 1];
        if (!success) continue;
        for (auto& label : MachineLabels(batch.reports[i].report)) ++f.hardware[std::move(label)];
        ++f.addressDays[{batch.reports[i].remote, EnrolmentDay(batch.reports[i].receivedAt)}];
    }
    for (const auto& m : batch.malformed) {
        ++f.outcomes[kMalformedName];
        ++f.hours[m.receivedAt / kHourSeconds * kHourSeconds][2];
    }
    return f;
}

void DashboardBuilder::Outcome(std::string_view name, int64_t n) {
    const auto outcome = OutcomeFromName(name);
    if (!outcome) {
        if (name == kMalformedName) m_data.malformed += n;
        return;
    }
    switch (*outcome) {
    case Service::Outcome::Success: m_data.successes += n; break;
    case Service::Outcome::AccountUsed: m_data.accountUsed += n; break;
    case Service::Outcome::MachineUsed: m_data.machineUsed += n; break;
    case Service::Outcome::NotRegistered: m_data.notRegistered += n; break;
    case Service::Outcome::AddressLimit: m_data.addressLimit += n; break;
    }
}

void DashboardBuilder::Hour(int64_t hour, int64_t successes, int64_t refusals, int64_t malformed) {
    TimelineRow& row = m_hours[hour];
    row.start = hour;
    row.successes += successes;
    row.refusals += refusals;
    row.malformed += malformed;
}

void DashboardBuilder::Hardware(std::string aspect, std::string label, int64_t n) {
    m_data.hardware[std::move(aspect)][std::move(label)] += n;
}

DashboardData DashboardBuilder::Finish() {
    // Hours for a test that has just begun, days once it runs longer than two.
    const bool days = !m_hours.empty() && m_hours.rbegin()->first - m_hours.begin()->first > 48 * kHourSeconds;
    m_data.bucketSeconds = days ? kDaySeconds : kHourSeconds;
    m_data.timeline.clear();
    for (const auto& [hour, h] : m_hours) {
        const int64_t start = hour / m_data.bucketSeconds * m_data.bucketSeconds;
        if (m_data.timeline.empty() || m_data.timeline.back().start != start)
            m_data.timeline.push_back({start, 0, 0, 0});
        m_data.timeline.back().successes += h.successes;
        m_data.timeline.back().refusals += h.refusals;
        m_data.timeline.back().malformed += h.malformed;
    }
    // Every success enrolled one machine; a revoked one no longer stands.
    m_data.enrolledMachines = m_data.successes - m_revoked;
    return std::move(m_data);
}

}  // namespace Service
