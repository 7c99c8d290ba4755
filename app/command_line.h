#pragma once
// The command-line option table: option names (lower-cased) to values, as the program was started with.
#include <map>
#include <string>
#include <string_view>

class CommandLineOptions {
public:
    // Scans the whole command line, program path included. False (nothing stored) for an empty line.
    bool Parse(std::string_view commandLine);
    bool Has(std::string_view name) const;
    void SetValue(std::string_view name, std::string_view value);
    void SetFlag(std::string_view name);

    const std::map<std::string, std::string>& options() const { return m_options; }

private:
    std::map<std::string, std::string> m_options;
};

// Gives the process somewhere to show its survey log when it was started with DebugWindow. Windows only.
void OpenDebugConsole(const CommandLineOptions& options);
