"""The staff desk of the real program: staff made on the command line sign in, see what their role allows,
and every step lands in the audit log; a form without its CSRF token, a viewer's support page and a stale
session are refused."""
import http.client
import os
import re
import sys
import tempfile
import urllib.parse

from prometheus_client.parser import text_string_to_metric_families

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desk import PASSWORD, Desk, enrol  # noqa: E402


class Client:
    def __init__(self, port):
        self.port, self.cookie = port, ""

    def request(self, method, path, form=None, headers=None):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        h = {"Host": f"127.0.0.1:{self.port}", **(headers or {})}
        if self.cookie:
            h["Cookie"] = self.cookie
        body = None
        if form is not None:
            body = urllib.parse.urlencode(form)
            h["Content-Type"] = "application/x-www-form-urlencoded"
        c.request(method, path, body=body, headers=h)
        r = c.getresponse()
        text = r.read().decode("utf-8", "replace")
        c.close()
        set_cookie = r.getheader("Set-Cookie") or ""
        if set_cookie.startswith("zorv_staff="):
            self.cookie = set_cookie.split(";")[0]
        return r.status, text, set_cookie

    def login(self, name, password=PASSWORD, origin=None):
        headers = {"Origin": origin} if origin else {}
        return self.request("POST", "/login", {"name": name, "password": password}, headers)


def expect(what, got, status, *contains):
    assert got[0] == status, f"{what}: status {got[0]}, wanted {status}: {got[1][:300]}"
    for text in contains:
        assert text in got[1] or text in got[2], f"{what}: no {text!r} in {got[1][:600]}"


