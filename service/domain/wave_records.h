#pragma once
// What the storage keeps of a wave, as plain data both databases read and write.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "service/domain/records.h"
#include "service/domain/wave.h"

namespace Service {

// A wave's hardware beside the population it was drawn from, kept when it was frozen and drawn, so later
// revocations do not rewrite history.
struct WaveCoverage {
    HardwareCounts eligible, chosen;
    int64_t eligibleMachines = 0, chosenMachines = 0;
};

struct FrozenWave {
    std::string csv, sha256;  // the canonical list and its hash
    int64_t count = 0;
    HardwareCounts hardware;  // of the eligible machines
    int64_t machines = 0;
};

struct DrawnWave {
    std::string csv, sha256;  // the result list and its hash
    std::vector<Draw::ChosenRow> chosen;
    HardwareCounts hardware;  // of the chosen machines
};

// How a step went: only from the state before it, and only one wave between freeze and draw at a time.
enum class WaveChange { Done, NoWave, WrongState, Busy, Failed };
enum class WaveFileKind { List, Result };
inline const char* WaveFileName(WaveFileKind kind) { return kind == WaveFileKind::List ? "list" : "result"; }

// A machine as it enrolled, with its account key: what a freeze reads, and what a draw's coverage reads.
using MachineSink = std::function<void(const std::string& accountKey, const Report& machine)>;

// The columns a wave is read with, in the order ReadWave reads them; both databases name them alike.
constexpr const char* kWaveColumns =
    "id, name, params, state, created_at, frozen_at, seeded_at, drawn_at, published_at, list_sha256, list_count, "
    "seed, result_sha256, (SELECT count(*) FROM wave_chosen c WHERE c.wave_id = waves.id), "
    "(SELECT count(*) FROM wave_chosen c WHERE c.wave_id = waves.id AND c.withdrawn_at > 0)";
template <class Row>
Draw::WaveRecord ReadWave(const Row& q) {
    Draw::WaveRecord w;
    w.id = q.Int(0);
    w.name = q.Text(1);
    w.params = q.Text(2);
    w.state = Draw::ParseWaveState(q.Text(3)).value_or(Draw::WaveState::Created);
    w.createdAt = q.Int(4);
    w.frozenAt = q.Int(5);
    w.seededAt = q.Int(6);
    w.drawnAt = q.Int(7);
    w.publishedAt = q.Int(8);
    w.listSha256 = q.Text(9);
    w.listCount = q.Int(10);
    w.seed = q.Text(11);
    w.resultSha256 = q.Text(12);
    w.chosenCount = q.Int(13);
    w.withdrawnCount = q.Int(14);
    return w;
}

// The enrolments a freeze may list, as a condition on enrolments e that both databases read alike ($1: whether
// registration is required): not chosen by any wave, and registered when that is required. Any further
// exclusion of an enrolment (a revocation, say) joins here, and only here.
constexpr const char* kEligibleEnrolment =
    "NOT EXISTS (SELECT 1 FROM wave_chosen c WHERE c.account_key = e.account_key) AND "
    "(NOT $1 OR EXISTS (SELECT 1 FROM accounts a WHERE a.account_key = e.account_key))";

// What a freeze reads of an eligible enrolment e and its report r, at kMachineColumns' positions: only what
// the hardware labels are made of and the account key (the rest read empty), so a million rows cost little.
constexpr const char* kEligibleColumns =
    "r.id, r.received_at, '', '', 0, '', '', r.cpu_name, r.cpu_count, r.clock_mhz, r.memory_mb, r.displays, "
    "r.resolution, r.os, '', '', NULL, NULL, e.account_key";

// An enrolled machine's report without its raw body (a freeze reads every one), then its account key.
constexpr const char* kMachineColumns =
    "id, received_at, remote, outcome, points, account, mac, cpu_name, cpu_count, clock_mhz, memory_mb, displays, "
    "resolution, os, computer_name, machine_key, NULL, NULL, account_key";
constexpr int kMachineKeyColumn = 18;

}  // namespace Service
