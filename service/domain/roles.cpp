#include "service/domain/roles.h"

namespace Service {

namespace {

struct Rule {
    Action action;
    const char* name;
    std::optional<Role> least;
    bool token;
};

// One row per action, in the enum's order (checked at compile time below).
constexpr Rule kRules[] = {
    {Action::ViewDashboard, "view_dashboard", Role::Viewer, true},
    {Action::Search, "search", Role::Support, false},
    {Action::ViewAccount, "view_account", Role::Support, false},
    {Action::ViewMachine, "view_machine", Role::Support, false},
    {Action::ViewSuspicious, "view_suspicious", Role::Support, false},
    {Action::Revoke, "revoke", Role::Support, false},
    {Action::Restore, "restore", Role::Support, false},
    {Action::Erase, "erase", Role::Support, false},
    {Action::Export, "export", Role::Support, true},
    {Action::ManageStaff, "manage_staff", Role::Admin, false},
    {Action::ViewAudit, "view_audit", Role::Admin, false},
    {Action::ExportAudit, "export_audit", Role::Admin, false},
    {Action::ViewMetrics, "view_metrics", Role::Admin, true},
    {Action::ManageWaves, "manage_waves", Role::Admin, true},
};
static_assert(sizeof kRules / sizeof kRules[0] == kActionCount, "one rule per action");

constexpr bool InOrder() {
    for (int i = 0; i < kActionCount; ++i)
        if (static_cast<int>(kRules[i].action) != i) return false;
    return true;
}
static_assert(InOrder(), "the rules follow the enum's order");

const Rule& RuleOf(Action action) { return kRules[static_cast<int>(action)]; }

}  // namespace

bool Permitted(const Principal& who, Action action) {
    const Rule& rule = RuleOf(action);
    if (who.kind == Principal::Kind::Token) return rule.token;
    return rule.least && static_cast<int>(who.role) >= static_cast<int>(*rule.least);
}

std::optional<Role> LeastRole(Action action) { return RuleOf(action).least; }
bool TokenMay(Action action) { return RuleOf(action).token; }
const char* ActionName(Action action) { return RuleOf(action).name; }

const char* RoleName(Role role) {
    switch (role) {
        case Role::Viewer: return "viewer";
        case Role::Support: return "support";
        case Role::Admin: return "admin";
    }
    return "viewer";
}

const char* RoleLabel(Role role) {
    switch (role) {
        case Role::Viewer: return "只读";
        case Role::Support: return "客服";
        case Role::Admin: return "管理员";
    }
    return "只读";
}

std::optional<Role> ParseRole(std::string_view name) {
    for (Role role : {Role::Viewer, Role::Support, Role::Admin})
        if (name == RoleName(role)) return role;
    return std::nullopt;
}

std::optional<std::string> StaffName(std::string_view typed) {
    if (typed.empty() || typed.size() > kMaxStaffName) return std::nullopt;
    std::string name;
    for (char c : typed) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alnum && (name.empty() || (c != '.' && c != '_' && c != '-'))) return std::nullopt;
        name += c;
    }
    if (name == kTokenActor || name == kConsoleActor) return std::nullopt;
    return name;
}

}  // namespace Service
