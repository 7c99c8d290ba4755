#pragma once
// A wave of the closed test, from its creation to its published list, and what a player is told about it.
// The steps go one way only: created → frozen (the eligible list fixed, its SHA-256 shown) → seeded (the
// public value entered, after the freeze) → drawn (the chosen accounts and their codes) → published. A
// published wave never changes; a chosen account whose enrolment is revoked later is only marked withdrawn.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Draw {

enum class WaveState { Created, Frozen, Seeded, Drawn, Published };
// As stored: "created", "frozen", "seeded", "drawn", "published".
const char* WaveStateName(WaveState state);
std::optional<WaveState> ParseWaveState(std::string_view name);
// As the admin pages show it.
const char* WaveStateLabel(WaveState state);

enum class WaveStep { Freeze, Seed, Draw, Publish };
// The state a step starts from; each step leads to the next state.
WaveState StateBefore(WaveStep step);
WaveState StateAfter(WaveStep step);

struct WaveRecord {
    int64_t id = 0;  // the wave's number, "第N批", in order of creation
    std::string name;
    std::string params;  // canonical text (draw.h)
    WaveState state = WaveState::Created;
    int64_t createdAt = 0, frozenAt = 0, seededAt = 0, drawnAt = 0, publishedAt = 0;  // Unix seconds; 0 not yet
    std::string listSha256;  // once frozen
    int64_t listCount = 0;
    std::string seed;  // once seeded
    std::string resultSha256;  // once drawn
    int64_t chosenCount = 0, withdrawnCount = 0;
};

struct ChosenRow {
    std::string account;  // as it enrolled, for the account system
    std::string accountKey;
    std::string code;
    int64_t wave = 0;
    int64_t withdrawnAt = 0;  // 0 while it stands
};

// What the audit log keeps of a wave after a step: its name and parameters, then each public value as far
// as the wave has come (the list's hash and size, the draw's seed value, the result's hash and size), space-separated
// name=value pairs, so the log alone shows what every step fixed.
std::string WaveAuditDetail(const WaveRecord& wave);
// The audit log's subject for a wave: "wave N".
std::string WaveAuditSubject(int64_t id);

// A player's standing, all /status may tell: never the code, never the hardware.
struct Standing {
    bool enrolled = false;
    int64_t chosenInWave = 0;  // the published wave that chose the account and still counts it; 0 for none
};
// "已入选（第N批）", "未入选" or "尚未报名".
std::string StatusText(const Standing& standing);

}  // namespace Draw
