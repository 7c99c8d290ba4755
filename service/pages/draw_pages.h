#pragma once
// The closed test's pages: the admin's waves (create, freeze, seed, draw, publish, export, the coverage
// view) and the players' 查询资格. A player's page never shows a code or any hardware.
#include <optional>
#include <string>
#include <vector>

#include "service/domain/draw.h"
#include "service/domain/roles.h"
#include "service/domain/wave_records.h"

namespace Service {

// Who looks at a wave page: a signed-in admin (the staff bar, and the token every form carries) or a script
// with the admin token (neither).
struct WaveViewer {
    std::optional<Principal> staff;
    std::string csrf;
};

struct WavePage {
    Draw::WaveRecord wave;
    std::optional<WaveCoverage> coverage;
    std::string notice;  // the outcome of the step just taken
    bool good = true;
    WaveViewer viewer;
};

std::string RenderWavesPage(const std::vector<Draw::WaveRecord>& waves, const std::string& notice, bool good,
                            const WaveViewer& viewer = {});
std::string RenderWavePage(const WavePage& page);
// answer: the standing of the account asked about (empty before a question).
std::string RenderStatusPage(const std::string& account, const std::string& answer);

// For the account system: "account,code,wave", then one line per chosen account; plain quoting, no
// byte-order mark, since a program reads it.
std::string WaveCodesCsvHeader();
std::string WaveCodesCsvLine(const Draw::ChosenRow& row);

}  // namespace Service
