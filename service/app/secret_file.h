#pragma once
// Secrets read from a file rather than the command line, where every user of the machine sees them in ps.
#include <optional>
#include <string>

namespace Service {

// The file's text without trailing line breaks or blanks. Nothing, with the reason in error, when the file
// cannot be read, is empty, or can be read by every user of the machine.
std::optional<std::string> ReadSecretFile(const std::string& path, std::string& error);

}  // namespace Service
