#pragma once
// report-service staff add|passwd|disable|list: the staff accounts, managed on the server's command line
// against the same --db as the service. A password never comes from the command line, where every user of
// the machine sees it in the process list: it is typed at the terminal (without echo, twice) or read as
// one line of standard input (--password-stdin, for scripts).
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "service/domain/roles.h"
#include "service/storage/staff_store.h"

namespace Service {

struct StaffCommand {
    enum class Verb { Add, Passwd, Disable, List } verb = Verb::List;
    std::string name;  // as stored (lower case); empty for list
    Role role = Role::Viewer;  // add only
    bool passwordFromStdin = false;
    std::string db = "var/reports.db";
};

extern const char* const kStaffUsage;

// args: what follows "staff". Nothing, with the reason in error, when they are not a command.
std::optional<StaffCommand> ParseStaffCommand(const std::vector<std::string>& args, std::string& error);

// One line of the descriptor's input, without its line ending (CR LF too). Nothing, with the reason, at end of
// input before any line, for a line longer than the longest password, or on a read error.
std::optional<std::string> ReadPasswordLine(int fd, std::string& error);
// Asks on the terminal (prompt written to the same descriptor) with its echo off, twice when confirm is set;
// the echo is back on however it ends, Ctrl-C included. Nothing, with the reason, when the descriptor is no
// terminal or the two entries differ.
std::optional<std::string> ReadPasswordFromTerminal(int ttyFd, bool confirm, std::string& error);

// Gives the new password (confirm: ask twice), or nothing with the reason.
using PasswordSource = std::function<std::optional<std::string>(bool confirm, std::string& error)>;

// Carries the command out on the store, each change with its audit entry (actor "console"; who stands
// behind it, the system user, in the detail). Results for the operator go to out, problems to err; the
// exit code: 0 done, 1 refused or failed.
int RunStaffCommand(const StaffCommand& command, StaffStore& store, const PasswordSource& password,
                    const std::string& systemUser, int64_t now, std::ostream& out, std::ostream& err);

// report-service staff …: args are what follows "staff"; returns the exit code (2: not a command).
int StaffMain(const std::vector<std::string>& args);

}  // namespace Service
