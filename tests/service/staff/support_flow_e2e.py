"""A support person's day in headless Chromium against the real program: sign in, find a player typed in
another spelling, open the account, revoke its enrolment with a reason, restore it, revoke it again; the
player's checker then enrols again; the data is erased on request; the admin's audit log shows each step.
Beside it, what must be refused: a viewer's revoke, a form without its CSRF token, an expired session.
The account page is kept as a screenshot in the build folder."""
import http.client
import os
import re
import sqlite3
import sys
import tempfile
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from browser import Browser  # noqa: E402
from desk import PASSWORD, Desk, enrol  # noqa: E402


def post(port, path, form, cookie=""):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    c.request("POST", path, body=urllib.parse.urlencode(form), headers={
        "Host": f"127.0.0.1:{port}", "Cookie": cookie, "Content-Type": "application/x-www-form-urlencoded"})
    r = c.getresponse()
    return r.status, r.getheader("Location") or "", r.read().decode()


def sign_in(b, port, name):
    b.open(f"http://127.0.0.1:{port}/login")
    b.type("input[name=name]", name)
    b.type("input[name=password]", PASSWORD)
    b.press("form[action='/login'] button")
    return "zorv_staff=" + b.driver.get_cookie("zorv_staff")["value"]


def main():
    binary, shots = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as work:
        with Desk(binary, work) as desk:
            port, db = desk.port, desk.db
            assert "提交成功" in enrol(port), "the first report was not accepted"

            with Browser(work, "ann") as b:
                cookie = sign_in(b, port, "ann")
                b.open(f"http://127.0.0.1:{port}/search")
                b.type("input[name=q]", "ＰＬＡＹＥＲ１")
                b.press("form[action='/search'] button")
                b.press("a[href^='/account?key=player1']")
                assert "报名" in b.text() and "PC01" in b.text(), b.text()[:500]
                b.screenshot(os.path.join(shots, "account-page.png"))
                csrf = re.search(r'name="csrf" value="([0-9a-f]+)"', b.source()).group(1)

                # The reason box is required: the browser will not send the form without it, nor the desk take it.
                status, _, body = post(port, "/revoke", {"csrf": csrf, "key": "player1", "reason": "  "}, cookie)
                assert status == 400 and "必须填写原因" in body, (status, body[:300])
                b.type("form[action='/revoke'] input[name=reason]", "同一网吧批量报名")
                b.press("form[action='/revoke'] button")
                assert "目前没有报名" in b.text(), b.text()[:500]
                b.press("form[action='/restore'] button")
                assert "目前没有报名" not in b.text() and "同一网吧批量报名" in b.text(), b.text()[:500]
                b.type("form[action='/revoke'] input[name=reason]", "玩家换了电脑")
                b.press("form[action='/revoke'] button")
                assert "目前没有报名" in b.text()

                # Freed: the player's checker enrols again.
                assert "提交成功" in enrol(port), "the report after the revocation did not enrol"
                b.open(f"http://127.0.0.1:{port}/account?key=player1")
                assert "目前没有报名" not in b.text(), b.text()[:500]

                # Erased on the player's request, confirmed by the account typed in another spelling.
                b.type("form[action='/erase'] input[name=confirm]", "Player1")
                b.press("form[action='/erase'] button")
                assert "PC01" not in b.text() and "127.0.0.1" not in b.text(), b.text()[:800]

                # Refused: no token, another token; a viewer; a session past its idle time.
                for form in ({"key": "player1", "reason": "x"}, {"key": "player1", "reason": "x", "csrf": "0" * 64}):
                    assert post(port, "/revoke", form, cookie)[0] == 403, form
            with Browser(work, "vic") as v:
                viewer = sign_in(v, port, "vic")
                v.open(f"http://127.0.0.1:{port}/account?key=player1")
                assert "您的角色不能打开此页" in v.text()
                token = re.search(r'name="csrf" value="([0-9a-f]+)"', v.source()).group(1)
            status, _, _ = post(port, "/revoke", {"csrf": token, "key": "player1", "reason": "x"}, viewer)
            assert status == 403, status
            with sqlite3.connect(db) as c:
                c.execute("UPDATE staff_sessions SET last_seen_at = last_seen_at - 1900, created_at = created_at - 1900")
            status, where, _ = post(port, "/revoke", {"csrf": csrf, "key": "player1", "reason": "x"}, cookie)
            assert (status, where) == (303, "/login"), (status, where)

            with Browser(work, "boss") as a:
                sign_in(a, port, "boss")
                a.open(f"http://127.0.0.1:{port}/audit?actor=ann")
                log = a.text()
            for step in ("登录", "查找", "ＰＬＡＹＥＲ１", "查看账号", "撤销报名", "同一网吧批量报名", "恢复报名",
                         "玩家换了电脑", "删除个人数据"):
                assert step in log, f"no {step!r} in the audit log: {log[:1500]}"
    print("search, revoke, restore, enrol again, erase and the audit log as expected; refusals refused")


if __name__ == "__main__":
    main()
