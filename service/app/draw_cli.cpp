#include "service/app/draw_cli.h"

#include <fstream>
#include <iterator>
#include <optional>
#include <set>

#include "service/domain/draw.h"

namespace Service {

namespace {

const char* const kDrawUsage =
    "usage: report-service draw verify LIST.csv --seed SEED --params PARAMS [--result RESULT.csv]\n"
    "\n"
    "Recomputes a wave's chosen accounts from its published eligible list, parameters and seed. The chosen\n"
    "accounts go to standard output in the form the result is published in; the list's SHA-256 (compare it\n"
    "with the one shown when the wave was frozen), each stratum's quota and the result's SHA-256 go to\n"
    "standard error. With --result, the published result is compared too: exit status 0 when it matches,\n"
    "1 when it does not.\n"
    "\n"
    "  PARAMS  as published, for example \"size=10000 strategy=proportional aspects=os,memory\"\n"
    "  SEED    the public value, as announced (blanks at either end do not count)\n";

std::optional<std::string> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

std::string Quoted(const std::vector<std::string>& labels) {
    std::string text;
    for (size_t i = 0; i < labels.size(); ++i) text += (i ? ", \"" : "\"") + labels[i] + "\"";
    return labels.empty() ? "(all)" : text;
}

}  // namespace

int DrawCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() >= 2 && (args[1] == "--help" || args[1] == "-h")) return out << kDrawUsage, 0;
    if (args.size() < 2 || args[1] != "verify") return err << kDrawUsage, 2;
    std::optional<std::string> listPath, seed, paramsText, resultPath;
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::optional<std::string>& into) {
            if (i + 1 >= args.size() || into) return false;
            into = args[++i];
            return true;
        };
        bool ok = true;
        if (arg == "--seed") ok = value(seed);
        else if (arg == "--params") ok = value(paramsText);
        else if (arg == "--result") ok = value(resultPath);
        else if (arg == "--help" || arg == "-h") return out << kDrawUsage, 0;
        else if (!listPath && (arg.empty() || arg[0] != '-')) listPath = arg;
        else ok = false;
        if (!ok) return err << "report-service draw: unexpected or repeated " << arg << "\n" << kDrawUsage, 2;
    }
    if (!listPath || !seed || !paramsText) return err << kDrawUsage, 2;

    std::string error;
    const auto params = Draw::ParseParams(*paramsText, error);
    if (!params) return err << "report-service draw: --params: " << error << "\n", 2;
    const auto bytes = ReadFile(*listPath);
    if (!bytes) return err << "report-service draw: cannot read " << *listPath << "\n", 2;
    const auto list = Draw::ParseList(*bytes, error);
    if (!list) return err << "report-service draw: " << *listPath << ": " << error << "\n", 2;
    const auto result = Draw::Run(*list, *params, *seed, error);
    if (!result) return err << "report-service draw: " << error << "\n", 2;

    err << "list     sha256 " << list->sha256 << "  (" << list->entries.size() << " accounts)\n";
    err << "params   " << Draw::ToText(*params) << "\n";
    err << "seed     \"" << *Draw::CanonicalSeed(*seed) << "\"\n";
    for (const auto& s : result->strata)
        err << "stratum  " << Quoted(s.labels) << ": " << s.quota << " of " << s.eligible << "\n";
    err << "result   sha256 " << result->sha256 << "  (" << result->chosen.size() << " accounts)\n";
    out << result->csv;
    if (!resultPath) return 0;

    const auto published = ReadFile(*resultPath);
    if (!published) return err << "report-service draw: cannot read " << *resultPath << "\n", 2;
    if (*published == result->csv) return err << "verdict  the published result matches\n", 0;
    // Say how it differs, by account, when the published file reads as a list of accounts at all.
    const auto theirs = Draw::ParseList(*published, error);
    if (!theirs || !theirs->aspects.empty())
        return err << "verdict  the published result differs (and is not a list of accounts: "
                   << (theirs ? "it has more columns" : error) << ")\n",
               1;
    std::set<std::string> mine(result->chosen.begin(), result->chosen.end()), other;
    for (const auto& e : theirs->entries) other.insert(e.account);
    size_t missing = 0, extra = 0;
    for (const auto& a : mine) missing += !other.count(a);
    for (const auto& a : other) extra += !mine.count(a);
    err << "verdict  the published result differs: " << missing << " chosen accounts missing from it, " << extra
        << " in it that were not chosen\n";
    return 1;
}

}  // namespace Service
