#pragma once
// The admin's steps of a wave, each one call on a storage connection: the domain decides (draw.h, wave.h),
// the storage keeps. Every step checks the wave's state in the same transaction that changes it, so a step
// taken twice, or on two instances at once, happens once.
#include <cstdint>
#include <string>
#include <vector>

#include "service/domain/wave_records.h"
#include "service/storage/storage.h"

namespace Service {

struct StepResult {
    int status = 200;  // HTTP status for the page that shows it
    std::string notice;
    bool good = true;
    int64_t wave = 0;
};

struct WaveForm {
    std::string name;
    std::string size, strategy, minimum;
    std::vector<std::string> aspects;
};

StepResult CreateWave(Storage& storage, const WaveForm& form, int64_t now);
StepResult FreezeWave(Storage& storage, int64_t wave, bool requireRegistered, int64_t now);
StepResult SeedWave(Storage& storage, int64_t wave, const std::string& seed, int64_t now);
StepResult DrawWave(Storage& storage, int64_t wave, int64_t now);
StepResult PublishWave(Storage& storage, int64_t wave, int64_t now);

// What a player is told about an account typed in any spelling.
std::optional<std::string> StatusOf(Storage& storage, const std::string& account);

}  // namespace Service
