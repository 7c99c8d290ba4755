#!/usr/bin/env python3
"""Drives the real report-service program on an ephemeral loopback port.

    service_e2e.py lifecycle BINARY WORKDIR   --help, start, SIGTERM: exits cleanly, nothing acknowledged lost
    service_e2e.py crash BINARY WORKDIR       kill -9 under load, restart: every acknowledged success is kept
    service_e2e.py dashboard BINARY WORKDIR [--screenshot PNG]
                                              the dashboard in headless Chromium: charts render, nothing leaves
                                              loopback, refused without the token
    service_e2e.py waves BINARY WORKDIR [--screenshot PNG]
                                              a signed-in admin takes a wave from creation to its export in
                                              headless Chromium, each step in the audit log; support refused;
                                              a player's 查询资格
Every wait is bounded; the service is always stopped, by its process id.
"""
import csv
import http.client
import io
import json
import os
import queue
import shutil
import socket
import signal
import sqlite3
import subprocess
import sys
import threading
import time
import urllib.parse

from browser import CHROMIUM_FLAGS

SUCCESS = "提交成功，本账号获得20积分"
ACCOUNT_USED = "此账号已经提交成功过，每个账号只能成功一次"
TOKEN = "e2e-token"
STAFF_PASSWORD = "correct horse battery"


def fail(message):
    print("FAIL: " + message, flush=True)
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)
    print("ok: " + message, flush=True)


class Service:
    """One run of the program, its stdout read by a thread so nothing blocks."""

    def __init__(self, binary, db, *extra):
        self.proc = subprocess.Popen([binary, "--listen", "127.0.0.1:0", "--db", db, "--admin-token", TOKEN,
                                      *extra], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.lines = queue.Queue()
        self.all_lines = []
        threading.Thread(target=self._read, daemon=True).start()
        self.port = None
        deadline = time.time() + 15
        while self.port is None and time.time() < deadline:
            try:
                line = self.lines.get(timeout=0.2)
            except queue.Empty:
                if self.proc.poll() is not None:
                    break
                continue
            if line.startswith("listening on 127.0.0.1:"):
                self.port = int(line.rsplit(":", 1)[1])
        if self.port is None:
            self.stop()
            fail("the service did not say where it listens: " + "".join(self.all_lines))

    def _read(self):
        for line in self.proc.stdout:
            self.all_lines.append(line)
            self.lines.put(line.strip())

    def request(self, method, path, body=None, headers=None, timeout=10):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            conn.request(method, path, body=body, headers=headers or {})
            res = conn.getresponse()
            return res.status, res.read().decode("utf-8")
        finally:
            conn.close()

    def post_report(self, payload, conn=None):
        headers = {"Accept": "Application/json", "Content-Type": "Application/json"}
        if conn is None:
            return self.request("POST", "/act/score/pcinfo/add", payload, headers)
        conn.request("POST", "/act/score/pcinfo/add", body=payload, headers=headers)
        res = conn.getresponse()
        return res.status, res.read().decode("utf-8")

    def stop(self, sig=signal.SIGTERM, wait=15):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout=wait)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=5)
        return self.proc.returncode


def shown(body):
    """What the checker shows: from after "message":" to the last "}."""
    start = body.find('"message":"')
    if start < 0:
        return body
    start += len('"message":"')
    end = body.rfind('"}')
    text = body[start:end] if end >= start else body[start:]
    return text or body


def payload(account, mac, cpu="Intel(R) Core(TM) i5-4590 CPU @ 3.30GHz", count=4, mhz=3292, memory="8192",
            displays="GeForce GTX 960;NVIDIA GeForce GTX 960;2048;0", resolution="1920 x 1080",
            os_text="Windows 7 Professional 64-Bit", computer="PC01"):
    # The checker's own template: no escaping, no blanks.
    return ('{"param":["%s","%s","%s","%s",%d,%d,"%s","%s","%s","%s","%s","","",""]}'
            % (account, account, mac, cpu, count, mhz, memory, displays, resolution, os_text, computer)).encode()


def enrolled_accounts(db):
    conn = sqlite3.connect(db, timeout=10)
    try:
        return {row[0] for row in conn.execute("SELECT account FROM enrolments")}
    finally:
        conn.close()


