#include "service/pages/staff_pages.h"

#include "service/domain/session.h"
#include "service/domain/service_text.h"

namespace Service {

namespace {

using ServiceText::HtmlEscape;

std::string When(int64_t t) { return FormatUtc(t); }
std::string Day(int64_t t) { return FormatUtc(t, "%Y-%m-%d"); }

std::string Input(const char* label, const char* name, const std::string& value, const char* type = "text") {
    return std::string("<label>") + label + " <input type=\"" + type + "\" name=\"" + name + "\" value=\"" +
           HtmlEscape(value) + "\"></label> ";
}

std::string PostForm(const char* action, const std::string& csrf, const std::string& fields, const char* button) {
    return std::string("<form method=\"post\" action=\"") + action + "\" accept-charset=\"utf-8\">" + CsrfField(csrf) +
           fields + "<button type=\"submit\">" + button + "</button></form>";
}

std::string Hidden(const char* name, const std::string& value) {
    return std::string("<input type=\"hidden\" name=\"") + name + "\" value=\"" + HtmlEscape(value) + "\">";
}

}  // namespace

std::string CsrfField(const std::string& csrf) { return Hidden(Sessions::kCsrfField, csrf); }

std::string UrlEncode(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string LoginBody(const std::string& notice, const std::string& typedName) {
    std::string body = "<h1>员工登录</h1>";
    if (!notice.empty()) body += "<p class=\"card\" style=\"color:#b03a2e\">" + HtmlEscape(notice) + "</p>";
    return body +
           "<form method=\"post\" action=\"/login\" accept-charset=\"utf-8\">"
           "<p><label>用户名 <input name=\"name\" autocomplete=\"username\" required maxlength=\"32\" value=\"" +
           HtmlEscape(typedName) +
           "\"></label></p><p><label>密码 <input type=\"password\" name=\"password\" "
           "autocomplete=\"current-password\" required></label></p><button type=\"submit\">登录</button></form>"
           "<p class=\"note\">连续输错密码后需等待一段时间才能再次尝试。闲置 30 分钟或登录 12 小时后需重新登录。</p>";
}

std::string StaffBar(const Principal& who, const std::string& csrf) {
    std::string links = "<a href=\"/\">概况</a>";
    if (Permitted(who, Action::Search)) links += " · <a href=\"/search\">查找</a>";
    if (Permitted(who, Action::ViewSuspicious)) links += " · <a href=\"/suspicious\">可疑报名</a>";
    if (Permitted(who, Action::ViewAudit)) links += " · <a href=\"/audit\">审计日志</a>";
    if (Permitted(who, Action::ManageWaves)) links += " · <a href=\"/waves\">封测分批</a>";
    if (Permitted(who, Action::ManageStaff)) links += " · <a href=\"/staff\">员工</a>";
    return "<div class=\"note\" style=\"display:flex;gap:12px;align-items:center\"><span>" + HtmlEscape(who.name) + "（" +
           RoleLabel(who.role) + "）</span><span>" + links + "</span>" + PostForm("/logout", csrf, "", "退出") + "</div>";
}

std::string AuditQuery(const AuditFilter& f) {
    std::string q;
    const auto add = [&q](const char* name, const std::string& value) {
        if (!value.empty()) q += (q.empty() ? "" : "&") + std::string(name) + "=" + UrlEncode(value);
    };
    add("actor", f.actor);
    add("action", f.action ? AuditActionName(*f.action) : "");
    add("subject", f.subject);
    add("q", f.text);
    add("from", f.from ? Day(f.from) : "");
    add("until", f.until ? Day(f.until - 86400) : "");
    return q;
}

std::string AuditBody(const std::vector<AuditEntry>& entries, const AuditFilter& f) {
    std::string actions = "<option value=\"\">全部</option>";
    for (int i = 0; i < kAuditActionCount; ++i) {
        const auto a = static_cast<AuditAction>(i);
        actions += std::string("<option value=\"") + AuditActionName(a) + "\"" + (f.action == a ? " selected" : "") +
                   ">" + AuditActionLabel(a) + "</option>";
    }
    std::string body = "<h1>审计日志</h1><form method=\"get\" action=\"/audit\">" + Input("员工", "actor", f.actor) +
                       "<label>操作 <select name=\"action\">" + actions + "</select></label> " +
                       Input("对象", "subject", f.subject) + Input("包含", "q", f.text) +
                       Input("从", "from", f.from ? Day(f.from) : "", "date") +
                       Input("到", "until", f.until ? Day(f.until - 86400) : "", "date") +
                       "<button type=\"submit\">筛选</button></form>";
    const std::string query = AuditQuery(f);
    body += "<p><a href=\"/audit.csv" + (query.empty() ? "" : "?" + HtmlEscape(query)) + "\">导出 CSV</a></p>";
    body += "<table><tr><th>时间（UTC）</th><th>员工</th><th>地址</th><th>操作</th><th>对象</th><th>详情</th></tr>";
    for (const auto& e : entries)
        body += "<tr><td>" + When(e.at) + "</td><td>" + HtmlEscape(e.actor) + "</td><td>" + HtmlEscape(e.remote) +
                "</td><td>" + AuditActionLabel(e.action) + "</td><td>" + HtmlEscape(e.subject) + "</td><td>" +
                HtmlEscape(e.detail) + "</td></tr>";
    body += "</table>";
    if (entries.empty()) body += "<p class=\"note\">没有符合条件的记录。</p>";
    if (entries.size() >= kAuditPageSize)
        body += "<p><a href=\"/audit?" + HtmlEscape(query + (query.empty() ? "" : "&") + "before=" +
                                                     std::to_string(entries.back().id)) +
                "\">更早的记录</a></p>";
    return body;
}

std::string SuspiciousBody(const std::vector<Suspicion>& found, const std::vector<EnrolmentRow>& rows) {
    std::string body = "<h1>可疑报名</h1><p class=\"note\">这些信号只是提示，是否撤销由人判断。</p>";
    if (found.empty()) return body + "<p>目前没有可疑的报名。</p>";
    for (const auto& s : found) {
        body += std::string("<div class=\"panel\" style=\"margin-bottom:12px\"><h2>") + SignalLabel(s.kind) + "</h2><p>" +
                HtmlEscape(s.detail) + "</p><table><tr><th>报名时间（UTC）</th><th>账号</th><th>电脑</th><th>地址</th></tr>";
        for (size_t i : s.rows) {
            const EnrolmentRow& r = rows.at(i);
            body += "<tr><td>" + When(r.enrolledAt) + "</td><td><a href=\"/account?key=" + HtmlEscape(UrlEncode(r.accountKey)) +
                    "\">" + HtmlEscape(r.report.account.empty() ? r.accountKey : r.report.account) +
                    "</a></td><td><a href=\"/machine?key=" + HtmlEscape(UrlEncode(r.machineKey)) + "\">" +
                    HtmlEscape(r.report.mac.empty() ? r.machineKey : r.report.mac) + "</a> " +
                    HtmlEscape(r.report.computerName) + "</td><td>" + HtmlEscape(r.remote) + "</td></tr>";
        }
        body += "</table></div>";
    }
    return body;
}

std::string SearchBody(const std::string& typed, const std::vector<SearchHit>& hits) {
    std::string body = "<h1>查找</h1><form method=\"get\" action=\"/search\"><input name=\"q\" size=\"40\" value=\"" +
                       HtmlEscape(typed) +
                       "\" placeholder=\"账号、MAC 地址、电脑名或 IP 地址\" autofocus> <button type=\"submit\">查找</button></form>";
    if (typed.empty()) return body;
    if (hits.empty()) return body + "<p>没有找到相关的报告。</p>";
    body += "<table><tr><th>账号</th><th>电脑</th><th>电脑名</th><th>最近地址</th><th>最近报告（UTC）</th><th>报告数</th>"
            "<th>已报名</th></tr>";
    for (const auto& h : hits)
        body += "<tr><td><a href=\"/account?key=" + HtmlEscape(UrlEncode(h.accountKey)) + "\">" + HtmlEscape(h.account) +
                "</a></td><td><a href=\"/machine?key=" + HtmlEscape(UrlEncode(h.machineKey)) + "\">" +
                HtmlEscape(h.mac.empty() ? h.machineKey : h.mac) + "</a></td><td>" + HtmlEscape(h.computerName) +
                "</td><td>" + HtmlEscape(h.remote) + "</td><td>" + When(h.lastAt) + "</td><td>" +
                std::to_string(h.reports) + "</td><td>" + (h.enrolled ? "是" : "否") + "</td></tr>";
    return body + "</table>";
}

std::string SubjectBody(const SubjectPage& page) {
    const auto& a = page.attempts;
    std::string body = std::string("<h1>") + (page.machine ? "电脑 " : "账号 ") + HtmlEscape(page.key) + "</h1>";
    if (a.enrolment) {
        const auto& e = *a.enrolment;
        const auto& r = e.report;
        body += "<div class=\"panel\"><h2>报名</h2><p>" + When(e.enrolledAt) + "（UTC），地址 " + HtmlEscape(e.remote) +
                "，账号 <a href=\"/account?key=" + HtmlEscape(UrlEncode(e.accountKey)) + "\">" + HtmlEscape(r.account) +
                "</a>，电脑 <a href=\"/machine?key=" + HtmlEscape(UrlEncode(e.machineKey)) + "\">" +
                HtmlEscape(r.mac.empty() ? e.machineKey : r.mac) + "</a></p><p>" + HtmlEscape(r.os) + "；" +
                HtmlEscape(r.cpuName) + "，" + std::to_string(r.cpuCount) + " 核，" + std::to_string(r.clockMHz) +
                " MHz；内存 " + HtmlEscape(r.memoryMB) + " MB；" + HtmlEscape(r.displays) + "；" + HtmlEscape(r.resolution) +
                "；电脑名 " + HtmlEscape(r.computerName) + "</p>";
        if (!page.csrf.empty()) body += RevokeForm(page.csrf, e.accountKey);
        body += "</div>";
    } else {
        body += "<p>目前没有报名。</p>";
        if (!page.csrf.empty() && page.restorable && !page.machine) body += RestoreForm(page.csrf, page.key);
    }
    // A player may ask for their data to go whether or not the account stands enrolled.
    if (!page.csrf.empty() && !page.machine && !a.reports.empty())
        body += "<div class=\"panel\"><h2>删除个人数据</h2>" +
                EraseForm(page.csrf, page.key, a.reports.back().report.account) + "</div>";
    body += "<h2>全部报告（" + std::to_string(a.reports.size()) + "）</h2><table><tr><th>时间（UTC）</th><th>地址</th><th>结果</th>"
            "<th>账号</th><th>电脑</th><th>电脑名</th></tr>";
    for (const auto& r : a.reports)
        body += "<tr><td>" + When(r.receivedAt) + "</td><td>" + HtmlEscape(r.remote) + "</td><td>" + HtmlEscape(r.outcome) +
                "</td><td>" + HtmlEscape(r.report.account) + "</td><td>" + HtmlEscape(r.report.mac) + "</td><td>" +
                HtmlEscape(r.report.computerName) + "</td></tr>";
    body += "</table><h2>操作记录</h2><table><tr><th>时间（UTC）</th><th>员工</th><th>操作</th><th>详情</th></tr>";
    for (const auto& e : page.history)
        body += "<tr><td>" + When(e.at) + "</td><td>" + HtmlEscape(e.actor) + "</td><td>" + AuditActionLabel(e.action) +
                "</td><td>" + HtmlEscape(e.detail) + "</td></tr>";
    return body + "</table>";
}

std::string StaffBody(const std::vector<StaffRow>& staff, const std::string& self, const std::string& csrf,
                      const std::string& notice) {
    const auto roles = [](Role selected) {
        std::string options;
        for (const Role r : {Role::Viewer, Role::Support, Role::Admin})
            options += std::string("<option value=\"") + RoleName(r) + "\"" + (r == selected ? " selected" : "") + ">" +
                       RoleLabel(r) + "</option>";
        return "<select name=\"role\">" + options + "</select> ";
    };
    const char* const kPassword =
        "<input type=\"password\" name=\"password\" minlength=\"12\" required autocomplete=\"new-password\"> ";
    std::string body = "<h1>员工</h1>";
    if (!notice.empty()) body += "<p class=\"card\">" + HtmlEscape(notice) + "</p>";
    body += "<div class=\"panel\"><h2>添加员工</h2>" +
            PostForm("/staff/add", csrf,
                     "<label>用户名 <input name=\"name\" required maxlength=\"32\" autocomplete=\"off\"></label> <label>角色 " +
                         roles(Role::Viewer) + "</label><label>密码（至少 12 个字符） " + kPassword + "</label>",
                     "添加") +
            "</div><table><tr><th>用户名</th><th>角色</th><th>状态</th><th>创建时间（UTC）</th><th>操作</th></tr>";
    for (const auto& s : staff) {
        body += "<tr><td>" + HtmlEscape(s.name) + "</td><td>" + RoleLabel(s.role) + "</td><td>" +
                (s.disabled ? "已停用" : "正常") + "</td><td>" + When(s.createdAt) + "</td><td>";
        if (s.name != self) {
            const std::string who = Hidden("name", s.name);
            body += PostForm("/staff/role", csrf, who + roles(s.role), "更改角色") +
                    PostForm("/staff/passwd", csrf, who + "<label>新密码 " + kPassword + "</label>", "重设密码");
            if (!s.disabled) body += PostForm("/staff/disable", csrf, who, "停用");
        }
        body += "</td></tr>";
    }
    return body + "</table>";
}

std::string RevokeForm(const std::string& csrf, const std::string& accountKey) {
    return PostForm("/revoke", csrf,
                    Hidden("key", accountKey) +
                        "<label>撤销原因 <input name=\"reason\" required maxlength=\"500\"></label> ",
                    "撤销报名");
}

std::string RestoreForm(const std::string& csrf, const std::string& accountKey) {
    return PostForm("/restore", csrf, Hidden("key", accountKey), "恢复报名");
}

std::string EraseForm(const std::string& csrf, const std::string& accountKey, const std::string& accountName) {
    return PostForm("/erase", csrf,
                    Hidden("key", accountKey) + "<p>删除后无法恢复：报告原文、电脑名和地址将被清除。请输入账号名 <b>" +
                        HtmlEscape(accountName) +
                        "</b> 确认：</p><label>账号名 <input name=\"confirm\" required autocomplete=\"off\"></label> ",
                    "删除个人数据");
}

}  // namespace Service
