#include "service/domain/draw.h"

#include <sodium.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <future>
#include <iterator>
#include <map>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace Draw {

namespace {

const char* StrategyName(Strategy s) {
    switch (s) {
        case Strategy::Uniform: return "uniform";
        case Strategy::Proportional: return "proportional";
        case Strategy::Coverage: return "coverage";
    }
    return "uniform";
}

void EnsureSodium() {
    // Thread-safe and idempotent; it fails only when the system has no random source at all, and then no
    // code may be handed out.
    if (sodium_init() < 0) std::abort();
}

bool ParseCount(std::string_view text, int64_t& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string_view::npos ||
        (text.size() > 1 && text[0] == '0'))
        return false;
    value = std::atoll(std::string(text).c_str());
    return value >= 1 && value <= kMaxWaveSize;
}

int AspectIndex(std::string_view name) {
    const auto& names = AspectNames();
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return static_cast<int>(i);
    return -1;
}

// Known names, each once, in the canonical order.
bool CanonicalAspects(const std::vector<std::string>& aspects, std::string& error) {
    int last = -1;
    for (const auto& a : aspects) {
        const int i = AspectIndex(a);
        if (i < 0) return error = "unknown aspect \"" + a + "\"", false;
        if (i <= last) {
            error = "aspects must be distinct and in the order";
            for (const auto& name : AspectNames()) error += " " + name;
            return false;
        }
        last = i;
    }
    return true;
}

void AppendField(std::string& out, std::string_view field) {
    out += '"';
    // Runs between quotes at once: a million-line list is written in a fraction of a second.
    for (size_t quote; (quote = field.find('"')) != std::string_view::npos; field.remove_prefix(quote + 1))
        out.append(field.data(), quote + 1) += '"';
    out.append(field.data(), field.size()) += '"';
}

using Digest = std::array<unsigned char, crypto_auth_hmacsha256_BYTES>;

// The keyed state once, copied for every message: an account costs two compressions, not four.
class Hmac {
public:
    explicit Hmac(std::string_view key) {
        EnsureSodium();
        crypto_auth_hmacsha256_init(&m_keyed, reinterpret_cast<const unsigned char*>(key.data()), key.size());
    }
    Digest operator()(std::string_view message) const {
        crypto_auth_hmacsha256_state s = m_keyed;
        crypto_auth_hmacsha256_update(&s, reinterpret_cast<const unsigned char*>(message.data()), message.size());
        Digest d;
        crypto_auth_hmacsha256_final(&s, d.data());
        return d;
    }

private:
    crypto_auth_hmacsha256_state m_keyed;
};

// Runs first() on another thread while second() runs on this one, when the work is big enough to pay for a
// thread and the machine has a second core; else one after the other. The two must not touch the same data:
// the result is the same either way, only sooner. An exception from either reaches the caller, and both have
// finished when this returns.
template <class First, class Second>
void SideBySide(bool big, First&& first, Second&& second) {
    std::future<void> other;
    if (big && std::thread::hardware_concurrency() > 1) {
        try {
            other = std::async(std::launch::async, [&first] { first(); });
        } catch (const std::system_error&) {
            // No thread to be had: the same work, in turn.
        }
    }
    if (!other.valid()) first();
    second();
    if (other.valid()) other.get();
}

std::string Join(const std::vector<std::string>& labels) {
    std::string text;
    for (size_t i = 0; i < labels.size(); ++i) text += (i ? "\n" : "") + labels[i];
    return text;
}

}  // namespace

const std::vector<std::string>& AspectNames() {
    static const std::vector<std::string> names = {"os", "chip", "vram", "memory", "cores", "resolution"};
    return names;
}

std::string ToText(const Params& p) {
    std::string text = "size=" + std::to_string(p.size) + " strategy=" + StrategyName(p.strategy);
    if (!p.aspects.empty()) {
        text += " aspects=";
        for (size_t i = 0; i < p.aspects.size(); ++i) text += (i ? "," : "") + p.aspects[i];
    }
    if (p.strategy == Strategy::Coverage) text += " minimum=" + std::to_string(p.minimum);
    return text;
}