def lifecycle(binary, work):
    out = subprocess.run([binary, "--help"], capture_output=True, text=True, timeout=10)
    check(out.returncode == 0 and "--listen" in out.stdout and "--require-registered" in out.stdout,
          "--help names the flags")
    out = subprocess.run([binary, "--listen", "nonsense"], capture_output=True, text=True, timeout=10)
    check(out.returncode == 2, "a bad --listen is refused")

    db = os.path.join(work, "var", "nested", "reports.db")
    svc = Service(binary, db)
    check(os.path.exists(db), "the database and its folders are created")
    status, body = svc.post_report(payload("life1", "00-00-00-00-01-01"))
    check(status == 200 and shown(body) == SUCCESS, "a first report succeeds")
    code = svc.stop(signal.SIGTERM)
    check(code == 0, "SIGTERM ends the service with exit code 0")
    check(any(l.startswith("stopped") for l in svc.all_lines), "it says it stopped")
    check(any(" POST /act/score/pcinfo/add 200 " in l for l in svc.all_lines), "one log line per request")
    check("life1" in enrolled_accounts(db), "the acknowledged report is in the database after SIGTERM")

    svc = Service(binary, db)
    status, body = svc.post_report(payload("life1", "00-00-00-00-01-02"))
    check(shown(body) == ACCOUNT_USED, "after a restart the account is still used")
    check(svc.stop(signal.SIGINT) == 0, "SIGINT ends the service with exit code 0")

    svc = Service(binary, os.path.join(work, "generated.db"), "--quiet")
    svc.stop()
    # A generated token is printed; a given one is not repeated.
    out = subprocess.Popen([binary, "--listen", "127.0.0.1:0", "--db", os.path.join(work, "gen2.db")],
                           stdout=subprocess.PIPE, text=True)
    lines = []
    deadline = time.time() + 10
    while time.time() < deadline:
        line = out.stdout.readline()
        lines.append(line)
        if line.startswith("listening on") or not line:
            break
    out.send_signal(signal.SIGTERM)
    out.wait(timeout=10)
    check(any(l.startswith("admin token ") and len(l.split()[2]) == 32 for l in lines),
          "without --admin-token a token is generated and printed")
    check(not any(TOKEN in l for l in svc.all_lines), "a given token is not printed")
    operations(binary, work)


def slow_client(port, stop):
    """Sends a request one byte every 0.3 s, for as long as it is let."""
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=5)
        for byte in b"POST /act/score/pcinfo/add HTTP/1.1\r\nHost: x\r\n" * 4:
            if stop.is_set():
                break
            s.send(bytes([byte]))
            time.sleep(0.3)
        s.close()
    except OSError:
        pass


