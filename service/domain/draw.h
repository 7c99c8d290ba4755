#pragma once
// The closed-test draw: which eligible accounts a wave chooses, as a pure function of three public things.
//
//   1. The frozen list: every eligible account key with its stratum (its labels for the wave's aspects),
//      sorted by key, written out in one canonical CSV form whose SHA-256 is shown when the wave is frozen.
//   2. The parameters: the wave's size and strategy, in one canonical text form.
//   3. A seed: a public value announced before the list was frozen and entered only after it.
//
// Anyone holding the published list, parameters and seed recomputes the same accounts with
// `report-service draw verify`; nothing else (no database, no clock, no private randomness) goes in.
//
// The rule, step by step:
//   - The list is split into strata (accounts with equal labels). Uniform has no aspects: one stratum.
//   - Each stratum gets a quota; the quotas add up to the wave's size, or to the whole list when it is
//     smaller than the wave.
//       proportional: size × stratum / list, floors first, then one more each to the strata with the largest
//         remainders; equal remainders are ordered by HMAC-SHA256(seed, stratum labels joined by line feeds).
//       coverage K: first min(K, stratum) from every stratum (all of a stratum smaller than K), then the rest
//         of the wave proportionally (as above) to what is left in each stratum. A wave too small for those
//         minimums is refused, already when it is frozen.
//   - Within a stratum the accounts are ranked by HMAC-SHA256(key = seed, message = account key), the 32
//     bytes compared as an unsigned big-endian number, smallest first; the first `quota` are chosen.
//
// Texts are UTF-8 bytes throughout and compared byte by byte. A seed is used as given, less ASCII blanks
// at either end.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Draw {

// The dashboard's aspects a stratum can be made of, in their canonical order.
const std::vector<std::string>& AspectNames();

enum class Strategy { Uniform, Proportional, Coverage };

// Canonical text, for example "size=10000 strategy=proportional aspects=os,memory" or
// "size=500 strategy=coverage aspects=chip minimum=5". Aspects are always written in AspectNames() order.
struct Params {
    int64_t size = 0;  // testers wanted
    Strategy strategy = Strategy::Uniform;
    std::vector<std::string> aspects;  // none for uniform, at least one otherwise
    int64_t minimum = 0;               // coverage's K
};
constexpr int64_t kMaxWaveSize = 100000000;
std::string ToText(const Params& params);
// Accepts the pairs in any order and the aspects in any order; refuses unknown, repeated or missing ones.
std::optional<Params> ParseParams(std::string_view text, std::string& error);

struct Entry {
    std::string account;               // the account key, as the service compares accounts
    std::vector<std::string> stratum;  // one label per aspect of the list, in the list's aspect order
};

struct FrozenList {
    std::vector<std::string> aspects;  // the list's columns after "account"
    std::vector<Entry> entries;        // sorted by account, each account once
    std::string csv;                   // the canonical serialisation
    std::string sha256;                // of csv, 64 lower-case hex digits
};

// The canonical CSV: a header line "account" plus one name per aspect, then one line per entry sorted by
// account; every field of every line in double quotes (a quote inside doubled), lines ending in a line feed,
// no byte-order mark. Freezing the same entries in any order gives the same bytes.
// Refuses an account listed twice, an empty account, or an entry whose labels do not match the aspects.
std::optional<FrozenList> Freeze(std::vector<Entry> entries, std::vector<std::string> aspects, std::string& error);
// Reads a published list; refuses anything that is not exactly the canonical form (so its hash is the one
// its publisher computed from the same entries).
std::optional<FrozenList> ParseList(std::string_view csv, std::string& error);

struct Stratum {
    std::vector<std::string> labels;
    int64_t eligible = 0;
    int64_t quota = 0;
};

struct Result {
    std::vector<Stratum> strata;       // sorted by labels
    std::vector<std::string> chosen;   // account keys, sorted
    std::string csv;                   // header "account", then the chosen keys, in the list's quoting
    std::string sha256;                // of csv
};

// A seed as it is used: blanks trimmed; nothing when it is empty or holds control characters.
std::optional<std::string> CanonicalSeed(std::string_view seed);
// What coverage needs before the rest is shared out: the sum of min(K, stratum). 0 for other strategies.
int64_t CoverageNeed(const FrozenList& list, const Params& params);
// Refuses parameters that do not fit the list (other aspects, a coverage wave too small for its minimums).
bool Fits(const FrozenList& list, const Params& params, std::string& error);
std::optional<Result> Run(const FrozenList& list, const Params& params, std::string_view seed, std::string& error);

// Apportions total among strata of the given sizes (largest remainder; ties by tieKeys ascending, then by
// index). Exposed for the tests; Run uses it.
std::vector<int64_t> LargestRemainder(int64_t total, const std::vector<int64_t>& sizes,
                                      const std::vector<std::string>& tieKeys);

// One field as the lists quote it: in double quotes, a quote inside doubled.
std::string QuotedField(std::string_view field);

std::string Sha256Hex(std::string_view bytes);
// HMAC-SHA256 with a key of any length, as 32 raw bytes.
std::string HmacSha256(std::string_view key, std::string_view message);

// Activation codes: "XXXX-XXXX-XXXX-XXXX" from 30 characters that cannot be mistaken for one another (no 0,
// O, 1, I, L, U), about 78 random bits each, from the system's secure random source, never from a wave's seed.
// The count asked for, all different.
std::vector<std::string> ActivationCodes(size_t count);
bool IsActivationCode(std::string_view text);

}  // namespace Draw