std::optional<Params> ParseParams(std::string_view text, std::string& error) {
    Params p;
    std::set<std::string> seen;
    bool haveStrategy = false;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\t') {
            ++i;
            continue;
        }
        size_t end = text.find_first_of(" \t", i);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view pair = text.substr(i, end - i);
        i = end;
        const size_t eq = pair.find('=');
        if (eq == std::string_view::npos) return error = "\"" + std::string(pair) + "\" is not name=value", std::nullopt;
        const std::string name(pair.substr(0, eq));
        const std::string_view value = pair.substr(eq + 1);
        if (!seen.insert(name).second) return error = name + " is given twice", std::nullopt;
        if (name == "size") {
            if (!ParseCount(value, p.size)) return error = "size must be 1 to " + std::to_string(kMaxWaveSize), std::nullopt;
        } else if (name == "minimum") {
            if (!ParseCount(value, p.minimum))
                return error = "minimum must be 1 to " + std::to_string(kMaxWaveSize), std::nullopt;
        } else if (name == "strategy") {
            haveStrategy = true;
            if (value == "uniform") p.strategy = Strategy::Uniform;
            else if (value == "proportional") p.strategy = Strategy::Proportional;
            else if (value == "coverage") p.strategy = Strategy::Coverage;
            else return error = "strategy must be uniform, proportional or coverage", std::nullopt;
        } else if (name == "aspects") {
            std::vector<int> indexes;
            size_t start = 0;
            while (start <= value.size()) {
                size_t comma = value.find(',', start);
                if (comma == std::string_view::npos) comma = value.size();
                const auto aspect = value.substr(start, comma - start);
                const int index = AspectIndex(aspect);
                if (index < 0) return error = "unknown aspect \"" + std::string(aspect) + "\"", std::nullopt;
                if (std::find(indexes.begin(), indexes.end(), index) != indexes.end())
                    return error = "aspect " + std::string(aspect) + " is given twice", std::nullopt;
                indexes.push_back(index);
                start = comma + 1;
            }
            std::sort(indexes.begin(), indexes.end());
            for (int index : indexes) p.aspects.push_back(AspectNames()[index]);
        } else {
            return error = "unknown parameter \"" + name + "\"", std::nullopt;
        }
    }
    if (!seen.count("size")) return error = "size is missing", std::nullopt;
    if (!haveStrategy) return error = "strategy is missing", std::nullopt;
    if (p.strategy == Strategy::Uniform && !p.aspects.empty())
        return error = "a uniform wave has no aspects", std::nullopt;
    if (p.strategy != Strategy::Uniform && p.aspects.empty())
        return error = std::string(StrategyName(p.strategy)) + " needs aspects", std::nullopt;
    if (p.strategy == Strategy::Coverage && !seen.count("minimum")) return error = "coverage needs a minimum", std::nullopt;
    if (p.strategy != Strategy::Coverage && seen.count("minimum"))
        return error = "only coverage has a minimum", std::nullopt;
    return p;
}

namespace {

// The rules of an entry beyond its order, as Freeze states them.
bool EntryFits(const Entry& e, size_t aspects, std::string& error) {
    if (e.account.empty()) return error = "an account is empty", false;
    if (e.stratum.size() != aspects)
        return error = "account \"" + e.account + "\" has " + std::to_string(e.stratum.size()) + " labels for " +
                       std::to_string(aspects) + " aspects",
               false;
    return true;
}

// One quoted field from csv[i] (a double quote) to its closing quote, which i is left just past; false when
// the text ends inside it. Runs between quotes are taken at once.
bool ReadField(std::string_view csv, size_t& i, std::string& field) {
    for (++i;;) {
        const size_t quote = csv.find('"', i);
        if (quote == std::string_view::npos) return false;
        field.append(csv.data() + i, quote - i);
        if (quote + 1 < csv.size() && csv[quote + 1] == '"') {
            field += '"';
            i = quote + 2;
            continue;
        }
        i = quote + 1;
        return true;
    }
}

}  // namespace

namespace {

// Below this many entries (or bytes) a second thread costs more than it saves.
constexpr size_t kWorthAThread = 1 << 16;

void SortByAccount(std::vector<Entry>& entries) {
    const auto byAccount = [](const Entry& a, const Entry& b) { return a.account < b.account; };
    // Entries that come in order (a list read back) are only checked, not sorted again.
    if (std::is_sorted(entries.begin(), entries.end(), byAccount)) return;
    const auto middle = entries.begin() + static_cast<std::ptrdiff_t>(entries.size() / 2);
    SideBySide(
        entries.size() >= kWorthAThread, [&] { std::sort(entries.begin(), middle, byAccount); },
        [&] { std::sort(middle, entries.end(), byAccount); });
    std::inplace_merge(entries.begin(), middle, entries.end(), byAccount);
}

size_t LineBytes(const Entry& e) {
    size_t bytes = e.account.size() + 3;
    for (const auto& label : e.stratum) bytes += label.size() + 3;
    return bytes;
}

void AppendLines(std::string& csv, const std::vector<Entry>& entries, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        AppendField(csv, entries[i].account);
        for (const auto& label : entries[i].stratum) csv += ',', AppendField(csv, label);
        csv += '\n';
    }
}