def operations(binary, work):
    # SIGTERM while slow clients trickle: the service stops within the grace period, not when they finish.
    svc = Service(binary, os.path.join(work, "ops.db"))
    stop = threading.Event()
    slow = [threading.Thread(target=slow_client, args=(svc.port, stop)) for _ in range(8)]
    for t in slow:
        t.start()
    time.sleep(1)
    start = time.time()
    code = svc.stop(signal.SIGTERM, wait=20)
    elapsed = time.time() - start
    stop.set()
    for t in slow:
        t.join(timeout=20)
    check(code == 0 and elapsed < 5, "SIGTERM with slow clients connected: stopped in %.1f s" % elapsed)

    # The database file deleted, then replaced, under the running service: nothing more is acknowledged.
    db = os.path.join(work, "gone.db")
    svc = Service(binary, db)
    try:
        status, body = svc.post_report(payload("gone1", "00-00-00-00-02-01"))
        check(status == 200 and shown(body) == SUCCESS, "a report before the file is deleted succeeds")
        shutil.copy(db, db + ".copy")
        for suffix in ("", "-wal", "-shm"):
            if os.path.exists(db + suffix):
                os.remove(db + suffix)
        status, body = svc.post_report(payload("gone2", "00-00-00-00-02-02"))
        check(status == 503 and shown(body) == "服务器忙，请稍后再试", "after the file is deleted: 503 (%d)" % status)
        os.rename(db + ".copy", db)
        status, body = svc.post_report(payload("gone3", "00-00-00-00-02-03"))
        check(status == 503, "after it is replaced by another file: still 503 (%d)" % status)
        check(any("deleted or replaced" in l for l in svc.all_lines), "the log says why")
    finally:
        svc.stop()

    # A database the service's user cannot write: refused at start, with the reason.
    folder = os.path.join(work, "readonly")
    os.makedirs(folder)
    sqlite3.connect(os.path.join(folder, "ro.db")).execute("CREATE TABLE x(y)").connection.commit()
    os.chmod(work, 0o755)
    out = subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", binary, "--listen",
                          "127.0.0.1:0", "--db", os.path.join(folder, "ro.db")],
                         capture_output=True, text=True, timeout=20)
    check(out.returncode == 1 and "cannot use the database" in out.stderr and "writ" in out.stderr,
          "an unwritable database stops the start: " + out.stderr.strip())

    # Control characters in a logged path are escaped: one line stays one line.
    odd = os.path.join(work, "odd\nname\x1b[2J.db")
    svc = Service(binary, odd)
    svc.stop()
    check(any(l.startswith("database ") and "\\x0a" in l and "\x1b" not in l for l in svc.all_lines)
          and not any(l.startswith("name") for l in svc.all_lines), "control characters in the path are escaped")


def crash(binary, work):
    db = os.path.join(work, "crash.db")
    # The load is many machines from loopback: no day's bound for one address.
    svc = Service(binary, db, "--quiet", "--max-enrolments-per-address", "0")
    acknowledged = []
    lock = threading.Lock()
    stop = threading.Event()

    def sender(n):
        conn = http.client.HTTPConnection("127.0.0.1", svc.port, timeout=5)
        i = 0
        while not stop.is_set() and i < 100000:
            account = "load-%d-%d" % (n, i)
            mac = "02-%02X-%02X-%02X-%02X-%02X" % (n, (i >> 24) & 255, (i >> 16) & 255, (i >> 8) & 255, i & 255)
            i += 1
            try:
                status, body = svc.post_report(payload(account, mac), conn)
            except (OSError, http.client.HTTPException):
                return  # the service is gone
            if status == 200 and shown(body) == SUCCESS:
                with lock:
                    acknowledged.append(account)

    threads = [threading.Thread(target=sender, args=(n,)) for n in range(16)]
    for t in threads:
        t.start()
    deadline = time.time() + 20
    while time.time() < deadline and len(acknowledged) < 300:
        time.sleep(0.05)
    svc.proc.send_signal(signal.SIGKILL)  # while the senders are still sending
    svc.proc.wait(timeout=10)
    stop.set()
    for t in threads:
        t.join(timeout=15)
    check(len(acknowledged) > 0, "the load got %d success replies before kill -9" % len(acknowledged))

    svc = Service(binary, db, "--quiet")
    try:
        kept = enrolled_accounts(db)
        missing = [a for a in acknowledged if a not in kept]
        check(not missing, "every acknowledged report is in the database after restart (%d missing)" % len(missing))
        status, body = svc.post_report(payload(acknowledged[-1], "0A-0B-0C-0D-0E-0F"))
        check(shown(body) == ACCOUNT_USED, "the restarted service knows the last acknowledged account")
        status, csv = svc.request("GET", "/reports.csv?token=" + TOKEN)
        check(status == 200 and all(('"%s"' % a) in csv for a in acknowledged),
              "the export after restart holds every acknowledged report")
    finally:
        svc.stop()




def chromium(work, name, url, *extra):
    profile = os.path.join(work, "profile-" + name)
    netlog = os.path.join(work, "net-" + name + ".json")
    shutil.rmtree(profile, ignore_errors=True)
    out = subprocess.run(["chromium", *CHROMIUM_FLAGS, "--user-data-dir=" + profile, "--log-net-log=" + netlog,
                          *extra, url], capture_output=True, text=True, timeout=90)
    return out, netlog


