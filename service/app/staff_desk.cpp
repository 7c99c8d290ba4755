#include "service/app/staff_desk.h"

#include "service/domain/credentials.h"
#include "service/domain/service_text.h"
#include "service/domain/session.h"
#include "service/domain/support.h"
#include "service/http/form.h"
#include "service/pages/audit_csv.h"
#include "service/pages/pages.h"
#include "service/pages/staff_pages.h"

namespace Service {

namespace {

HttpResponse Html(int status, const std::string& title, const std::string& body) {
    HttpResponse r;
    r.status = status;
    r.contentType = "text/html; charset=utf-8";
    r.body = RenderStaffPage(title, body);
    r.headers.emplace("Cache-Control", "no-store");
    SecureHtml(r);
    return r;
}

HttpResponse Plain(int status, const std::string& text) {
    HttpResponse r;
    r.status = status;
    r.contentType = "text/plain; charset=utf-8";
    r.body = text;
    r.headers.emplace("Cache-Control", "no-store");
    return r;
}

HttpResponse SeeOther(const std::string& where) {
    HttpResponse r = Plain(303, "");
    r.headers.emplace("Location", where);
    return r;
}

std::string Query(const HttpRequest& request, const char* name) {
    const auto it = request.query.find(name);
    return it == request.query.end() ? std::string() : it->second;
}

std::vector<std::pair<std::string, std::string>> QueryPairs(const HttpRequest& request) {
    return {request.query.begin(), request.query.end()};
}

std::string SessionToken(const HttpRequest& request) {
    return Http::CookieValue(Http::Header(request, "cookie"), Sessions::kCookieName);
}

}  // namespace

StaffDesk::StaffDesk(std::unique_ptr<StaffStore> store, std::unique_ptr<Storage> enrolments, Clock clock)
    : m_store(std::move(store)), m_enrolments(std::move(enrolments)), m_clock(std::move(clock)),
      m_access(*m_store, m_clock) {}

HttpResponse StaffDesk::ChangeEnrolment(const HttpRequest& request, const SignedIn& who) {
    const std::string& path = request.path;
    const bool revoke = path == "/revoke", restore = path == "/restore";
    const Action action = revoke ? Action::Revoke : restore ? Action::Restore : Action::Erase;
    const std::string bar = StaffBar(who.who, who.csrf);
    if (!Permitted(who.who, action))
        return Html(403, "没有权限", bar + "<p>您的角色不能修改报名。</p>");
    const std::string key = Http::FormValue(request.body, "key");
    const std::string back = "/account?key=" + UrlEncode(key);
    const auto notice = [&](int status, const std::string& text) {
        return Html(status, "账号", bar + "<p>" + text + "</p><p><a href=\"" + ServiceText::HtmlEscape(back) +
                                        "\">返回账号页</a></p>");
    };
    if (key.empty()) return notice(400, "没有指定账号。");
    if (!m_enrolments) return Plain(503, "database unavailable\n");
    std::string detail;
    if (revoke) {
        detail = RevokeReason(Http::FormValue(request.body, "reason"));
        if (detail.empty()) return notice(400, "撤销报名必须填写原因。");
    } else if (!restore && !ErasureConfirmed(Http::FormValue(request.body, "confirm"), key)) {
        return notice(400, "输入的账号名与此账号不符，没有删除任何数据。");
    }
    const AuditEntry entry = MakeAuditEntry(m_clock(), who.who.name, request.remote,
                                            revoke ? AuditAction::Revoke : restore ? AuditAction::Restore : AuditAction::Erase,
                                            key, detail);
    const EnrolmentChange change = revoke    ? m_enrolments->Revoke(key, entry)
                                   : restore ? m_enrolments->Restore(key, entry)
                                             : m_enrolments->Erase(key, entry);
    switch (change) {
    case EnrolmentChange::Done: return SeeOther(back);
    case EnrolmentChange::Missing:
        return notice(409, revoke ? "此账号目前没有报名。" : restore ? "此账号没有被撤销的报名。" : "此账号没有任何数据。");
    case EnrolmentChange::AccountTaken: return notice(409, "此账号在撤销后已重新报名，不能恢复。");
    case EnrolmentChange::MachineTaken: return notice(409, "这台电脑在撤销后已被其他账号报名，不能恢复。");
    case EnrolmentChange::Failed: break;
    }
    return Plain(503, "database unavailable: " + m_enrolments->LastError() + "\n");
}

HttpResponse StaffDesk::ManageStaff(const HttpRequest& request, const SignedIn& who) {
    const std::string bar = StaffBar(who.who, who.csrf);
    if (!Permitted(who.who, Action::ManageStaff)) return Html(403, "没有权限", bar + "<p>您的角色不能打开此页。</p>");
    const std::string& path = request.path;
    std::string notice;
    int status = 200;
    if (request.method == "POST") {
        const auto name = StaffName(Http::FormValue(request.body, "name"));
        const std::string password = Http::FormValue(request.body, "password");
        const auto role = ParseRole(Http::FormValue(request.body, "role"));
        const int64_t now = m_clock();
        StaffWrite result = StaffWrite::Failed;
        status = 400;
        if (!name) {
            notice = "用户名只能由 1 到 32 个小写字母、数字、“.”、“_”、“-”组成。";
        } else if (*name == who.who.name) {
            // The last admin must not lock the door behind them; another admin can do it.
            notice = "不能在这里更改自己的账号。";
        } else if (path == "/staff/disable") {
            result = m_store->Disable(*name, MakeAuditEntry(now, who.who.name, request.remote, AuditAction::StaffDisable, *name));
        } else if (path == "/staff/role") {
            if (!role) notice = "没有这个角色。";
            else result = m_store->SetRole(*name, *role, MakeAuditEntry(now, who.who.name, request.remote,
                                                                         AuditAction::StaffRole, *name, RoleName(*role)));
        } else if (!Credentials::PasswordProblem(password).empty()) {
            notice = "密码至少要有 12 个字符。";
        } else if (path == "/staff/add" && !role) {
            notice = "没有这个角色。";
        } else if (const auto hash = Credentials::HashPassword(password); !hash) {
            return Plain(503, "cannot hash the password\n");
        } else if (path == "/staff/add") {
            StaffAccount account{*name, *role, *hash, false, now};
            result = m_store->AddStaff(account, MakeAuditEntry(now, who.who.name, request.remote, AuditAction::StaffAdd,
                                                               *name, std::string("role ") + RoleName(*role)));
        } else {
            result = m_store->SetPassword(*name, *hash,
                                          MakeAuditEntry(now, who.who.name, request.remote, AuditAction::StaffPasswd, *name));
        }
        if (notice.empty()) {
            switch (result) {
            case StaffWrite::Done: status = 200, notice = "已保存：" + *name; break;
            case StaffWrite::Exists: status = 409, notice = "已有这个用户名。"; break;
            case StaffWrite::Missing: status = 404, notice = "没有这个员工。"; break;
            case StaffWrite::Failed: return Plain(503, "database unavailable\n");
            }
        }
    } else {
        m_access.Record(who.who, request.remote, AuditAction::ViewStaff);
    }
    const auto all = m_store->ListStaff();
    if (!all) return Plain(503, "database unavailable\n");
    std::vector<StaffRow> rows;
    for (const auto& a : *all) rows.push_back({a.name, a.role, a.disabled, a.createdAt});
    return Html(status, "员工", bar + StaffBody(rows, who.who.name, who.csrf, notice));
}

bool StaffDesk::MayViewDashboard(const HttpRequest& request) {
    std::lock_guard<std::mutex> lock(m_storeMutex);
    const auto who = m_access.Authenticate(SessionToken(request));
    return who && Permitted(who->who, Action::ViewDashboard);
}

void StaffDesk::TokenExported(const HttpRequest& request) {
    const std::string remote = request.remote;
    const auto record = [this, remote] {
        std::lock_guard<std::mutex> lock(m_storeMutex);
        m_access.Record({Principal::Kind::Token, kTokenActor, Role::Viewer}, remote, AuditAction::Export, {},
                        "reports.csv");
    };
    if (!m_run || !m_run(record)) record();
}

std::optional<SignedIn> StaffDesk::Member(const HttpRequest& request) {
    std::lock_guard<std::mutex> lock(m_storeMutex);
    return m_access.Authenticate(SessionToken(request));
}

bool StaffDesk::Audit(const AuditEntry& entry) {
    std::lock_guard<std::mutex> lock(m_storeMutex);
    return m_store->Append(entry);
}

bool StaffDesk::Route(const HttpRequest& request, Reply& reply) {
    static const char* const kPaths[] = {"/login", "/logout", "/audit", "/audit.csv", "/search", "/account",
                                         "/machine", "/suspicious", "/revoke", "/restore", "/erase", "/staff",
                                         "/staff/add", "/staff/role", "/staff/passwd", "/staff/disable",
                                         "/healthz", "/readyz", "/metrics"};
    bool ours = false;
    for (const char* p : kPaths) ours = ours || request.path == p;
    if (!ours) return false;
    if (request.path == "/healthz") {
        reply(Plain(200, "ok\n"));
        return true;
    }
    auto shared = std::make_shared<Reply>(std::move(reply));
    if (!m_run || !m_run([this, request, shared] { Serve(request, *shared); })) (*shared)(Plain(503, "busy\n"));
    return true;
}

void StaffDesk::Serve(const HttpRequest& request, const Reply& reply) {
    std::lock_guard<std::mutex> lock(m_storeMutex);
    const std::string& path = request.path;
    if (path == "/metrics") {
        // Through a proxy every peer is local: a request naming a client is not.
        const bool forwarded = request.headers.count("x-real-ip") || request.headers.count("x-forwarded-for") ||
                               request.headers.count("forwarded");
        const std::string auth = Http::Header(request, "authorization");
        const bool token = !m_metricsToken.empty() && auth.rfind("Bearer ", 0) == 0 &&
                           Credentials::SameSecret(auth.substr(7), m_metricsToken);
        if (!MayScrape(request.remote, forwarded, token)) return reply(Plain(403, "forbidden\n"));
        const auto counts = m_store->OutcomeCounts();
        m_metrics.databaseUp.Set(counts ? 1 : 0);
        if (counts)
            for (const auto& [outcome, n] : *counts) {
                auto& counter = outcome == "malformed" ? m_metrics.malformed : m_metrics.reports.With({outcome});
                counter.Inc(static_cast<double>(n) - counter.Value());
            }
        HttpResponse r = Plain(200, m_metrics.registry.Render());
        r.contentType = Metrics::kContentType;
        return reply(std::move(r));
    }
    if (path == "/readyz") {
        // Unready while reports would get 503: the writer's database gone or below its free-space floor.
        if (const std::string why = m_unready ? m_unready() : std::string(); !why.empty())
            return reply(Plain(503, "database: " + why + "\n"));
        // Both of the desk's connections answer too: the staff tables, and the reports' database it reads.
        if (!m_store->FindStaff("-").has_value())
            return reply(Plain(503, "database: " + m_store->LastError() + "\n"));
        if (m_enrolments && !m_enrolments->Healthy())
            return reply(Plain(503, "database: " + m_enrolments->LastError() + "\n"));
        return reply(Plain(200, "ready\n"));
    }
    const std::string token = SessionToken(request);
    if (path == "/login") {
        if (request.method != "POST") return reply(Html(200, "员工登录", LoginBody("", "")));
        const auto origin = request.headers.find("origin");
        if (!Sessions::PostedFromHere(origin == request.headers.end() ? "" : origin->second,
                                      Http::Header(request, "host"), origin != request.headers.end()))
            return reply(Html(403, "员工登录", LoginBody("请从本站的登录页登录。", "")));
        const std::string name = Http::FormValue(request.body, "name");
        const auto result = m_access.Login(name, Http::FormValue(request.body, "password"), request.remote, token);
        switch (result.kind) {
        case LoginResult::Kind::SignedIn: {
            HttpResponse r = SeeOther("/");
            r.headers.emplace("Set-Cookie", result.setCookie);
            return reply(std::move(r));
        }
        case LoginResult::Kind::Refused: return reply(Html(401, "员工登录", LoginBody("用户名或密码错误。", name)));
        case LoginResult::Kind::Wait:
            return reply(Html(429, "员工登录",
                              LoginBody("尝试次数过多，请 " + std::to_string(result.waitSeconds) + " 秒后再试。", name)));
        case LoginResult::Kind::Failed: return reply(Plain(503, "database unavailable\n"));
        }
    }
    const auto who = m_access.Authenticate(token);
    if (!who) return reply(SeeOther("/login"));
    if (request.method == "POST") {
        if (!Sessions::CsrfValid(token, Http::FormValue(request.body, Sessions::kCsrfField)))
            return reply(Plain(403, "forbidden: the form's token does not match the session\n"));
        if (path == "/logout") {
            m_access.Logout(token, request.remote);
            HttpResponse r = SeeOther("/login");
            r.headers.emplace("Set-Cookie", Sessions::ClearedCookie());
            return reply(std::move(r));
        }
        if (path == "/revoke" || path == "/restore" || path == "/erase") return reply(ChangeEnrolment(request, *who));
        if (path.rfind("/staff/", 0) == 0) return reply(ManageStaff(request, *who));
        return reply(Plain(405, "method not allowed\n"));
    }
    const auto refuse = [&] { reply(Html(403, "没有权限", StaffBar(who->who, who->csrf) + "<p>您的角色不能打开此页。</p>")); };
    const std::string bar = StaffBar(who->who, who->csrf);
    if (path == "/audit" || path == "/audit.csv") {
        const bool csv = path == "/audit.csv";
        if (!Permitted(who->who, csv ? Action::ExportAudit : Action::ViewAudit)) return refuse();
        std::string problem;
        const auto filter = ParseAuditFilter(QueryPairs(request), problem);
        if (!filter) return reply(Html(400, "审计日志", bar + "<p>" + problem + "</p>"));
        m_access.Record(who->who, request.remote, csv ? AuditAction::ExportAudit : AuditAction::ViewAudit, {},
                        AuditQuery(*filter));
        std::vector<AuditEntry> entries;
        const bool ok = m_store->ReadAudit(*filter, csv ? 1000000 : kAuditPageSize, [&](const AuditEntry& e) {
            entries.push_back(e);
            return true;
        });
        if (!ok) return reply(Plain(503, "database unavailable\n"));
        if (!csv) return reply(Html(200, "审计日志", bar + AuditBody(entries, *filter)));
        HttpResponse r = Plain(200, AuditCsvHeader());
        r.contentType = "text/csv; charset=utf-8";
        r.headers.emplace("Content-Disposition", "attachment; filename=\"audit.csv\"");
        for (const auto& e : entries) r.body += AuditCsvLine(e);
        return reply(std::move(r));
    }
    if (path == "/search") {
        if (!Permitted(who->who, Action::Search)) return refuse();
        const std::string typed = Query(request, "q");
        std::vector<SearchHit> hits;
        if (!typed.empty()) {
            m_access.Record(who->who, request.remote, AuditAction::Search, {}, typed);
            auto found = m_store->Search(MakeSupportQuery(typed));
            if (!found) return reply(Plain(503, "database unavailable\n"));
            hits = std::move(*found);
        }
        return reply(Html(200, "查找", bar + SearchBody(typed, hits)));
    }
    if (path == "/account" || path == "/machine") {
        const bool machine = path == "/machine";
        if (!Permitted(who->who, machine ? Action::ViewMachine : Action::ViewAccount)) return refuse();
        SubjectPage page;
        page.machine = machine;
        page.key = Query(request, "key");
        m_access.Record(who->who, request.remote, machine ? AuditAction::ViewMachine : AuditAction::ViewAccount,
                        page.key);
        auto attempts = machine ? m_store->MachineAttempts(page.key) : m_store->AccountAttempts(page.key);
        AuditFilter history;
        history.subject = page.key;
        if (!attempts || !m_store->ReadAudit(history, kAuditPageSize, [&](const AuditEntry& e) {
                page.history.push_back(e);
                return true;
            }))
            return reply(Plain(503, "database unavailable\n"));
        page.attempts = std::move(*attempts);
        if (Permitted(who->who, Action::Revoke)) {
            page.csrf = who->csrf;
            if (!machine && !page.attempts.enrolment && m_enrolments) {
                const auto revoked = m_enrolments->Revoked(page.key);
                if (!revoked) return reply(Plain(503, "database unavailable\n"));
                page.restorable = *revoked;
            }
        }
        return reply(Html(200, machine ? "电脑" : "账号", bar + SubjectBody(page)));
    }
    if (path == "/staff") return reply(ManageStaff(request, *who));
    if (path == "/suspicious") {
        if (!Permitted(who->who, Action::ViewSuspicious)) return refuse();
        m_access.Record(who->who, request.remote, AuditAction::ViewSuspicious);
        const auto rows = m_store->Enrolments();
        if (!rows) return reply(Plain(503, "database unavailable\n"));
        return reply(Html(200, "可疑报名", bar + SuspiciousBody(FindSuspicious(*rows), *rows)));
    }
    reply(Plain(404, "not found\n"));
}

}  // namespace Service