std::string Hex(const unsigned char* bytes, size_t size) {
    std::string hex(2 * size + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes, size);
    hex.pop_back();
    return hex;
}

}  // namespace

std::optional<FrozenList> Freeze(std::vector<Entry> entries, std::vector<std::string> aspects, std::string& error) {
    if (!CanonicalAspects(aspects, error)) return std::nullopt;
    SortByAccount(entries);
    for (size_t i = 0; i < entries.size(); ++i) {
        if (!EntryFits(entries[i], aspects.size(), error)) return std::nullopt;
        if (i > 0 && entries[i - 1].account == entries[i].account)
            return error = "account \"" + entries[i].account + "\" is listed twice", std::nullopt;
    }
    // The first half's lines are hashed while the second half's are written: SHA-256 is the slower of the two.
    const size_t half = entries.size() / 2;
    size_t headBytes = 64 * (aspects.size() + 1), tailBytes = 0;
    for (size_t i = 0; i < entries.size(); ++i) (i < half ? headBytes : tailBytes) += LineBytes(entries[i]);
    FrozenList list;
    std::string& csv = list.csv;
    csv.reserve(headBytes + tailBytes);
    AppendField(csv, "account");
    for (const auto& a : aspects) csv += ',', AppendField(csv, a);
    csv += '\n';
    AppendLines(csv, entries, 0, half);
    EnsureSodium();
    crypto_hash_sha256_state sha;
    crypto_hash_sha256_init(&sha);
    std::string tail;
    SideBySide(
        entries.size() >= kWorthAThread,
        [&] { crypto_hash_sha256_update(&sha, reinterpret_cast<const unsigned char*>(csv.data()), csv.size()); },
        [&] {
            tail.reserve(tailBytes);
            AppendLines(tail, entries, half, entries.size());
        });
    crypto_hash_sha256_update(&sha, reinterpret_cast<const unsigned char*>(tail.data()), tail.size());
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&sha, digest);
    csv += tail;
    list.aspects = std::move(aspects);
    list.entries = std::move(entries);
    list.sha256 = Hex(digest, sizeof digest);
    return list;
}

namespace {

// The entries of a list as Freeze writes it, or false with the reason.
bool ReadEntries(std::string_view csv, FrozenList& list, std::string& error) {
    list.entries.reserve(static_cast<size_t>(std::count(csv.begin(), csv.end(), '\n')));
    std::vector<std::string> fields;
    size_t i = 0, line = 0;
    while (i < csv.size()) {
        ++line;
        fields.clear();
        for (;;) {
            if (csv[i] != '"') return error = "line " + std::to_string(line) + ": a field is not quoted", false;
            fields.emplace_back();
            if (!ReadField(csv, i, fields.back())) return error = "the file ends inside a field", false;
            if (i < csv.size() && csv[i] == ',' && i + 1 < csv.size()) {
                ++i;
                continue;
            }
            if (i >= csv.size() || csv[i] != '\n')
                return error = "line " + std::to_string(line) + ": a field must end in a comma or a line feed",
                       false;
            ++i;
            break;
        }
        if (line == 1) {
            if (fields[0] != "account") return error = "the first line must be the header \"account\",…", false;
            list.aspects.assign(std::make_move_iterator(fields.begin() + 1), std::make_move_iterator(fields.end()));
            if (!CanonicalAspects(list.aspects, error)) return false;
            continue;
        }
        if (fields.size() != list.aspects.size() + 1)
            return error = "line " + std::to_string(line) + " has " + std::to_string(fields.size()) + " fields, not " +
                           std::to_string(list.aspects.size() + 1),
                   false;
        if (!list.entries.empty() && !(list.entries.back().account < fields[0]))
            return error = "line " + std::to_string(line) + " is out of order (the list is sorted by account, each once)",
                   false;
        Entry e;
        e.account = std::move(fields[0]);
        e.stratum.assign(std::make_move_iterator(fields.begin() + 1), std::make_move_iterator(fields.end()));
        if (!EntryFits(e, list.aspects.size(), error)) return false;
        list.entries.push_back(std::move(e));
    }
    if (line == 0) return error = "the first line must be the header \"account\",…", false;
    return true;
}

}  // namespace