def non_loopback_traffic(netlog):
    """Connections and sent datagrams that went anywhere but 127.0.0.1, and names that were looked up.
    A UDP connect() alone sends nothing (Chromium uses it to learn its local address), so it does not count."""
    with open(netlog) as f:
        log = json.load(f)
    types = {v: k for k, v in log["constants"]["logEventTypes"].items()}
    bad = []
    for event in log["events"]:
        kind = types.get(event["type"], "")
        params = event.get("params", {})
        address = params.get("address") or params.get("remote_address")
        if kind in ("TCP_CONNECT", "TCP_CONNECT_ATTEMPT", "UDP_BYTES_SENT") and address:
            if not address.startswith("127.0.0.1:"):
                bad.append("%s %s" % (kind, address))
        if kind == "HOST_RESOLVER_DNS_TASK" or kind.startswith("DNS_TRANSACTION"):
            bad.append("%s %s" % (kind, params))
    return bad


def seed(svc):
    machines = [
        ("Intel(R) Core(TM) i5-4590 CPU @ 3.30GHz", 4, 3292, "8067", "GeForce GTX 960;NVIDIA GeForce GTX 960;2048;0",
         "1920 x 1080", "Windows 7 Professional 64-Bit"),
        ("Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz", 12, 3192, "16311",
         "GeForce GTX 1060;NVIDIA GeForce GTX 1060 6GB;4095;0|Intel HD;Intel(R) UHD Graphics 630;1024;0",
         "2560 x 1440", "Windows 10 Pro 64-Bit"),
        ("AMD Ryzen 5 3600 6-Core Processor", 12, 3593, "16334", "Radeon RX 580;Radeon RX 580 Series;8192;0",
         "1920 x 1080", "Windows 10 Pro 64-Bit"),
        ("Intel(R) Pentium(R) CPU G3260 @ 3.30GHz", 2, 3292, "4011", "Intel HD;Intel(R) HD Graphics;512;0",
         "1366 x 768", "Windows 7 Ultimate 32-Bit"),
        ("AMD Athlon(tm) II X4 640 Processor", 4, 2999, "3839", "Radeon HD 5450;ATI Radeon HD 5450;1024;0",
         "1440 x 900", "Windows XP Professional 32-Bit"),
    ]
    n = 0
    for repeat in range(6):
        for m in machines[: 5 - (repeat % 3)]:
            n += 1
            cpu, count, mhz, memory, displays, resolution, os_text = m
            status, body = svc.post_report(payload("seed%d" % n, "02-00-00-00-%02X-%02X" % (repeat, n), cpu, count,
                                                   mhz, memory, displays, resolution, os_text, "PC%02d" % n))
            if shown(body) != SUCCESS:
                fail("seeding: " + body)
    evil = '<script>document.title=\\"pwned\\"</script>\\"'
    status, body = svc.post_report(payload("evil" + evil, "02-EE-EE-EE-EE-EE", "Intel " + evil, 4, 3000, "8192",
                                           "Chip" + evil + ";Name" + evil + ";1024;0", "1920 x 1080",
                                           "Windows " + evil + " 64-Bit", "PC<i>\\\"</i>"))
    if shown(body) != SUCCESS:
        fail("seeding the hostile report: " + body)
    svc.post_report(payload("seed1", "02-FF-FF-FF-FF-01"))  # account used
    svc.post_report(payload("other", "02-00-00-00-00-01"))  # machine used
    svc.post_report(b'{"param":[1,2,3]}')  # malformed
    return n + 1


