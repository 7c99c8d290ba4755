#pragma once
// Which names registration takes: exactly those some player's checker can send. A checker on a UTF-8
// Windows (code page 65001) carries every character, and one on any other code page carries that code
// page's characters, so what no checker sends is a name its box cannot hold or the check refuses: control
// characters, private-use characters (text/charset.h), and more than the box's 64 UTF-16 code units.
#include <string>

namespace Service {

// Why a name (UTF-8, trimmed) cannot be registered, naming the character refused; empty when it can.
std::string RegistrationProblem(const std::string& name);

}  // namespace Service