std::optional<FrozenList> ParseList(std::string_view csv, std::string& error) {
    // Every field quoted, quotes doubled, lines ending in a line feed, known aspects in order, accounts
    // ascending: what was read is byte for byte what Freeze writes of these entries (the draw_list fuzz target
    // holds it to that), so its hash is the publisher's without writing the list again, and can be taken
    // while the list is read.
    FrozenList list;
    bool read = false;
    SideBySide(
        csv.size() >= kWorthAThread, [&] { list.sha256 = Sha256Hex(csv); },
        [&] { read = ReadEntries(csv, list, error); });
    if (!read) return std::nullopt;
    list.csv.assign(csv.data(), csv.size());
    return list;
}

std::optional<std::string> CanonicalSeed(std::string_view seed) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!seed.empty() && blank(seed.front())) seed.remove_prefix(1);
    while (!seed.empty() && blank(seed.back())) seed.remove_suffix(1);
    if (seed.empty() || seed.size() > 1024) return std::nullopt;
    for (unsigned char c : seed)
        if (c < 0x20 || c == 0x7f) return std::nullopt;
    return std::string(seed);
}

std::vector<int64_t> LargestRemainder(int64_t total, const std::vector<int64_t>& sizes,
                                      const std::vector<std::string>& tieKeys) {
    std::vector<int64_t> quotas(sizes.size(), 0);
    __int128 all = 0;
    for (int64_t n : sizes) all += n;
    if (all == 0 || total <= 0) return quotas;
    std::vector<int64_t> remainder(sizes.size());
    int64_t left = total;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const __int128 share = static_cast<__int128>(total) * sizes[i];
        quotas[i] = static_cast<int64_t>(share / all);
        remainder[i] = static_cast<int64_t>(share % all);
        left -= quotas[i];
    }
    std::vector<size_t> order(sizes.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        if (remainder[a] != remainder[b]) return remainder[a] > remainder[b];
        if (tieKeys[a] != tieKeys[b]) return tieKeys[a] < tieKeys[b];
        return a < b;
    });
    // The remainders add up to left × all, each below all: the first `left` are never zero, so no stratum
    // gets more than it has.
    for (size_t k = 0; k < order.size() && left > 0; ++k, --left) ++quotas[order[k]];
    return quotas;
}

namespace {

struct Grouping {
    std::vector<Stratum> strata;             // sorted by labels
    std::vector<std::vector<size_t>> members;  // entry indexes, per stratum
};

Grouping Group(const FrozenList& list) {
    using Labels = const std::vector<std::string>*;
    const auto hash = [](Labels labels) {
        size_t h = labels->size();
        for (const auto& label : *labels) h = h * 1000003u ^ std::hash<std::string>()(label);
        return h;
    };
    const auto equal = [](Labels a, Labels b) { return *a == *b; };
    std::unordered_map<Labels, size_t, decltype(hash), decltype(equal)> index(64, hash, equal);
    std::vector<size_t> of(list.entries.size());
    for (size_t i = 0; i < list.entries.size(); ++i)
        of[i] = index.emplace(&list.entries[i].stratum, index.size()).first->second;
    // Stratum numbers in label order, so the result does not depend on which account came first.
    std::vector<std::pair<Labels, size_t>> sorted(index.begin(), index.end());
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return *a.first < *b.first; });
    std::vector<size_t> rank(index.size());
    Grouping g;
    for (const auto& [labels, first] : sorted) {
        rank[first] = g.strata.size();
        g.strata.push_back({*labels, 0, 0});
    }
    g.members.resize(g.strata.size());
    for (size_t i = 0; i < of.size(); ++i) {
        g.members[rank[of[i]]].push_back(i);
        ++g.strata[rank[of[i]]].eligible;
    }
    return g;
}

int64_t Need(const std::vector<Stratum>& strata, const Params& params) {
    if (params.strategy != Strategy::Coverage) return 0;
    int64_t need = 0;
    for (const auto& s : strata) need += std::min(params.minimum, s.eligible);
    return need;
}

}  // namespace

int64_t CoverageNeed(const FrozenList& list, const Params& params) { return Need(Group(list).strata, params); }

bool Fits(const FrozenList& list, const Params& params, std::string& error) {
    if (list.aspects != params.aspects) return error = "the list's aspects are not the parameters' aspects", false;
    if (params.strategy != Strategy::Coverage) return true;
    const int64_t need = CoverageNeed(list, params);
    const int64_t wave = std::min<int64_t>(params.size, list.entries.size());
    if (need > wave)
        return error = "coverage needs " + std::to_string(need) + " testers for its minimums, the wave has " +
                       std::to_string(wave),
               false;
    return true;
}

