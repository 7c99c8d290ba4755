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

std::string WaveAuditDetail(const WaveRecord& w) {
    std::string text = "name=" + w.name + " params=\"" + w.params + "\"";
    if (w.state >= WaveState::Frozen) text += " list_sha256=" + w.listSha256 + " list_count=" + std::to_string(w.listCount);
    if (w.state >= WaveState::Seeded) text += " seed=\"" + w.seed + "\"";
    if (w.state >= WaveState::Drawn) text += " result_sha256=" + w.resultSha256 + " chosen=" + std::to_string(w.chosenCount);
    return text;
}

std::string WaveAuditSubject(int64_t id) { return "wave " + std::to_string(id); }

std::string StatusText(const Standing& standing) {
    if (standing.chosenInWave > 0) return "已入选（第" + std::to_string(standing.chosenInWave) + "批）";
    return standing.enrolled ? "未入选" : "尚未报名";
}

}  // namespace Draw
