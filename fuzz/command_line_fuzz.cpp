// The command-line option table over any line: no read outside the line, names stored lower-cased, and
// options written plainly before arbitrary text are all found.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/command_line.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    CommandLineOptions options;
    FUZZ_CHECK(options.Parse(line) == !line.empty());
    for (const auto& [name, value] : options.options()) {
        for (char c : name) FUZZ_CHECK(!(c >= 'A' && c <= 'Z'));
        FUZZ_CHECK(name.find('\0') == std::string::npos && value.find('\0') == std::string::npos);
        FUZZ_CHECK(value.size() <= line.size());
    }
    // Options written plainly come through whatever follows them.
    CommandLineOptions more;
    more.Parse("prog.exe -DebugWindow -Key=value " + line);
    FUZZ_CHECK(more.Has("debugwindow") && more.Has("KEY"));
    if (line.find_first_of("=-/") == std::string::npos) FUZZ_CHECK(more.options().at("key") == "value");
    return 0;
}