std::optional<Result> Run(const FrozenList& list, const Params& params, std::string_view seedText, std::string& error) {
    const auto seed = CanonicalSeed(seedText);
    if (!seed) return error = "a seed must not be empty nor hold control characters", std::nullopt;
    if (!Fits(list, params, error)) return std::nullopt;
    Grouping g = Group(list);
    const Hmac hmac(*seed);
    const int64_t wave = std::min<int64_t>(params.size, list.entries.size());
    std::vector<int64_t> sizes, floors;
    std::vector<std::string> ties;
    for (const auto& s : g.strata) {
        const int64_t floor = params.strategy == Strategy::Coverage ? std::min(params.minimum, s.eligible) : 0;
        floors.push_back(floor);
        sizes.push_back(s.eligible - floor);
        const Digest d = hmac(Join(s.labels));
        ties.emplace_back(reinterpret_cast<const char*>(d.data()), d.size());
    }
    const auto shares = LargestRemainder(wave - Need(g.strata, params), sizes, ties);
    // Every account of a stratum that takes some but not all is ranked: their HMACs side by side in one
    // array, stratum after stratum, half of it on each core.
    std::vector<std::pair<Digest, size_t>> ranked;
    std::vector<size_t> from(g.strata.size() + 1, 0);
    for (size_t s = 0; s < g.strata.size(); ++s) {
        auto& stratum = g.strata[s];
        stratum.quota = floors[s] + shares[s];
        const bool partial = stratum.quota < stratum.eligible && stratum.quota > 0;
        from[s + 1] = from[s] + (partial ? g.members[s].size() : 0);
    }
    ranked.resize(from.back());
    for (size_t s = 0; s < g.strata.size(); ++s)
        for (size_t k = from[s]; k < from[s + 1]; ++k) ranked[k].second = g.members[s][k - from[s]];
    const auto rank = [&](size_t begin, size_t end) {
        for (size_t k = begin; k < end; ++k) ranked[k].first = hmac(list.entries[ranked[k].second].account);
    };
    const size_t half = ranked.size() / 2;
    SideBySide(ranked.size() >= kWorthAThread, [&] { rank(0, half); }, [&] { rank(half, ranked.size()); });
    Result result;
    for (size_t s = 0; s < g.strata.size(); ++s) {
        const auto& stratum = g.strata[s];
        if (from[s + 1] > from[s]) {
            const auto first = ranked.begin() + static_cast<std::ptrdiff_t>(from[s]);
            const auto cut = first + stratum.quota;
            std::nth_element(first, cut - 1, ranked.begin() + static_cast<std::ptrdiff_t>(from[s + 1]));
            for (auto it = first; it != cut; ++it) result.chosen.push_back(list.entries[it->second].account);
        } else if (stratum.quota == stratum.eligible) {
            for (size_t i : g.members[s]) result.chosen.push_back(list.entries[i].account);
        }
    }
    std::sort(result.chosen.begin(), result.chosen.end());
    AppendField(result.csv, "account");
    result.csv += '\n';
    for (const auto& account : result.chosen) AppendField(result.csv, account), result.csv += '\n';
    result.sha256 = Sha256Hex(result.csv);
    result.strata = std::move(g.strata);
    return result;
}

std::string QuotedField(std::string_view field) {
    std::string out;
    AppendField(out, field);
    return out;
}

std::string Sha256Hex(std::string_view bytes) {
    EnsureSodium();
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return Hex(digest, sizeof digest);
}

std::string HmacSha256(std::string_view key, std::string_view message) {
    const Digest d = Hmac(key)(message);
    return std::string(reinterpret_cast<const char*>(d.data()), d.size());
}

namespace {
constexpr char kCodeAlphabet[] = "23456789ABCDEFGHJKMNPQRSTVWXYZ";
constexpr size_t kCodeGroups = 4, kCodeGroupLength = 4;
}  // namespace

std::vector<std::string> ActivationCodes(size_t count) {
    EnsureSodium();
    std::set<std::string> seen;
    std::vector<std::string> codes;
    codes.reserve(count);
    while (codes.size() < count) {
        std::string code;
        for (size_t g = 0; g < kCodeGroups; ++g) {
            if (g) code += '-';
            for (size_t c = 0; c < kCodeGroupLength; ++c)
                code += kCodeAlphabet[randombytes_uniform(sizeof kCodeAlphabet - 1)];
        }
        if (seen.insert(code).second) codes.push_back(std::move(code));
    }
    return codes;
}

bool IsActivationCode(std::string_view text) {
    if (text.size() != kCodeGroups * (kCodeGroupLength + 1) - 1) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool dash = (i + 1) % (kCodeGroupLength + 1) == 0;
        if (dash ? text[i] != '-' : std::strchr(kCodeAlphabet, text[i]) == nullptr || text[i] == '\0') return false;
    }
    return true;
}

}  // namespace Draw