def dashboard(binary, work, screenshot):
    if shutil.which("chromium") is None:
        fail("chromium is not installed (tools/packages.txt lists it)")
    svc = Service(binary, os.path.join(work, "dashboard.db"))
    try:
        machines = seed(svc)
        before = len(svc.all_lines)
        base = "http://127.0.0.1:%d" % svc.port
        out, netlog = chromium(work, "dom", base + "/?token=" + TOKEN, "--dump-dom")
        dom = out.stdout
        check(out.returncode == 0 and "封测报名统计" in dom, "the dashboard loads in Chromium")
        charts = dom.count('<svg class="chart"')
        check(charts == 9, "it renders the timeline and eight hardware charts (%d)" % charts)
        check("<title>Intel：" in dom and "<title>AMD：" in dom and "台，" in dom,
              "the bars carry their numbers for hovering")
        check("共 %d 台" % machines in dom, "the shares are of the %d enrolled machines" % machines)
        check("<script" not in dom and "<title>封测报名统计</title>" in dom,
              "no script from a report reaches the page (the title is untouched)")
        check("&lt;script&gt;document.title" in dom, "hostile text is shown escaped")
        bad = non_loopback_traffic(netlog)
        check(not bad, "no request leaves loopback: " + "; ".join(bad[:5]))
        paths = [l.split()[3] for l in svc.all_lines[before:] if " GET " in l]
        check(all(p in ("/", "/favicon.ico") for p in paths) and "/" in paths,
              "the page loads nothing but itself (%s)" % ", ".join(paths))

        out, netlog = chromium(work, "refused", base + "/", "--dump-dom")
        check("需要管理口令" in out.stdout and "<svg" not in out.stdout, "without the token the dashboard is refused")
        out, netlog = chromium(work, "wrong", base + "/?token=wrong", "--dump-dom")
        check("需要管理口令" in out.stdout and "<svg" not in out.stdout, "a wrong token is refused")

        if screenshot:
            png = os.path.abspath(screenshot)
            out, netlog = chromium(work, "shot", base + "/?token=" + TOKEN, "--screenshot=" + png,
                                   "--hide-scrollbars")
            check(os.path.exists(png) and os.path.getsize(png) > 10000, "screenshot written to " + png)
            check(not non_loopback_traffic(netlog), "no request leaves loopback while taking it")
    finally:
        svc.stop()


def staff_request(svc, method, path, cookie, form=None):
    """A request as a signed-in browser makes it: its session cookie, a form posted from this site."""
    conn = http.client.HTTPConnection("127.0.0.1", svc.port, timeout=30)
    headers = {"Cookie": "zorv_staff=" + cookie}
    body = None
    if form is not None:
        body = urllib.parse.urlencode(form)
        headers["Content-Type"] = "application/x-www-form-urlencoded"
    try:
        conn.request(method, path, body=body, headers=headers)
        res = conn.getresponse()
        return res.status, res.read().decode("utf-8")
    finally:
        conn.close()


def sign_in(browser, base, name):
    browser.open(base + "/login")
    browser.type("input[name=name]", name)
    browser.type("input[name=password]", STAFF_PASSWORD)
    browser.press("form[action='/login'] button")
    return browser.driver.get_cookie("zorv_staff")["value"]