def main():
    binary = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        with Desk(binary, folder) as desk:
            port, db = desk.port, desk.db
            assert "提交成功" in enrol(port), "the report was not accepted"
            c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
            c.request("POST", "/act/score/pcinfo/add", body=b"x", headers={"Content-Encoding": "gzip"})
            assert c.getresponse().status == 415, "a compressed body was taken"

            anon = Client(port)
            expect("healthz", anon.request("GET", "/healthz"), 200, "ok")
            expect("readyz", anon.request("GET", "/readyz"), 200, "ready")
            expect("login page", anon.request("GET", "/login"), 200, "员工登录")
            expect("search without a session", anon.request("GET", "/search"), 303)

            ann = Client(port)
            expect("wrong password", ann.login("ann", "wrong password!"), 401, "用户名或密码错误")
            expect("another site's form", ann.login("ann", origin="https://evil.example"), 403)
            signed = ann.login("Ann")
            expect("login", signed, 303, "HttpOnly; Secure; SameSite=Strict")
            expect("dashboard", ann.request("GET", "/"), 200)
            found = ann.request("GET", "/search?q=" + urllib.parse.quote("ＰＬＡＹＥＲ１"))
            expect("search in another spelling", found, 200, "/account?key=player1")
            page = ann.request("GET", "/account?key=player1")
            expect("account page", page, 200, "PC01", "全部报告", "success")
            csrf = re.search(r'name="csrf" value="([0-9a-f]+)"', page[1]).group(1)
            expect("logout without the token", ann.request("POST", "/logout", {}), 403)
            expect("logout with another token", ann.request("POST", "/logout", {"csrf": "0" * 64}), 403)
            stale = ann.cookie
            expect("logout", ann.request("POST", "/logout", {"csrf": csrf}), 303, "Max-Age=0")
            ann.cookie = stale
            expect("the ended session", ann.request("GET", "/"), 401)

            vic = Client(port)
            expect("viewer login", vic.login("vic"), 303)
            expect("viewer's dashboard", vic.request("GET", "/"), 200)
            expect("viewer's search", vic.request("GET", "/search?q=player1"), 403, "您的角色不能打开此页")
            expect("viewer's audit log", vic.request("GET", "/audit"), 403)

            expect("the token's export", anon.request("GET", "/reports.csv?token=t0ken"), 200, "player1")
            boss = Client(port)
            expect("admin login", boss.login("boss"), 303)
            audit = boss.request("GET", "/audit")
            expect("audit log", audit, 200, "登录失败", "查看账号", "退出", "ＰＬＡＹＥＲ１")
            expect("the token in the audit log", boss.request("GET", "/audit?actor=token&action=export"), 200,
                   "reports.csv", "导出报告")
            csv = boss.request("GET", "/audit.csv?action=search")
            expect("audit export", csv, 200, "search", "ann")
            assert "login" not in csv[1].replace("login_", ""), "the export ignores its filter"
            assert PASSWORD not in audit[1] and PASSWORD not in csv[1], "a password in the audit log"
            expect("suspicious list", boss.request("GET", "/suspicious"), 200, "可疑报名")

            # The admin's staff page: add, change the role, reset the password, disable; never oneself.
            page = boss.request("GET", "/staff")
            expect("staff page", page, 200, "ann", "vic", "添加员工")
            token = re.search(r'name="csrf" value="([0-9a-f]+)"', page[1]).group(1)
            staff = lambda what, **form: boss.request("POST", "/staff/" + what, dict(form, csrf=token))
            expect("a short password", staff("add", name="sam", role="support", password="short"), 400, "12")
            expect("add", staff("add", name="Sam", role="support", password=PASSWORD), 200, "已保存：sam")
            expect("add twice", staff("add", name="sam", role="admin", password=PASSWORD), 409)
            sam = Client(port)
            expect("the new account signs in", sam.login("sam"), 303)
            expect("its search", sam.request("GET", "/search?q=x"), 200)
            expect("role change", staff("role", name="sam", role="viewer"), 200)
            expect("a viewer now", sam.request("GET", "/search?q=x"), 403)
            expect("password reset", staff("passwd", name="sam", password=PASSWORD + "!"), 200)
            expect("the reset ended its session", sam.request("GET", "/search?q=x"), 303)
            expect("disable", staff("disable", name="sam"), 200, "已停用")
            expect("a disabled login", sam.login("sam", PASSWORD + "!"), 401)
            expect("not oneself", staff("disable", name="boss"), 400)
            expect("no token", boss.request("POST", "/staff/disable", {"name": "vic"}), 403)
            expect("support's staff page", vic.request("GET", "/staff"), 403)
            expect("staff changes audited", boss.request("GET", "/audit?actor=boss&subject=sam"), 200,
                   "添加员工", "更改员工角色", "修改员工密码", "停用员工")

            scrape = anon.request("GET", "/metrics")
            expect("metrics from this machine", scrape, 200)
            samples = {(s.name, tuple(sorted(s.labels.items()))): s.value
                       for f in text_string_to_metric_families(scrape[1]) for s in f.samples}
            assert samples[("report_service_reports_total", (("outcome", "success"),))] == 1, samples
            assert samples[("report_service_database_up", ())] == 1, samples
            assert samples[("report_service_http_requests_total",
                            (("route", "/act/score/pcinfo/add"), ("status", "200")))] == 1, samples
            assert samples[("report_service_http_requests_total", (("route", "/login"), ("status", "401")))] == 2  # wrong password, disabled
            assert samples[("report_service_refusals_total", (("reason", "compressed"),))] == 1, samples
            assert samples[("report_service_batch_reports_count", ())] == 1, samples
            assert samples[("report_service_batch_reports_sum", ())] == 1, samples
            assert samples[("report_service_commit_seconds_count", ())] == 1, samples
            assert samples[("report_service_open_connections", ())] >= 1, samples
            assert ("report_service_queue_depth", ()) in samples, samples
            expect("metrics through a proxy", anon.request("GET", "/metrics", headers={"X-Forwarded-For": "1.2.3.4"}), 403)
            expect("metrics with the token", anon.request("GET", "/metrics", headers={
                "X-Forwarded-For": "1.2.3.4", "Authorization": "Bearer t0ken"}), 200, "# TYPE")
        assert PASSWORD not in desk.log, "a password in the log"
        with open(db, "rb") as f:
            assert PASSWORD.encode() not in f.read(), "a password in the database"
    print("login, roles, CSRF, logout, the audit log and /metrics as expected")


if __name__ == "__main__":
    main()
