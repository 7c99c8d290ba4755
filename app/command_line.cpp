#include "app/command_line.h"

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

enum class State { Between, Prefix, Name, Equals, Value };

}  // namespace

bool CommandLineOptions::Parse(std::string_view commandLine) {
    if (commandLine.empty()) return false;
    // The terminating NUL is scanned like any other character: it closes an open name or value. A line
    // handed over with embedded NULs ends at the first one, as the C string it stands for would.
    std::string text(commandLine.substr(0, commandLine.find('\0')));
    text.push_back('\0');

    State state = State::Between;
    bool quoted = false;
    size_t nameStart = 0, valueStart = 0;
    std::string name;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (state) {
        case State::Between:
            if (c == '"') quoted = !quoted;
            else if ((c == '-' || c == '/') && !quoted) state = State::Prefix;
            break;
        case State::Prefix:
            nameStart = i;
            state = State::Name;
            break;
        case State::Name:
            if (c == ' ' || c == '\0') {
                SetFlag(std::string_view(text).substr(nameStart, i - nameStart));
                state = State::Between;
            } else if (c == '=') {
                name = text.substr(nameStart, i - nameStart);
                state = State::Equals;
            }
            break;
        case State::Equals:
            if (c == '"') {
                quoted = true;
                // The character after the opening quote belongs to the value unexamined, so `-a=""` holds
                // one double quote.
                valueStart = i + 1;
                ++i;
                state = State::Value;
            } else if (c == ' ' || c == '\0') {
                SetValue(name, "");
                state = State::Between;
            } else {
                valueStart = i;
                state = State::Value;
            }
            break;
        case State::Value:
            if ((c == ' ' && !quoted) || c == '\0' || (c == '"' && quoted)) {
                SetValue(name, std::string_view(text).substr(valueStart, i - valueStart));
                quoted = false;
                state = State::Between;
            }
            break;
        }
    }
    return true;
}

bool CommandLineOptions::Has(std::string_view name) const { return m_options.count(Lower(name)) != 0; }

void CommandLineOptions::SetValue(std::string_view name, std::string_view value) {
    m_options[Lower(name)] = std::string(value);
}

void CommandLineOptions::SetFlag(std::string_view name) { m_options[Lower(name)] = "1"; }
