#pragma once
// Who may do what. Three roles, each with everything of the one below it: a viewer sees the dashboard;
// support also looks players up and acts on their enrolments; an admin also manages staff and reads the
// audit log. The admin token of scripts is no role: it may only do what scripts need.
#include <optional>
#include <string>
#include <string_view>

namespace Service {

enum class Role { Viewer, Support, Admin };

enum class Action {
    ViewDashboard,
    Search,
    ViewAccount,
    ViewMachine,
    ViewSuspicious,
    Revoke,
    Restore,
    Erase,
    Export,
    ManageStaff,
    ViewAudit,
    ExportAudit,
    ViewMetrics,
    ManageWaves,  // create, freeze, seed, draw, publish and export the closed test's waves
};
constexpr int kActionCount = static_cast<int>(Action::ManageWaves) + 1;

// Whoever makes a request: a staff member signed in with a role, or a script with the admin token.
struct Principal {
    enum class Kind { Staff, Token } kind = Kind::Staff;
    std::string name;  // the staff name; kTokenActor for the token
    Role role = Role::Viewer;
};
// The names the audit log records for the admin token and for the command line on the server (no staff name
// can be either).
constexpr const char* kTokenActor = "token";
constexpr const char* kConsoleActor = "console";

bool Permitted(const Principal& who, Action action);
// The least role that may do it; nothing when no staff role may (none today, kept for the table's shape).
std::optional<Role> LeastRole(Action action);
bool TokenMay(Action action);

const char* RoleName(Role role);   // "viewer", "support", "admin": the command line and the database
const char* RoleLabel(Role role);  // for the pages
std::optional<Role> ParseRole(std::string_view name);
const char* ActionName(Action action);

// Staff names are what people type at the login and read in the audit log: 1 to 32 of a-z, 0-9, '.', '_',
// '-', starting with a letter or digit, upper case taken as lower; never one of the two actors above.
constexpr size_t kMaxStaffName = 32;
// The name as stored (lower case); nothing when it cannot be a staff name.
std::optional<std::string> StaffName(std::string_view typed);

}  // namespace Service
