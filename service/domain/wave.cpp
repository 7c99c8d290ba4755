#include "service/domain/wave.h"

namespace Draw {

namespace {
struct StateInfo {
    WaveState state;
    const char* name;
    const char* label;
};
constexpr StateInfo kStates[] = {
    {WaveState::Created, "created", "已创建"},   {WaveState::Frozen, "frozen", "名单已冻结"},
    {WaveState::Seeded, "seeded", "种子已录入"}, {WaveState::Drawn, "drawn", "已抽取"},
    {WaveState::Published, "published", "已公布"},
};
}  // namespace

const char* WaveStateName(WaveState state) { return kStates[static_cast<int>(state)].name; }
const char* WaveStateLabel(WaveState state) { return kStates[static_cast<int>(state)].label; }

std::optional<WaveState> ParseWaveState(std::string_view name) {
    for (const auto& s : kStates)
        if (name == s.name) return s.state;
    return std::nullopt;
}

WaveState StateBefore(WaveStep step) { return static_cast<WaveState>(static_cast<int>(step)); }
WaveState StateAfter(WaveStep step) { return static_cast<WaveState>(static_cast<int>(step) + 1); }

std::string StatusText(const Standing& standing) {
    if (standing.chosenInWave > 0) return "已入选（第" + std::to_string(standing.chosenInWave) + "批）";
    return standing.enrolled ? "未入选" : "尚未报名";
}

}  // namespace Draw
