#pragma once
// `report-service draw verify`: anyone's check of a published wave, from the published files alone.
#include <ostream>
#include <string>
#include <vector>

namespace Service {

// args: the words after the program's name, the first being "draw". The chosen accounts go to out as the
// result list is published; what was checked (hashes, quotas, verdict) and errors go to err. Returns the exit
// status: 0 done (and matching, with --result), 1 a published result that differs, 2 a wrong call or file.
int DrawCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace Service