def waves(binary, work, screenshot):
    """A signed-in admin takes a wave through every step in Chromium, the audit log names them all, support
    is refused, and a player reads 查询资格."""
    if shutil.which("chromium") is None:
        fail("chromium is not installed (tools/packages.txt lists it)")
    from browser import Browser
    from selenium.webdriver.support.ui import Select

    db = os.path.join(work, "waves.db")
    for name, role in (("boss", "admin"), ("ann", "support")):
        subprocess.run([binary, "staff", "add", name, "--role", role, "--password-stdin", "--db", db],
                       input=STAFF_PASSWORD + "\n", text=True, check=True, capture_output=True, timeout=60)
    svc = Service(binary, db)
    try:
        seed(svc)
        base = "http://127.0.0.1:%d" % svc.port
        with Browser(work, "admin") as b:
            cookie = sign_in(b, base, "boss")
            b.open(base + "/waves")
            b.type("input[name=name]", "first")
            b.type("input[name=size]", "12")
            Select(b.find("select[name=strategy]")).select_by_value("coverage")
            b.type("input[name=minimum]", "2")
            b.find("input[name=aspect][value=os]").click()
            b.press("form[action='/waves'] button")
            check("已新建第1批" in b.text(), "the admin creates wave 1")
            b.press("form[action='/waves/1/freeze'] button")
            list_hash = b.find("#list-sha256").text
            check("名单已冻结" in b.text() and len(list_hash) == 64, "freezes it and sees the list's SHA-256")
            b.type("input[name=seed]", "2026-12-08 03 11 19 24")
            b.press("form[action='/waves/1/seed'] button")
            check("种子已录入" in b.text(), "enters the draw's seed value")
            b.press("form[action='/waves/1/draw'] button")
            check("12 个账号入选" in b.text(), "draws twelve accounts")
            b.press("form[action='/waves/1/publish'] button")
            check("已公布" in b.text(), "publishes the wave")
            status, codes = staff_request(svc, "GET", "/waves/1/codes.csv", cookie)
            check(status == 200 and len(codes.splitlines()) == 13, "exports its twelve codes")
            source = b.source()
            check(source.count('class="coverage"') == 8 and "Windows XP Professional 32-Bit" in source,
                  "the coverage view shows every aspect, the rare system included")
            if screenshot:
                b.open(base + "/waves/1#coverage")
                b.screenshot(os.path.abspath(screenshot))
                check(os.path.getsize(screenshot) > 10000, "screenshot of the coverage view in " + screenshot)

            # The token still serves scripts, and is named in the log as such.
            status, result = svc.request("GET", "/waves/1/codes.csv", None, {"X-Admin-Token": TOKEN})
            check(status == 200 and result == codes, "the admin token exports the same codes")
            status, audit = staff_request(svc, "GET", "/audit.csv?subject=wave+1", cookie)
            rows = sorted(csv.DictReader(io.StringIO(audit.lstrip("\ufeff"))), key=lambda r: int(r["id"]))
            steps = [(r["actor"], r["action"]) for r in rows]
            check(steps == [("boss", "wave_create"), ("boss", "wave_freeze"), ("boss", "wave_seed"),
                            ("boss", "wave_draw"), ("boss", "wave_publish"), ("boss", "wave_export"),
                            ("token", "wave_export")], "the audit log has every step, by whom: %s" % steps)
            check(all(r["remote"] == "127.0.0.1" for r in rows), "from where")
            check("list_sha256=" + list_hash in rows[1]["detail"] and 'params="size=12 strategy=coverage aspects=os '
                  'minimum=2"' in rows[0]["detail"] and 'seed="2026-12-08 03 11 19 24"' in rows[2]["detail"],
                  "and what: parameters, the list's hash, the draw's seed value")

            # A form without the session's token is refused, even from the admin's own session.
            status, _ = staff_request(svc, "POST", "/waves", cookie, {"name": "x", "size": "1", "strategy": "uniform"})
            check(status == 403, "a wave form without its CSRF token is refused (%d)" % status)
        with Browser(work, "support") as b:
            support = sign_in(b, base, "ann")
            b.open(base + "/waves")
            check("您的角色不能打开此页" in b.text(), "support is shown it may not open the waves")
            status, _ = staff_request(svc, "GET", "/waves/1/codes.csv", support)
            check(status == 403, "nor export the codes (%d)" % status)
        status, _ = svc.request("GET", "/waves")
        check(status == 303, "without a session the waves send a person to the login (%d)" % status)

        with Browser(work, "player") as b:
            chosen = [line.split(",")[0].strip('"') for line in codes.splitlines()[1:]]
            player = next(a for a in chosen if a.startswith("seed"))
            b.open(base + "/status")
            b.type("input[name=account]", player.upper())
            b.press("form[action='/status'] button")
            check("已入选（第1批）" in b.text(), "a chosen player, typed in capitals, sees 已入选（第1批）")
            check(not any(line.split(",")[1] in b.source() for line in codes.splitlines()[1:]),
                  "and no code is on the page")
            b.type("input[name=account]", "nobody")
            b.press("form[action='/status'] button")
            check("尚未报名" in b.text(), "an unknown account sees 尚未报名")
    finally:
        svc.stop()


def main():
    if len(sys.argv) < 4 or sys.argv[1] not in ("lifecycle", "crash", "dashboard", "waves"):
        print(__doc__)
        return 2
    what, binary, work = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    if what == "lifecycle":
        lifecycle(binary, work)
    elif what == "crash":
        crash(binary, work)
    else:
        shot = sys.argv[sys.argv.index("--screenshot") + 1] if "--screenshot" in sys.argv else None
        (waves if what == "waves" else dashboard)(binary, work, shot)
    print("PASS", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
