#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "service/app/draw_cli.h"
#include "service/domain/draw.h"
#include "service/domain/draw_strata.h"
#include "service/domain/machine_labels.h"
#include "service_test_support.h"

namespace {

using Draw::Entry;
using Draw::Params;
using Draw::Strategy;

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned char b : bytes) hex += digits[b >> 4], hex += digits[b & 15];
    return hex;
}

// Known answers: the hash, and HMAC with a short key and with one longer than a block (RFC 4231, cases 2, 6).
TEST(DrawCrypto, KnownAnswers) {
    EXPECT_EQ(Draw::Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Hex(Draw::HmacSha256("Jefe", "what do ya want for nothing?")),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    EXPECT_EQ(Hex(Draw::HmacSha256(std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First")),
              "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54");
}

// Every apportionment of up to 12 among up to three strata of up to 6: the sum is exact, no stratum gets more
// than it has, and every quota is within one of its exact share.
TEST(DrawQuotas, LargestRemainderOverEverySmallCase) {
    for (int strata = 1; strata <= 3; ++strata) {
        std::vector<int64_t> sizes(strata, 0);
        for (;;) {
            int64_t all = 0;
            for (auto n : sizes) all += n;
            for (int64_t total = 0; total <= all; ++total) {
                SCOPED_TRACE(::testing::Message() << "total " << total << " sizes " << sizes[0] << "," <<
                             (strata > 1 ? sizes[1] : -1) << "," << (strata > 2 ? sizes[2] : -1));
                const auto q = Draw::LargestRemainder(total, sizes, std::vector<std::string>(strata, ""));
                int64_t sum = 0;
                for (int i = 0; i < strata; ++i) {
                    sum += q[i];
                    EXPECT_LE(q[i], sizes[i]);
                    const double exact = all ? double(total) * sizes[i] / all : 0;
                    EXPECT_LT(std::abs(double(q[i]) - exact), 1.0);
                }
                EXPECT_EQ(sum, total);
            }
            int k = 0;
            while (k < strata && ++sizes[k] > 6) sizes[k++] = 0;
            if (k == strata) break;
        }
    }
    // Equal remainders go by the tie key, not by position.
    EXPECT_EQ(Draw::LargestRemainder(1, {1, 1}, {"b", "a"}), (std::vector<int64_t>{0, 1}));
    EXPECT_EQ(Draw::LargestRemainder(1, {1, 1}, {"a", "b"}), (std::vector<int64_t>{1, 0}));
}

TEST(DrawParams, CanonicalTextRoundTrips) {
    const std::pair<const char*, const char*> cases[] = {
        {"size=10000 strategy=proportional aspects=os,memory", "size=10000 strategy=proportional aspects=os,memory"},
        {"  strategy=proportional\taspects=memory,os size=10000 ", "size=10000 strategy=proportional aspects=os,memory"},
        {"size=5 strategy=uniform", "size=5 strategy=uniform"},
        {"minimum=3 aspects=resolution,chip,vram size=500 strategy=coverage",
         "size=500 strategy=coverage aspects=chip,vram,resolution minimum=3"},
    };
    for (const auto& [text, canonical] : cases) {
        std::string error;
        const auto p = Draw::ParseParams(text, error);
        ASSERT_TRUE(p) << text << ": " << error;
        EXPECT_EQ(Draw::ToText(*p), canonical);
    }
    const char* refused[] = {"", "size=10", "strategy=uniform", "size=0 strategy=uniform", "size=010 strategy=uniform",
                             "size=100000001 strategy=uniform", "size=-1 strategy=uniform", "size=5 strategy=random",
                             "size=5 strategy=uniform aspects=os", "size=5 strategy=proportional",
                             "size=5 strategy=proportional aspects=os,os", "size=5 strategy=proportional aspects=gpu",
                             "size=5 strategy=proportional aspects=os,", "size=5 strategy=coverage aspects=os",
                             "size=5 strategy=proportional aspects=os minimum=2", "size=5 size=6 strategy=uniform",
                             "size=5 strategy=uniform colour=red", "size=5 strategy=uniform junk"};
    for (const char* text : refused) {
        std::string error;
        EXPECT_FALSE(Draw::ParseParams(text, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(DrawList, RefusesEveryDepartureFromTheCanonicalForm) {
    std::string error;
    const auto list = Draw::Freeze({{"b\"x", {"Windows, 10"}}, {"a", {"Windows\n7"}}}, {"os"}, error);
    ASSERT_TRUE(list) << error;
    EXPECT_EQ(list->csv, "\"account\",\"os\"\n\"a\",\"Windows\n7\"\n\"b\"\"x\",\"Windows, 10\"\n");
    ASSERT_TRUE(Draw::ParseList(list->csv, error)) << error;
    const char* refused[] = {
        "",
        "\"account\",\"os\"",                                 // no line feed at the end
        "\xEF\xBB\xBF\"account\",\"os\"\n",                   // byte-order mark
        "\"account\",\"os\"\r\n\"a\",\"x\"\r\n",              // CR LF
        "account,os\n",                                       // unquoted
        "\"account\",\"os\"\n\"b\",\"x\"\n\"a\",\"x\"\n",     // out of order
        "\"account\",\"os\"\n\"a\",\"x\"\n\"a\",\"y\"\n",     // listed twice
        "\"account\",\"os\"\n\"a\"\n",                        // a field missing
        "\"account\",\"os\"\n\"\",\"x\"\n",                   // empty account
        "\"account\",\"memory\",\"os\"\n",                    // aspects out of order
        "\"account\",\"gpu\"\n",                              // unknown aspect
        "\"acct\"\n",                                         // wrong header
        "\"account\",\"os\"\n\"a\",\"x\" \n",                 // a blank after a field
        "\"account\",\"os\"\n\"a\",\"x\n",                    // ends inside a field
    };
    for (const char* csv : refused) EXPECT_FALSE(Draw::ParseList(csv, error)) << csv;
}

TEST(DrawSeed, TrimsBlanksAndRefusesControlCharacters) {
    EXPECT_EQ(Draw::CanonicalSeed("  2026-12-08 lottery 03 17 22 \n"), "2026-12-08 lottery 03 17 22");
    EXPECT_EQ(Draw::CanonicalSeed("双色球 2026142"), "双色球 2026142");
    for (const char* bad : {"", "   ", "a\tb", "a\nb", "a\x7f"}) EXPECT_FALSE(Draw::CanonicalSeed(bad)) << bad;
    EXPECT_FALSE(Draw::CanonicalSeed(std::string(1025, 'x')));
}

// A random population: accounts of awkward bytes, up to three aspects with skewed labels.
struct Population {
    std::vector<Entry> entries;
    Params params;
};

Population RandomPopulation(std::mt19937_64& random) {
    Population p;
    const auto& names = Draw::AspectNames();
    const int strategy = static_cast<int>(random() % 3);
    p.params.strategy = static_cast<Strategy>(strategy);
    if (p.params.strategy != Strategy::Uniform)
        for (const auto& name : names)
            if (random() % 3 == 0 || (name == names.back() && p.params.aspects.empty())) p.params.aspects.push_back(name);
    const size_t count = random() % 400;
    const char* pieces[] = {"a", "B", ",", "\"", "\n", "玩家", "é", "0", " "};
    std::set<std::string> accounts;
    while (accounts.size() < count) {
        std::string account;
        for (int n = 1 + random() % 6; n > 0; --n) account += pieces[random() % 9];
        accounts.insert(account);
    }
    for (const auto& account : accounts) {
        Entry e{account, {}};
        // Skewed: label 0 is common, higher labels rarer, so some strata are tiny.
        for (size_t a = 0; a < p.params.aspects.size(); ++a)
            e.stratum.push_back("L" + std::to_string(std::min<uint64_t>(random() % 8, random() % 8)));
        p.entries.push_back(std::move(e));
    }
    std::shuffle(p.entries.begin(), p.entries.end(), random);
    p.params.size = 1 + static_cast<int64_t>(random() % (count + 20));
    p.params.minimum = 1 + static_cast<int64_t>(random() % 10);
    return p;
}

TEST(DrawProperty, RandomPopulations) {
    std::mt19937_64 random(20261209);
    int drawn = 0, refusedCoverage = 0;
    for (int trial = 0; trial < 400; ++trial) {
        SCOPED_TRACE(::testing::Message() << "trial " << trial);
        Population pop = RandomPopulation(random);
        const Params& params = pop.params;
        const std::string seed = "seed " + std::to_string(random());
        std::string error;
        const auto list = Draw::Freeze(pop.entries, params.aspects, error);
        ASSERT_TRUE(list) << error;
        const auto again = Draw::ParseList(list->csv, error);
        ASSERT_TRUE(again) << error;
        ASSERT_EQ(again->sha256, list->sha256);

        std::map<std::vector<std::string>, std::vector<std::string>> members;
        for (const auto& e : pop.entries) members[e.stratum].push_back(e.account);
        const int64_t all = static_cast<int64_t>(pop.entries.size()), wave = std::min(params.size, all);
        int64_t need = 0;
        if (params.strategy == Strategy::Coverage)
            for (const auto& [labels, accounts] : members) need += std::min<int64_t>(params.minimum, accounts.size());

        const auto result = Draw::Run(*list, params, seed, error);
        if (need > wave) {
            EXPECT_FALSE(result);
            EXPECT_FALSE(Draw::Fits(*list, params, error));
            ++refusedCoverage;
            continue;
        }
        ASSERT_TRUE(result) << error;
        ++drawn;
        ASSERT_EQ(static_cast<int64_t>(result->chosen.size()), wave);
        ASSERT_EQ(result->strata.size(), members.size());
        const std::set<std::string> chosen(result->chosen.begin(), result->chosen.end());
        ASSERT_EQ(chosen.size(), result->chosen.size());
        int64_t sum = 0;
        for (const auto& s : result->strata) {
            const auto& accounts = members.at(s.labels);
            const int64_t n = static_cast<int64_t>(accounts.size());
            ASSERT_EQ(s.eligible, n);
            sum += s.quota;
            ASSERT_LE(s.quota, n);
            if (params.strategy == Strategy::Proportional) {
                EXPECT_LT(std::abs(double(s.quota) - double(wave) * n / all), 1.0);
            }
            if (params.strategy == Strategy::Coverage) {
                const int64_t floor = std::min<int64_t>(params.minimum, n);
                EXPECT_GE(s.quota, floor);
                if (all > need) {
                    EXPECT_LT(std::abs(double(s.quota - floor) - double(wave - need) * (n - floor) / (all - need)), 1.0);
                }
            }
            // The chosen ones are exactly the quota with the smallest HMAC of seed and account.
            std::vector<std::pair<std::string, bool>> ranked;
            for (const auto& a : accounts) ranked.emplace_back(Draw::HmacSha256(seed, a), chosen.count(a) > 0);
            std::sort(ranked.begin(), ranked.end());
            for (int64_t i = 0; i < n; ++i) ASSERT_EQ(ranked[i].second, i < s.quota) << "rank " << i;
        }
        EXPECT_EQ(sum, wave);

        // The same input gives the same draw; a list given in another order freezes and draws the same.
        EXPECT_EQ(Draw::Run(*list, params, seed, error)->csv, result->csv);
        std::shuffle(pop.entries.begin(), pop.entries.end(), random);
        const auto reordered = Draw::Freeze(pop.entries, params.aspects, error);
        ASSERT_TRUE(reordered);
        EXPECT_EQ(reordered->sha256, list->sha256);
        EXPECT_EQ(Draw::Run(*reordered, params, " " + seed + "\t", error)->sha256, result->sha256);
    }
    // The generator must reach both branches, or the property proves less than it says.
    EXPECT_GT(drawn, 200);
    EXPECT_GT(refusedCoverage, 5);
}

TEST(DrawProperty, EveryOtherSeedGivesAnotherDraw) {
    std::vector<Entry> entries;
    for (int i = 0; i < 1000; ++i) entries.push_back({"player" + std::to_string(i), {i % 10 ? "Windows 10" : "Windows 7"}});
    std::string error;
    const auto list = Draw::Freeze(entries, {"os"}, error);
    const auto params = Draw::ParseParams("size=100 strategy=proportional aspects=os", error);
    ASSERT_TRUE(list && params) << error;
    std::set<std::string> results;
    for (int s = 0; s < 20; ++s) results.insert(Draw::Run(*list, *params, "seed " + std::to_string(s), error)->sha256);
    EXPECT_EQ(results.size(), 20u);
}

TEST(DrawCodes, DistinctWellFormedAndOverTheWholeAlphabet) {
    const auto codes = Draw::ActivationCodes(10000);
    ASSERT_EQ(codes.size(), 10000u);
    EXPECT_EQ(std::set<std::string>(codes.begin(), codes.end()).size(), codes.size());
    std::map<char, int> seen;
    for (const auto& code : codes) {
        ASSERT_TRUE(Draw::IsActivationCode(code)) << code;
        for (char c : code) ++seen[c];
    }
    // 30 characters and the dash; each character about 5333 times in 160,000.
    ASSERT_EQ(seen.size(), 31u);
    for (const auto& [c, n] : seen) {
        if (c == '-') continue;
        EXPECT_GT(n, 4500) << c;
    }
    for (char c : std::string("01ILOU")) EXPECT_EQ(seen.count(c), 0u) << c;
    for (const char* bad : {"", "ABCD-EFGH-JKMN-PQR", "ABCD-EFGH-JKMN-PQRO", "ABCDEEFGH-JKMN-PQRS", "abcd-efgh-jkmn-pqrs"})
        EXPECT_FALSE(Draw::IsActivationCode(bad)) << bad;
}

// A machine's stratum labels are the dashboard's labels for it.
TEST(DrawStrata, TheDashboardsLabels) {
    Service::Report m;
    m.os = "Windows 7 Professional 32-Bit";
    m.cpuCount = 2;
    m.memoryMB = "2048";
    m.resolution = "1024 x 768";
    m.displays = "Intel HD;Intel(R) HD Graphics;512;0|GeForce MX150;NVIDIA GeForce MX150;2048;0";
    EXPECT_EQ(Service::MachineStrata(m, Draw::AspectNames()),
              (std::vector<std::string>{"Windows 7 Professional 32-Bit", "GeForce MX150 + Intel HD", "1–2 GB", "≤2 GB",
                                        "2", "1024 x 768"}));
    m.displays.clear();
    EXPECT_EQ(Service::MachineStrata(m, {"chip", "vram"}), (std::vector<std::string>{"（无）", "未知"}));
    for (const auto& [aspect, label] : Service::MachineLabels(m)) {
        if (aspect == "vendor" || aspect == "clock") continue;
        EXPECT_EQ(Service::MachineStrata(m, {aspect})[0], label);
    }
}

// The freeze's remembering labeler gives every machine exactly MachineLabels', however its fields repeat.
TEST(DrawStrata, TheLabelerAgreesWithTheLabels) {
    const char* systems[] = {"Windows 10 Pro 64-Bit", " Windows 7 Ultimate 32-Bit ", ""};
    const char* cpus[] = {"Intel(R) Core(TM) i5-4590 CPU @ 3.30GHz", "AMD Ryzen 5 3600 6-Core Processor", "", "VIA Nano"};
    const char* memory[] = {"2048", "8067", "", "x"};
    const char* displays[] = {"", "Intel HD;Intel(R) HD Graphics;512;0",
                              "GeForce MX150;NVIDIA GeForce MX150;2048;0|Intel HD;Intel(R) HD Graphics;512;0",
                              "A;a;1;0|A;a;4096;0", " ;blank;0;0"};
    std::mt19937 random(7);
    Service::MachineLabeler labeler;
    for (int i = 0; i < 2000; ++i) {
        Service::Report m;
        m.os = systems[random() % 3];
        m.cpuName = cpus[random() % 4];
        m.cpuCount = 1 + random() % 16;
        m.clockMHz = random() % 5000;
        m.memoryMB = memory[random() % 4];
        m.resolution = systems[random() % 3];
        m.displays = displays[random() % 5];
        ASSERT_EQ(labeler.Of(m), Service::MachineLabels(m)) << i;
    }
}

class DrawVerifier : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = m_dir.File(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    int Verify(std::vector<std::string> args) {
        out.str(""), err.str("");
        args.insert(args.begin(), {"draw", "verify"});
        return Service::DrawCommand(args, out, err);
    }
    TempDir m_dir;
    std::ostringstream out, err;
};

// Anyone's check of a published wave agrees with the draw that made it, and tells a tampered result.
TEST_F(DrawVerifier, AgreesWithThePublishedWave) {
    std::mt19937_64 random(7);
    std::vector<Entry> entries;
    const char* chips[] = {"GeForce GTX 960", "Intel HD", "Radeon RX 580", "GeForce MX150 + Intel HD"};
    for (int i = 0; i < 3000; ++i)
        entries.push_back({"玩家" + std::to_string(i), {chips[random() % 4], random() % 5 ? "5–8 GB" : "≤2 GB"}});
    std::string error;
    const auto params = Draw::ParseParams("size=300 strategy=coverage aspects=chip,memory minimum=30", error);
    const auto list = Draw::Freeze(entries, params->aspects, error);
    ASSERT_TRUE(list) << error;
    const auto published = Draw::Run(*list, *params, "announced 2026-12-08", error);
    ASSERT_TRUE(published) << error;
    const std::string listPath = Write("list.csv", list->csv), resultPath = Write("result.csv", published->csv);

    ASSERT_EQ(Verify({listPath, "--seed", "announced 2026-12-08", "--params", Draw::ToText(*params), "--result",
                      resultPath}),
              0)
        << err.str();
    EXPECT_EQ(out.str(), published->csv);
    EXPECT_NE(err.str().find("list     sha256 " + list->sha256), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("result   sha256 " + published->sha256), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("matches"), std::string::npos);

    // One chosen account swapped for one left out: the verifier says so.
    auto tampered = published->chosen;
    const auto outsider = std::find_if(list->entries.begin(), list->entries.end(), [&](const Entry& e) {
        return !std::binary_search(tampered.begin(), tampered.end(), e.account);
    });
    tampered[0] = outsider->account;
    std::vector<Entry> rows;
    for (const auto& a : tampered) rows.push_back({a, {}});
    const std::string tamperedPath = Write("tampered.csv", Draw::Freeze(rows, {}, error)->csv);
    EXPECT_EQ(Verify({listPath, "--seed", "announced 2026-12-08", "--params", Draw::ToText(*params), "--result",
                      tamperedPath}),
              1);
    EXPECT_NE(err.str().find("1 chosen accounts missing from it, 1 in it that were not chosen"), std::string::npos)
        << err.str();
    // Another seed is another draw.
    EXPECT_EQ(Verify({listPath, "--seed", "announced 2026-12-09", "--params", Draw::ToText(*params), "--result",
                      resultPath}),
              1);

    // A wrong call or a list not in its published form is refused, not verified.
    EXPECT_EQ(Verify({listPath, "--seed", "s"}), 2);
    EXPECT_EQ(Verify({listPath, "--seed", "s", "--params", "size=300 strategy=uniform"}), 2);
    EXPECT_NE(err.str().find("aspects"), std::string::npos) << err.str();
    const std::string crlf = Write("crlf.csv", "\"account\"\r\n\"a\"\r\n");
    EXPECT_EQ(Verify({crlf, "--seed", "s", "--params", "size=1 strategy=uniform"}), 2);
    EXPECT_EQ(Verify({m_dir.File("missing.csv"), "--seed", "s", "--params", "size=1 strategy=uniform"}), 2);
}

}  // namespace
