#include "service/app/wave_steps.h"

#include <iterator>
#include <map>
#include <thread>

#include "service/domain/draw.h"
#include "service/domain/draw_strata.h"
#include "service/domain/identity.h"
#include "service/domain/machine_labels.h"
#include "service/domain/service_text.h"

namespace Service {

namespace {

StepResult Refuse(int status, std::string notice, int64_t wave = 0) { return {status, std::move(notice), false, wave}; }

StepResult Changed(WaveChange change, int64_t wave, const std::string& done) {
    switch (change) {
    case WaveChange::Done: return {200, done, true, wave};
    case WaveChange::NoWave: return Refuse(404, "没有这一批", wave);
    case WaveChange::WrongState: return Refuse(409, "这一批已不在这一步（可能已由他人操作）", wave);
    case WaveChange::Busy: return Refuse(409, "另一批已冻结、尚未抽取：一次只能进行一批", wave);
    case WaveChange::Failed: break;
    }
    return Refuse(503, "服务器忙，请稍后再试", wave);
}

void Count(HardwareCounts& counts, const Report& machine) {
    for (const auto& [aspect, label] : MachineLabels(machine)) ++counts[aspect][label];
}

std::optional<Draw::Params> ParamsOf(const Draw::WaveRecord& w) {
    std::string error;
    return Draw::ParseParams(w.params, error);
}

}  // namespace

StepResult CreateWave(Storage& storage, const WaveForm& form, int64_t now) {
    const std::string name = ServiceText::Trim(form.name);
    if (name.empty() || ServiceText::CodePointCount(name) > 64) return Refuse(400, "名称须为 1 至 64 个字符");
    std::string text = "size=" + form.size + " strategy=" + form.strategy;
    if (form.strategy != "uniform" && !form.aspects.empty()) {
        text += " aspects=";
        for (size_t i = 0; i < form.aspects.size(); ++i) text += (i ? "," : "") + form.aspects[i];
    }
    if (form.strategy == "coverage") text += " minimum=" + form.minimum;
    std::string error;
    const auto params = Draw::ParseParams(text, error);
    if (!params) return Refuse(400, "参数有误：" + error);
    const auto id = storage.CreateWave(name, Draw::ToText(*params), now);
    if (!id) return Refuse(503, "服务器忙，请稍后再试");
    return {200, "已新建第" + std::to_string(*id) + "批", true, *id};
}

StepResult FreezeWave(Storage& storage, int64_t id, bool requireRegistered, int64_t now) {
    const auto wave = storage.Wave(id);
    if (!wave) return Changed(WaveChange::Failed, id, {});
    if (wave->id == 0) return Changed(WaveChange::NoWave, id, {});
    if (wave->state != Draw::WaveState::Created) return Changed(WaveChange::WrongState, id, {});
    const auto params = ParamsOf(*wave);
    if (!params) return Refuse(500, "参数无法读取", id);
    // One snapshot of the eligible machines: reports arriving meanwhile are simply not in this wave. A million
    // of them are read in two parts side by side when there is a second core; the list is sorted after.
    struct Part {
        std::vector<Draw::Entry> entries;
        HardwareCounts hardware;
        MachineLabeler labeler;
    };
    std::vector<Part> parts(std::thread::hardware_concurrency() > 1 ? 2 : 1);
    std::vector<MachineSink> sinks;
    for (auto& part : parts)
        sinks.push_back([&part, &aspects = params->aspects](const std::string& key, const Report& m) {
            // The labels once: they give both the stratum and the population's hardware shares.
            const auto& labels = part.labeler.Of(m);
            for (const auto& [aspect, label] : labels) ++part.hardware[aspect][label];
            part.entries.push_back({key, MachineStrata(labels, aspects)});
        });
    if (!storage.EligibleMachines(requireRegistered, sinks)) return Changed(WaveChange::Failed, id, {});
    FrozenWave frozen;
    std::vector<Draw::Entry> entries = std::move(parts.front().entries);
    for (auto& part : parts) {
        if (&part != &parts.front())
            entries.insert(entries.end(), std::make_move_iterator(part.entries.begin()),
                           std::make_move_iterator(part.entries.end()));
        for (const auto& [aspect, labels] : part.hardware)
            for (const auto& [label, n] : labels) frozen.hardware[aspect][label] += n;
    }
    frozen.machines = static_cast<int64_t>(entries.size());
    std::string error;
    auto list = Draw::Freeze(std::move(entries), params->aspects, error);
    if (!list) return Refuse(500, "名单无法冻结：" + error, id);
    if (list->entries.empty()) return Refuse(409, "没有合格的账号", id);
    if (!Draw::Fits(*list, *params, error))
        return Refuse(409, "人数不足以满足每层至少 " + std::to_string(params->minimum) + " 台：需要 " +
                               std::to_string(Draw::CoverageNeed(*list, *params)) + " 人",
                      id);
    frozen.sha256 = list->sha256;
    frozen.count = static_cast<int64_t>(list->entries.size());
    frozen.csv = std::move(list->csv);  // tens of megabytes: moved, not copied
    return Changed(storage.SaveFrozen(id, frozen, now), id, "名单已冻结：" + std::to_string(frozen.count) + " 个账号");
}

StepResult SeedWave(Storage& storage, int64_t id, const std::string& seed, int64_t now) {
    const auto canonical = Draw::CanonicalSeed(seed);
    if (!canonical) return Refuse(400, "种子不能为空，也不能含控制字符", id);
    return Changed(storage.SaveSeed(id, *canonical, now), id, "种子已录入");
}

StepResult DrawWave(Storage& storage, int64_t id, int64_t now) {
    const auto wave = storage.Wave(id);
    if (!wave) return Changed(WaveChange::Failed, id, {});
    if (wave->id == 0) return Changed(WaveChange::NoWave, id, {});
    if (wave->state != Draw::WaveState::Seeded) return Changed(WaveChange::WrongState, id, {});
    const auto csv = storage.WaveFile(id, WaveFileKind::List);
    const auto params = ParamsOf(*wave);
    if (!csv || !params) return Changed(WaveChange::Failed, id, {});
    // The draw is the verifier's: from the stored list's bytes, exactly as anyone else will run it.
    std::string error;
    const auto list = Draw::ParseList(*csv, error);
    const auto result = list ? Draw::Run(*list, *params, wave->seed, error) : std::nullopt;
    if (!result) return Refuse(500, "无法抽取：" + error, id);
    DrawnWave drawn;
    drawn.csv = result->csv;
    drawn.sha256 = result->sha256;
    const auto codes = Draw::ActivationCodes(result->chosen.size());
    std::map<std::string, std::string> accountOf;
    const bool read = storage.MachinesOf(result->chosen, [&](const std::string& key, const Report& m) {
        accountOf[key] = m.account;
        Count(drawn.hardware, m);
    });
    if (!read) return Changed(WaveChange::Failed, id, {});
    for (size_t i = 0; i < result->chosen.size(); ++i) {
        const auto& key = result->chosen[i];
        const auto it = accountOf.find(key);
        // An enrolment revoked since the freeze still takes its place (nobody else moves), marked withdrawn.
        drawn.chosen.push_back({it == accountOf.end() ? key : it->second, key, codes[i], id, it == accountOf.end() ? now : 0});
    }
    return Changed(storage.SaveDraw(id, drawn, now), id, std::to_string(drawn.chosen.size()) + " 个账号入选");
}

StepResult PublishWave(Storage& storage, int64_t id, int64_t now) {
    return Changed(storage.Publish(id, now), id, "已公布");
}

std::optional<std::string> StatusOf(Storage& storage, const std::string& account) {
    const std::string key = Identity::AccountKey(ServiceText::Trim(account));
    if (key.empty()) return std::string("尚未报名");
    const auto standing = storage.Standing(key);
    if (!standing) return std::nullopt;
    return Draw::StatusText(*standing);
}

}  // namespace Service
