// report-service-draw-bench [COUNT] [WAVE]: the closed-test draw at scale. Makes COUNT eligible machines
// (default 1,000,000) of varied hardware in a shuffled order, then times each step of a wave of WAVE
// testers (default 10,000) drawn proportionally by OS and memory: the machines' strata, freezing the list
// (sort, canonical CSV, SHA-256), reading the published list back as the verifier does, and the draw.
//
// report-service-draw-bench --db DB [WAVE]: the same wave through the service's own steps on a database
// (filled by report-service-seed): freeze (reading every enrolment, storing the list) and draw (reading the
// list back, the codes, storing the result).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "service/app/wave_steps.h"
#include "service/domain/draw.h"
#include "service/domain/draw_strata.h"

namespace {

// Wall time and this process's processor time: on a shared machine the second is the figure that does not
// depend on what else runs.
struct Timer {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    std::clock_t cpu = std::clock();
};
struct Span {
    double wall, cpu;
};
Span Since(const Timer& t) {
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - t.wall).count(),
            double(std::clock() - t.cpu) / CLOCKS_PER_SEC};
}

int OnDatabase(const std::string& db, long wave) {
    std::string error;
    auto storage = Service::OpenStorage(db, error);
    if (!storage) return std::fprintf(stderr, "report-service-draw-bench: %s\n", error.c_str()), 1;
    const auto made = Service::CreateWave(*storage, {"bench", std::to_string(wave), "proportional", "", {"os", "memory"}}, 1);
    if (!made.good) return std::fprintf(stderr, "%s\n", made.notice.c_str()), 1;
    Timer start;
    const auto frozen = Service::FreezeWave(*storage, made.wave, false, 2);
    const Span freeze = Since(start);
    if (!frozen.good) return std::fprintf(stderr, "%s\n", frozen.notice.c_str()), 1;
    Service::SeedWave(*storage, made.wave, "bench seed", 3);
    start = Timer();
    const auto drawn = Service::DrawWave(*storage, made.wave, 4);
    const Span draw = Since(start);
    if (!drawn.good) return std::fprintf(stderr, "%s\n", drawn.notice.c_str()), 1;
    std::printf("wave %lld on %s: %s; %s\n", static_cast<long long>(made.wave), db.c_str(), frozen.notice.c_str(),
                drawn.notice.c_str());
    const auto show = [](const char* what, Span s) { std::printf("%-27s%7.3f s wall %7.3f s processor\n", what, s.wall, s.cpu); };
    show("freeze (read, list, store)", freeze);
    show("draw (read, draw, store)", draw);
    show("freeze + draw (goal < 5 s)", {freeze.wall + draw.wall, freeze.cpu + draw.cpu});
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "--db") return OnDatabase(argv[2], argc > 3 ? std::atol(argv[3]) : 10000);
    const long count = argc > 1 ? std::atol(argv[1]) : 1000000;
    const long wave = argc > 2 ? std::atol(argv[2]) : 10000;
    if (count < 1 || wave < 1) return std::fprintf(stderr, "usage: report-service-draw-bench [COUNT] [WAVE]\n"), 2;
    const char* systems[] = {"Windows 10 Pro 64-Bit", "Windows 7 Professional 64-Bit", "Windows 11 Home 64-Bit",
                             "Windows 7 Ultimate 32-Bit", "Windows XP Professional 32-Bit"};
    const char* memory[] = {"2048", "4096", "8192", "16384", "32768", "1024"};
    const char* displays[] = {"GeForce GTX 960;NVIDIA GeForce GTX 960;2048;0", "Radeon RX 580;Radeon RX 580 Series;8192;0",
                              "Intel HD;Intel(R) HD Graphics;512;0|GeForce MX150;NVIDIA GeForce MX150;2048;0"};
    // Skewed shares, as real populations are: a few common machines and a long tail.
    std::mt19937_64 random(42);
    std::discrete_distribution<int> os({60, 25, 12, 2, 1}), mem({10, 30, 35, 18, 6, 1});
    std::vector<Service::Report> machines(count);
    for (long i = 0; i < count; ++i) {
        auto& r = machines[i];
        r.account = "player" + std::to_string(i);
        r.os = systems[os(random)];
        r.memoryMB = memory[mem(random)];
        r.displays = displays[i % 3];
        r.cpuCount = 2 << (i % 3);
        r.resolution = i % 2 ? "1920 x 1080" : "1366 x 768";
    }
    std::shuffle(machines.begin(), machines.end(), random);

    std::string error;
    const auto params = Draw::ParseParams("size=" + std::to_string(wave) + " strategy=proportional aspects=os,memory", error);
    if (!params) return std::fprintf(stderr, "%s\n", error.c_str()), 1;

    Timer start;
    std::vector<Draw::Entry> entries;
    entries.reserve(count);
    for (const auto& m : machines) entries.push_back({m.account, Service::MachineStrata(m, params->aspects)});
    const Span strata = Since(start);

    start = Timer();
    const auto list = Draw::Freeze(std::move(entries), params->aspects, error);
    const Span freeze = Since(start);
    if (!list) return std::fprintf(stderr, "%s\n", error.c_str()), 1;

    start = Timer();
    const auto read = Draw::ParseList(list->csv, error);
    const Span parse = Since(start);
    if (!read) return std::fprintf(stderr, "%s\n", error.c_str()), 1;

    start = Timer();
    const auto result = Draw::Run(*list, *params, "bench seed 2026-12-09", error);
    const Span draw = Since(start);
    if (!result) return std::fprintf(stderr, "%s\n", error.c_str()), 1;

    std::printf("eligible machines          %ld (list %.1f MB, sha256 %.16s…)\n", count, list->csv.size() / 1e6,
                list->sha256.c_str());
    std::printf("wave                       %s: %zu chosen from %zu strata\n", Draw::ToText(*params).c_str(),
                result->chosen.size(), result->strata.size());
    const auto show = [](const char* what, Span s) { std::printf("%-27s%7.3f s wall %7.3f s processor\n", what, s.wall, s.cpu); };
    show("strata of the machines", strata);
    show("freeze (sort, CSV, hash)", freeze);
    show("draw", draw);
    show("freeze + draw (goal < 5 s)", {freeze.wall + draw.wall, freeze.cpu + draw.cpu});
    show("verifier reading the list", parse);
    return 0;
}
