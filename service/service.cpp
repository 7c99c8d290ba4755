#include "service/service.h"

#include <chrono>

#include "service/pages.h"
#include "service/report_parse.h"
#include "service/service_text.h"

namespace Service {

namespace {

const char* const kJson = "application/json; charset=utf-8";
const char* const kHtml = "text/html; charset=utf-8";
constexpr const char* kCookie = "zorv_admin";

// Pages carry no scripts and load nothing: a script smuggled into a report could not run even if escaping
// failed somewhere.
void SecureHtml(HttpResponse& response) {
    response.headers.emplace("Content-Security-Policy",
                             "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; "
                             "frame-ancestors 'none'; base-uri 'none'");
    response.headers.emplace("X-Content-Type-Options", "nosniff");
    response.headers.emplace("Referrer-Policy", "no-referrer");
}

HttpResponse Json(int status, int code, const char* message, int points = -1) {
    HttpResponse r;
    r.status = status;
    r.contentType = kJson;
    r.body = ReplyJson(code, message, points);
    return r;
}

bool SameSecret(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

std::string Header(const HttpRequest& request, const std::string& name) {
    auto it = request.headers.find(name);
    return it == request.headers.end() ? std::string() : it->second;
}

std::string CookieValue(const std::string& cookies, const std::string& name) {
    size_t pos = 0;
    while (pos < cookies.size()) {
        size_t end = cookies.find(';', pos);
        if (end == std::string::npos) end = cookies.size();
        const std::string pair = ServiceText::Trim(std::string_view(cookies).substr(pos, end - pos));
        const size_t eq = pair.find('=');
        if (eq != std::string::npos && pair.substr(0, eq) == name) return pair.substr(eq + 1);
        pos = end + 1;
    }
    return {};
}

std::string FormValue(const std::string& body, const std::string& name) {
    size_t pos = 0;
    while (pos <= body.size()) {
        size_t end = body.find('&', pos);
        if (end == std::string::npos) end = body.size();
        const std::string pair = body.substr(pos, end - pos);
        const size_t eq = pair.find('=');
        if (ServiceText::UrlDecode(pair.substr(0, eq)) == name)
            return eq == std::string::npos ? std::string() : ServiceText::UrlDecode(pair.substr(eq + 1));
        pos = end + 1;
    }
    return {};
}

// Why an account name cannot be registered; empty when it can.
std::string AccountProblem(const std::string& name) {
    if (!ServiceText::IsValidUtf8(name)) return "账号名不是有效的 UTF-8 文本";
    if (name.empty()) return "请填写账号名";
    if (ServiceText::CodePointCount(name) > kMaxAccountChars)
        return "账号名太长，最多 " + std::to_string(kMaxAccountChars) + " 个字符";
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7f) return "账号名不能含有控制字符";
    // The checker puts the account into its JSON unescaped: with these characters its report never parses.
    if (name.find('"') != std::string::npos || name.find('\\') != std::string::npos)
        return "账号名不能含有 \" 或 \\";
    const auto ansi = ServiceText::Utf8ToGb18030(name);
    if (!ansi || ansi->size() > kMaxAccountBytesGb18030) return "账号名太长，检测程序无法填写";
    return {};
}

}  // namespace

std::string ReplyJson(int code, const std::string& message, int points) {
    std::string body = "{\"code\":" + std::to_string(code);
    if (points >= 0) body += ",\"points\":" + std::to_string(points);
    return body + ",\"message\":\"" + message + "\"}";
}

ReportService::ReportService(Store& store, ServiceOptions options, Clock clock)
    : m_store(store), m_options(std::move(options)), m_clock(std::move(clock)) {
    if (!m_clock)
        m_clock = [] {
            return static_cast<int64_t>(
                std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                    .count());
        };
}

HttpResponse ReportService::TooLarge() { return Json(413, 3, Replies::kTooLarge); }

HttpResponse ReportService::Handle(const HttpRequest& request) {
    if (request.path == kReportPath) {
        if (request.method == "POST") return PostReport(request);
        HttpResponse r = Json(405, 3, Replies::kMalformed);
        r.headers.emplace("Allow", "POST");
        return r;
    }
    if (request.path == "/register" && (request.method == "GET" || request.method == "POST"))
        return RegisterPage(request);
    if (request.path == "/" && request.method == "GET") return Dashboard(request);
    if (request.path == "/reports.csv" && request.method == "GET") return ReportsCsv(request);
    HttpResponse r;
    r.status = 404;
    r.contentType = "text/plain; charset=utf-8";
    r.body = "not found\n";
    return r;
}

HttpResponse ReportService::PostReport(const HttpRequest& request) {
    if (request.body.size() > kMaxReportBody) return TooLarge();
    const auto type = request.headers.find("content-type");
    const ParseResult parsed =
        ParseReport(request.body, type != request.headers.end() && ServiceText::DeclaresUtf8(type->second));
    if (!parsed.report) {
        // Kept for the counts; a failure to keep it changes nothing for the sender.
        m_store.RecordMalformed(request.body, request.remote, parsed.error, m_clock());
        return Json(400, 3, Replies::kMalformed);
    }
    const auto outcome =
        m_store.Record(*parsed.report, request.body, request.remote, m_options.requireRegistered, m_clock());
    if (!outcome) return Json(503, 5, Replies::kServerError);
    switch (*outcome) {
    case Outcome::Success: return Json(200, 0, Replies::kSuccess, kRewardPoints);
    case Outcome::AccountUsed: return Json(200, 1, Replies::kAccountUsed);
    case Outcome::MachineUsed: return Json(200, 2, Replies::kMachineUsed);
    case Outcome::NotRegistered: return Json(200, 4, Replies::kNotRegistered);
    }
    return Json(503, 5, Replies::kServerError);
}

bool ReportService::IsAdmin(const HttpRequest& request, bool& fromQuery) const {
    fromQuery = false;
    const std::string& token = m_options.adminToken;
    if (token.empty()) return false;
    auto q = request.query.find("token");
    if (q != request.query.end() && SameSecret(q->second, token)) {
        fromQuery = true;
        return true;
    }
    if (SameSecret(CookieValue(Header(request, "cookie"), kCookie), token)) return true;
    if (SameSecret(Header(request, "x-admin-token"), token)) return true;
    const std::string auth = Header(request, "authorization");
    return auth.rfind("Bearer ", 0) == 0 && SameSecret(auth.substr(7), token);
}

HttpResponse ReportService::Refused() const {
    HttpResponse r;
    r.status = 401;
    r.contentType = kHtml;
    r.body = RenderRefusedPage();
    SecureHtml(r);
    return r;
}

namespace {
// Once the token came in the address, a cookie lets the links on the page work without it.
void RememberAdmin(HttpResponse& r, bool fromQuery, const std::string& token) {
    if (fromQuery)
        r.headers.emplace("Set-Cookie", std::string(kCookie) + "=" + token + "; Path=/; HttpOnly; SameSite=Strict");
    r.headers.emplace("Cache-Control", "no-store");
}
}  // namespace

HttpResponse ReportService::RegisterPage(const HttpRequest& request) {
    bool fromQuery = false;
    const bool admin = IsAdmin(request, fromQuery);
    HttpResponse r;
    r.contentType = kHtml;
    std::string notice;
    bool good = false;
    if (request.method == "POST") {
        const std::string name = ServiceText::Trim(FormValue(request.body, "account"));
        notice = AccountProblem(name);
        if (!notice.empty()) {
            r.status = 400;
        } else {
            switch (m_store.Register(name, request.remote, m_clock())) {
            case Store::RegisterResult::Registered:
                notice = "注册成功：" + name;
                good = true;
                break;
            case Store::RegisterResult::Duplicate:
                notice = "该账号名已被注册：" + name;
                r.status = 409;
                break;
            case Store::RegisterResult::Failed:
                notice = Replies::kServerError;
                r.status = 503;
                break;
            }
        }
    }
    std::optional<std::vector<AccountRow>> accounts;
    if (admin) {
        accounts = m_store.Accounts();
        RememberAdmin(r, fromQuery, m_options.adminToken);
    }
    r.body = RenderRegisterPage(notice, good, accounts ? &*accounts : nullptr);
    SecureHtml(r);
    return r;
}

HttpResponse ReportService::Dashboard(const HttpRequest& request) {
    bool fromQuery = false;
    if (!IsAdmin(request, fromQuery)) return Refused();
    const auto data = m_store.Dashboard();
    HttpResponse r;
    r.contentType = kHtml;
    if (!data) {
        r.status = 503;
        r.body = Replies::kServerError;
        r.contentType = "text/plain; charset=utf-8";
        return r;
    }
    r.body = RenderDashboard(*data);
    RememberAdmin(r, fromQuery, m_options.adminToken);
    SecureHtml(r);
    return r;
}

HttpResponse ReportService::ReportsCsv(const HttpRequest& request) {
    bool fromQuery = false;
    if (!IsAdmin(request, fromQuery)) return Refused();
    const auto rows = m_store.Reports();
    HttpResponse r;
    if (!rows) {
        r.status = 503;
        r.contentType = "text/plain; charset=utf-8";
        r.body = Replies::kServerError;
        return r;
    }
    r.contentType = "text/csv; charset=utf-8";
    r.body = RenderReportsCsv(*rows);
    r.headers.emplace("Content-Disposition", "attachment; filename=\"reports.csv\"");
    RememberAdmin(r, fromQuery, m_options.adminToken);
    return r;
}

}  // namespace Service
