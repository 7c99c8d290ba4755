#pragma once
// The closed test's pages: the admin's waves (create, freeze, seed, draw, publish, export, the coverage
// view) and the players' 查询资格. A player's page never shows a code or any hardware.
#include <optional>
#include <string>
#include <vector>

#include "service/domain/draw.h"
#include "service/domain/wave_records.h"

namespace Service {

struct WavePage {
    Draw::WaveRecord wave;
    std::optional<WaveCoverage> coverage;
    std::string notice;  // the outcome of the step just taken
    bool good = true;
};

std::string RenderWavesPage(const std::vector<Draw::WaveRecord>& waves, const std::string& notice, bool good);
std::string RenderWavePage(const WavePage& page);
// answer: the standing of the account asked about (empty before a question).
std::string RenderStatusPage(const std::string& account, const std::string& answer);

// For the account system: "account,code,wave", then one line per chosen account; plain quoting, no
// byte-order mark, since a program reads it.
std::string WaveCodesCsvHeader();
std::string WaveCodesCsvLine(const Draw::ChosenRow& row);

}  // namespace Service
