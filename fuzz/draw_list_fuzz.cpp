// The draw's published forms over any input: a list the reader accepts is exactly its canonical bytes (so
// its hash is its publisher's), any accounts and labels written out read back unchanged, and parameters
// that parse give the same canonical text again.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "fuzz_check.h"
#include "service/domain/draw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    if (const auto list = Draw::ParseList(text, error)) {
        FUZZ_CHECK(list->csv == text);
        FUZZ_CHECK(list->sha256 == Draw::Sha256Hex(text));
        // The reader keeps the bytes it was given: they must be what the writer makes of what it read.
        const auto written = Draw::Freeze(list->entries, list->aspects, error);
        FUZZ_CHECK(written && written->csv == text);
    }
    if (const auto params = Draw::ParseParams(text, error)) {
        const auto again = Draw::ParseParams(Draw::ToText(*params), error);
        FUZZ_CHECK(again && Draw::ToText(*again) == Draw::ToText(*params));
    }

    // Fields split at 0x1F: the first byte chooses how many aspects, then entries of that many labels.
    if (size == 0) return 0;
    const auto& names = Draw::AspectNames();
    const std::vector<std::string> aspects(names.begin(), names.begin() + data[0] % 3);
    std::vector<std::string> fields;
    size_t start = 1;
    for (size_t i = 1; i <= size; ++i)
        if (i == size || data[i] == 0x1F) fields.push_back(text.substr(start, i - start)), start = i + 1;
    std::vector<Draw::Entry> entries;
    std::set<std::string> accounts;
    for (size_t i = 0; i + aspects.size() < fields.size(); i += aspects.size() + 1) {
        if (fields[i].empty() || !accounts.insert(fields[i]).second) continue;
        entries.push_back({fields[i], std::vector<std::string>(fields.begin() + i + 1, fields.begin() + i + 1 + aspects.size())});
    }
    const auto frozen = Draw::Freeze(entries, aspects, error);
    FUZZ_CHECK(frozen);
    const auto read = Draw::ParseList(frozen->csv, error);
    FUZZ_CHECK(read && read->entries.size() == entries.size() && read->aspects == aspects);
    for (size_t i = 0; i < read->entries.size(); ++i) {
        FUZZ_CHECK(read->entries[i].account == frozen->entries[i].account);
        FUZZ_CHECK(read->entries[i].stratum == frozen->entries[i].stratum);
    }
    return 0;
}
