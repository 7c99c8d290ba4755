#include "service/domain/audit.h"

#include <ctime>

namespace Service {

namespace {

struct ActionText {
    AuditAction action;
    const char* name;
    const char* label;
};

constexpr ActionText kActions[] = {
    {AuditAction::Login, "login", "登录"},
    {AuditAction::LoginFailed, "login_failed", "登录失败"},
    {AuditAction::Logout, "logout", "退出"},
    {AuditAction::Search, "search", "搜索"},
    {AuditAction::ViewAccount, "view_account", "查看账号"},
    {AuditAction::ViewMachine, "view_machine", "查看电脑"},
    {AuditAction::ViewSuspicious, "view_suspicious", "查看可疑报名"},
    {AuditAction::Revoke, "revoke", "撤销报名"},
    {AuditAction::Restore, "restore", "恢复报名"},
    {AuditAction::Erase, "erase", "删除个人数据"},
    {AuditAction::Export, "export", "导出报告"},
    {AuditAction::StaffAdd, "staff_add", "添加员工"},
    {AuditAction::StaffPasswd, "staff_passwd", "修改员工密码"},
    {AuditAction::StaffDisable, "staff_disable", "停用员工"},
    {AuditAction::ViewAudit, "view_audit", "查看审计日志"},
    {AuditAction::ExportAudit, "export_audit", "导出审计日志"},
    {AuditAction::WaveCreate, "wave_create", "新建批次"},
    {AuditAction::WaveFreeze, "wave_freeze", "冻结名单"},
    {AuditAction::WaveSeed, "wave_seed", "录入种子"},
    {AuditAction::WaveDraw, "wave_draw", "抽取"},
    {AuditAction::WavePublish, "wave_publish", "公布结果"},
    {AuditAction::WaveExport, "wave_export", "导出激活码"},
    {AuditAction::StaffRole, "staff_role", "更改员工角色"},
    {AuditAction::ViewStaff, "view_staff", "查看员工"},
};
static_assert(sizeof kActions / sizeof kActions[0] == kAuditActionCount, "one text per action");

constexpr bool InOrder() {
    for (int i = 0; i < kAuditActionCount; ++i)
        if (static_cast<int>(kActions[i].action) != i) return false;
    return true;
}
static_assert(InOrder(), "the texts follow the enum's order");

// Length of the well-formed UTF-8 character at the start of text (1 to 4), or 0 when there is none.
size_t CharLength(std::string_view text) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto cont = [&](size_t i) { return i < text.size() && (b(i) & 0xC0) == 0x80; };
    const unsigned char c = b(0);
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2)) return 0;
        if (c == 0xE0 && b(1) < 0xA0) return 0;   // overlong
        if (c == 0xED && b(1) >= 0xA0) return 0;  // surrogates
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) return 0;
        if (c == 0xF0 && b(1) < 0x90) return 0;   // overlong
        if (c == 0xF4 && b(1) >= 0x90) return 0;  // past U+10FFFF
        return 4;
    }
    return 0;
}

bool Contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

}  // namespace

std::string CleanUtf8(std::string_view text, size_t max) {
    static const std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        size_t n = CharLength(text.substr(i));
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::string_view piece = text.substr(i, n);
        if (n == 0 || (n == 1 && ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7f))) {
            piece = kReplacement;
            n = n == 0 ? 1 : n;
        }
        if (out.size() + piece.size() > max) break;
        out += piece;
        i += n;
    }
    return out;
}

const char* AuditActionName(AuditAction action) { return kActions[static_cast<int>(action)].name; }
const char* AuditActionLabel(AuditAction action) { return kActions[static_cast<int>(action)].label; }

std::optional<AuditAction> ParseAuditAction(std::string_view name) {
    for (const auto& a : kActions)
        if (name == a.name) return a.action;
    return std::nullopt;
}

AuditEntry MakeAuditEntry(int64_t at, std::string_view actor, std::string_view remote, AuditAction action,
                          std::string_view subject, std::string_view detail) {
    AuditEntry entry;
    entry.at = at;
    entry.actor = CleanUtf8(actor, kMaxAuditSubject);
    entry.remote = CleanUtf8(remote, kMaxAuditSubject);
    entry.action = action;
    entry.subject = CleanUtf8(subject, kMaxAuditSubject);
    entry.detail = CleanUtf8(detail, kMaxAuditDetail);
    return entry;
}

bool Matches(const AuditFilter& filter, const AuditEntry& entry) {
    if (!filter.actor.empty() && entry.actor != filter.actor) return false;
    if (filter.action && entry.action != *filter.action) return false;
    if (!filter.subject.empty() && entry.subject != filter.subject) return false;
    if (!filter.text.empty() && !Contains(entry.subject, filter.text) && !Contains(entry.detail, filter.text))
        return false;
    if (filter.from && entry.at < filter.from) return false;
    if (filter.until && entry.at >= filter.until) return false;
    if (filter.beforeId && entry.id >= filter.beforeId) return false;
    return true;
}

std::string FormatUtc(int64_t unixSeconds, const char* format) {
    const time_t t = static_cast<time_t>(unixSeconds);
    struct tm tm {};
    gmtime_r(&t, &tm);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &tm));
}

std::optional<int64_t> ParseUtcDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    int64_t parts[3] = {};
    const size_t starts[3] = {0, 5, 8}, lengths[3] = {4, 2, 2};
    for (int p = 0; p < 3; ++p)
        for (size_t i = starts[p]; i < starts[p] + lengths[p]; ++i) {
            if (text[i] < '0' || text[i] > '9') return std::nullopt;
            parts[p] = parts[p] * 10 + (text[i] - '0');
        }
    const int64_t y = parts[0], m = parts[1], d = parts[2];
    if (y < 1970 || m < 1 || m > 12 || d < 1) return std::nullopt;
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (d > kDays[m - 1] + (m == 2 && leap ? 1 : 0)) return std::nullopt;
    // Days from the civil date (the proleptic Gregorian calendar), counted from 1970-01-01.
    const int64_t yy = m <= 2 ? y - 1 : y;
    const int64_t era = yy / 400;
    const int64_t yoe = yy - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return (era * 146097 + doe - 719468) * 86400;
}

std::optional<AuditFilter> ParseAuditFilter(const std::vector<std::pair<std::string, std::string>>& query,
                                            std::string& problem) {
    AuditFilter filter;
    for (const auto& [name, value] : query) {
        if (value.empty()) continue;
        if (name == "actor") {
            filter.actor = value;
        } else if (name == "action") {
            filter.action = ParseAuditAction(value);
            if (!filter.action) {
                problem = "未知的操作类型";
                return std::nullopt;
            }
        } else if (name == "subject") {
            filter.subject = value;
        } else if (name == "q") {
            filter.text = value;
        } else if (name == "from" || name == "until") {
            const auto day = ParseUtcDate(value);
            if (!day) {
                problem = "日期应写作 YYYY-MM-DD";
                return std::nullopt;
            }
            (name == "from" ? filter.from : filter.until) = name == "from" ? *day : *day + 86400;
        } else if (name == "before") {
            if (value.size() > 18 || value.find_first_not_of("0123456789") != std::string::npos) {
                problem = "页码无效";
                return std::nullopt;
            }
            filter.beforeId = std::stoll(value);
        }
    }
    if (filter.from && filter.until && filter.until <= filter.from) {
        problem = "结束日期早于开始日期";
        return std::nullopt;
    }
    return filter;
}

}  // namespace Service
