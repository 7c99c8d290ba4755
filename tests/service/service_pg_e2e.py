#!/usr/bin/env python3
"""usage: service_pg_e2e.py race|kill|restart|copy|proxy|revoke|ready BINARY WORKDIR

Report-service programs on one PostgreSQL, as behind a load balancer, on loopback: a fresh database in the
cluster named by REPORT_SERVICE_TEST_PG (restart starts a cluster of its own). Each scenario's checks say
what it proves. Every wait is bounded; programs are stopped by their process ids."""
import http.client
import json
import os
import queue
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")
PSQL = "/usr/lib/postgresql/15/bin/psql"
SUCCESS = "提交成功，本账号获得20积分"
ACCOUNT_USED = "此账号已经提交成功过，每个账号只能成功一次"
BUSY = "服务器忙，请稍后再试"
TOKEN = "pg-e2e-token"


def check(condition, message):
    print(("ok: " if condition else "FAIL: ") + message, flush=True)
    if not condition:
        sys.exit(1)


def run(*command):
    out = subprocess.run(command, capture_output=True, text=True, timeout=120)
    if out.returncode != 0:
        check(False, "%s: %s%s" % (" ".join(command[:3]), out.stdout, out.stderr))
    return out.stdout.strip()


def psql(url, sql):
    return run(PSQL, "-qAtX", "-d", url, "-c", sql).split("\n")


def fresh_database(name):
    base = open(os.environ["REPORT_SERVICE_TEST_PG"]).read().strip().rsplit("/", 1)[0]
    psql(base + "/postgres", "DROP DATABASE IF EXISTS %s WITH (FORCE)" % name)
    psql(base + "/postgres", "CREATE DATABASE %s" % name)
    return base + "/" + name


class Instance:
    """One service program; a thread reads its output so it never blocks."""

    # Load from loopback is many machines from one address: no day's bound for it.
    def __init__(self, binary, db, workdir, name, extra=("--rate", "0", "--max-enrolments-per-address", "0")):
        token_file = os.path.join(workdir, "admin-token")
        with open(token_file, "w") as f:
            f.write(TOKEN + "\n")
        os.chmod(token_file, 0o600)
        self.lines = queue.Queue()
        self.proc = subprocess.Popen([binary, "--listen", "127.0.0.1:0", "--db", db, "--admin-token-file", token_file,
                                      "--quiet", *extra], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     text=True)
        threading.Thread(target=lambda: [self.lines.put(line.strip()) for line in self.proc.stdout], daemon=True).start()
        self.port, seen, deadline = None, [], time.time() + 20
        while self.port is None and time.time() < deadline and self.proc.poll() is None:
            try:
                seen.append(self.lines.get(timeout=0.2))
            except queue.Empty:
                continue
            if seen[-1].startswith("listening on 127.0.0.1:"):
                self.port = int(seen[-1].rsplit(":", 1)[1])
        if self.port is None:
            self.stop()
        check(self.port is not None, "instance %s starts%s" % (name, "" if self.port else ": %s" % seen[-3:]))

    def request(self, method, path, body=None, headers=None):  # status None: the connection failed
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=20)
        try:
            conn.request(method, path, body=body, headers=headers or {})
            res = conn.getresponse()
            return res.status, res.read().decode("utf-8")
        except OSError as e:
            return None, str(e)
        finally:
            conn.close()

    def post(self, account, mac, computer="PC01", headers=()):  # (status, the message the checker shows)
        body = json.dumps({"param": [account, account, mac, "Example CPU 3.0GHz", 4, 2993, "8192",
                                     "Chip X;Adapter A;1024;0", "1920 x 1080", "Windows 7 64-Bit", computer, "", "", ""]},
                          ensure_ascii=False).encode("utf-8")
        status, text = self.request("POST", "/act/score/pcinfo/add", body,
                                    dict(headers, **{"Content-Type": "application/json; charset=utf-8"}))
        try:
            return status, json.loads(text)["message"] if status else text
        except (ValueError, KeyError):
            return status, "not a JSON reply: " + text

    def admin(self, path):
        return self.request("GET", path, headers={"X-Admin-Token": TOKEN})

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=10)


class Load:  # workers post distinct reports round-robin; replies: (instance, account, status, message, time)

    def __init__(self, instances, workers=8):
        self.instances, self.replies, self.stopping = instances, [], threading.Event()
        self.threads = [threading.Thread(target=self._work, args=(w,), daemon=True) for w in range(workers)]
        for t in self.threads:
            t.start()

    def _work(self, w):
        for n in range(100000):
            if self.stopping.is_set():
                return
            i = (w + n) % len(self.instances)
            if self.instances[i].proc.poll() is None:
                account, mac = "load%d_%d" % (w, n), "02-00-%02X-%02X-%02X-%02X" % (w, n >> 16, (n >> 8) & 255, n & 255)
                self.replies.append((i, account) + self.instances[i].post(account, mac) + (time.time(),))

    def successes(self, since=0.0, instance=None):
        return [r for r in list(self.replies) if r[2:4] == (200, SUCCESS) and r[4] >= since and instance in (None, r[0])]

    def stop(self):
        self.stopping.set()
        for t in self.threads:
            t.join(timeout=30)


def wait_for(condition, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline and not condition():
        time.sleep(0.1)
    return condition()


def all_stored(load, url):
    acknowledged = {r[1] for r in load.successes()}
    missing = acknowledged - set(psql(url, "SELECT account FROM enrolments"))
    check(not missing, "all %d acknowledged reports are stored" % len(acknowledged))


def race(binary, workdir):
    url = fresh_database("e2e_race")
    a, b = Instance(binary, url, workdir, "A"), Instance(binary, url, workdir, "B")
    try:
        start, replies = threading.Barrier(64), [None] * 64

        def send(i):
            start.wait(timeout=30)
            replies[i] = (a, b)[i % 2].post("racer", "AA-BB-CC-00-00-%02X" % i, "PC%02d" % i)

        threads = [threading.Thread(target=send, args=(i,)) for i in range(64)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=60)
        check(replies.count((200, SUCCESS)) == 1 and replies.count((200, ACCOUNT_USED)) == 63,
              "64 racing posts over two instances: one success, 63 told the account was used")
        form = {"Content-Type": "application/x-www-form-urlencoded"}
        a.request("POST", "/register", "account=newcomer", form)
        b.request("POST", "/register", "account=NEWCOMER", form)
        b.request("POST", "/register", "account=fresh-at-b", form)
        listed = a.admin("/register")[1]
        check("newcomer" in listed and "fresh-at-b" in listed and "NEWCOMER" not in listed,
              "instance B registers a new name and refuses the one A registered")
        for path in ("/", "/reports.csv", "/register"):
            check(a.admin(path) == b.admin(path) and a.admin(path)[0] == 200, "both instances answer %s alike" % path)
    finally:
        a.stop()
        b.stop()


def kill(binary, workdir):
    url = fresh_database("e2e_kill")
    a, b = Instance(binary, url, workdir, "A"), Instance(binary, url, workdir, "B")
    load = Load([a, b])
    try:
        check(wait_for(lambda: len(load.successes(instance=0)) >= 50, 30), "A acknowledges reports")
        a.stop(signal.SIGKILL)
        killed = time.time()
        check(wait_for(lambda: len(load.successes(killed + 0.5)) >= 50, 30), "B acknowledges after A died")
    finally:
        load.stop()
        b.stop()
    all_stored(load, url)
    check(all(r[2:4] == (200, SUCCESS) for r in load.replies if r[0] == 1), "B answered every report with a success")


def restart(binary, workdir):
    cluster = os.path.join(workdir, "pg")
    url = run(os.path.join(TOOLS, "pg-cluster.sh"), "start", cluster)
    instances, load = [], None
    try:
        instances = [Instance(binary, url, workdir, name) for name in "AB"]
        load = Load(instances)
        check(wait_for(lambda: len(load.successes()) >= 50, 30), "reports are acknowledged before the restart")
        run(os.path.join(TOOLS, "pg-cluster.sh"), "restart", cluster)
        back = time.time()
        check(wait_for(lambda: len(load.successes(back)) >= 50, 30), "the instances acknowledge again by themselves")
        load.stop()
        busy = [r for r in load.replies if r[2] == 503]
        check(busy and all(r[3] == BUSY for r in busy), "%d requests got 503 with the JSON message" % len(busy))
        others = [r for r in load.replies if r[2] != 503 and r[2:4] != (200, SUCCESS)]
        check(not others, "no other reply: %s" % others[:3])
        all_stored(load, url)
    finally:
        if load:
            load.stop()
        for inst in instances:
            inst.stop()
        subprocess.run([os.path.join(TOOLS, "pg-cluster.sh"), "stop", cluster], timeout=120)


def copy(binary, workdir):
    sqlite_db, url = os.path.join(workdir, "reports.db"), fresh_database("e2e_copy")
    one = Instance(binary, sqlite_db, workdir, "SQLite")
    for i, (account, mac) in enumerate([("alice", "00-11-22-33-44-55"), ("bob", "00-11-22-33-44-55"),
                                        ("玩家一", ""), ("alice", "66-77-88-99-AA-BB"), ("carol", "")]):
        one.post(account, mac, "PC%d" % (i % 2))
    one.request("POST", "/register", "account=dave", {"Content-Type": "application/x-www-form-urlencoded"})
    pages = [one.admin(path) for path in ("/", "/reports.csv", "/register")]
    one.stop()
    subprocess.run([binary, "staff", "add", "ann", "--role", "admin", "--password-stdin", "--db", sqlite_db],
                   input="correct horse battery\n", capture_output=True, text=True, timeout=60, check=True)
    Instance(binary, url, workdir, "empty PostgreSQL").stop()  # creates the schema
    run(os.path.join(TOOLS, "sqlite-to-postgres.sh"), sqlite_db, url)
    several = Instance(binary, url, workdir, "PostgreSQL")
    try:
        check([several.admin(path) for path in ("/", "/reports.csv", "/register")] == pages,
              "after the copy, dashboard, export and registrations are the same on PostgreSQL")
        check(several.post("ALICE", "00-00-00-00-00-01") == (200, ACCOUNT_USED), "and so are the enrolments")
        check(psql(url, "SELECT name || ' ' || role FROM staff") == ["ann admin"] and
              psql(url, "SELECT actor || ' ' || action FROM audit ORDER BY id")[:2] == ["token export", "console staff_add"],
              "and the staff accounts with the audit log")
    finally:
        several.stop()


def proxy(binary, workdir):
    url = fresh_database("e2e_proxy")
    behind = Instance(binary, url, workdir, "behind nginx", ("--rate", "1", "--real-ip-from", "127.0.0.1"))
    exposed = Instance(binary, url, workdir, "exposed", ("--rate", "1"))
    try:
        def statuses(inst, prefix, same):
            return [inst.post("%s%d" % (prefix, i), "", "PC%d" % i, {"X-Real-IP": "10.0.0.%d" % (1 if same else i)})[0]
                    for i in range(1, 9)]
        check(statuses(behind, "p", False) == [200] * 8, "behind a trusted proxy, each player has a bucket of its own")
        check(429 in statuses(behind, "q", True), "and one player alone is limited")
        check(429 in statuses(exposed, "r", False), "X-Real-IP from anyone else changes nothing")
        csv = behind.admin("/reports.csv")[1]
        check(all("10.0.0.%d" % i in csv for i in range(2, 9)), "the player's address is recorded")
    finally:
        behind.stop()
        exposed.stop()


class Staff:
    """A support person signed in on one instance, with the session's CSRF token."""

    def __init__(self, binary, url, inst):
        run_input = subprocess.run([binary, "staff", "add", "ann", "--role", "support", "--password-stdin", "--db", url],
                                   input="correct horse battery\n", capture_output=True, text=True, timeout=60)
        check(run_input.returncode == 0, "a support account is made: " + run_input.stderr)
        self.inst, self.host = inst, {"Host": "127.0.0.1:%d" % inst.port}
        conn = http.client.HTTPConnection("127.0.0.1", inst.port, timeout=20)
        conn.request("POST", "/login", "name=ann&password=correct+horse+battery",
                     dict(self.host, **{"Content-Type": "application/x-www-form-urlencoded"}))
        res = conn.getresponse()
        res.read()
        self.cookie = (res.getheader("Set-Cookie") or "").split(";")[0]
        page = inst.request("GET", "/search", headers=dict(self.host, Cookie=self.cookie))[1]
        found = re.search(r'name="csrf" value="([0-9a-f]+)"', page)
        check(res.status == 303 and found, "support signs in")
        self.csrf = found.group(1)

    def change(self, action, account, reason="farm"):  # the status, and where a 303 leads
        conn = http.client.HTTPConnection("127.0.0.1", self.inst.port, timeout=30)
        body = "csrf=%s&key=%s&reason=%s" % (self.csrf, account, reason)
        conn.request("POST", "/" + action, body, dict(self.host, Cookie=self.cookie,
                                                     **{"Content-Type": "application/x-www-form-urlencoded"}))
        res = conn.getresponse()
        res.read()
        return res.status


def revoke(binary, workdir):
    """Support revokes and restores one enrolment on A while B (and A) take reports of the same account from new
    machines and of other accounts from its machine, with and without the MAC: the enrolment is decided under
    the same locks either way, so one enrolment of the account stands, and every figure kept beside it agrees."""
    url = fresh_database("e2e_revoke")
    a, b = Instance(binary, url, workdir, "A"), Instance(binary, url, workdir, "B")
    stop, replies = threading.Event(), []
    try:
        check(a.post("racer", "AA-BB-CC-00-00-00", "PC00") == (200, SUCCESS), "the account enrols")
        ann = Staff(binary, url, a)

        def reports(w):
            for n in range(100000):
                if stop.is_set():
                    return
                inst = (a, b)[(w + n) % 2]
                if w == 0:
                    replies.append(inst.post("racer", "AA-BB-CC-%02X-%02X-%02X" % (w + 1, n >> 8, n & 255), "PC%d" % w))
                elif w == 1:
                    replies.append(inst.post("other%d_%d" % (w, n), "AA-BB-CC-00-00-00", "PC00"))
                else:
                    replies.append(inst.post("bare%d_%d" % (w, n), "", "PC00"))  # the same fingerprint, no MAC

        threads = [threading.Thread(target=reports, args=(w,), daemon=True) for w in range(8)]
        for t in threads:
            t.start()
        statuses = []
        for _ in range(40):
            statuses.append(ann.change("revoke", "racer"))
            statuses.append(ann.change("restore", "racer"))
        stop.set()
        for t in threads:
            t.join(timeout=30)
        # How many go through depends on the race (a restore is refused once the account or its machine has
        # enrolled again, and a revoke finds nothing once another account took the machine); each is answered.
        check(all(s in (303, 409) for s in statuses) and statuses[0] == 303,
              "80 revocations and restorations answered (%d done): %s" % (statuses.count(303), sorted(set(statuses))))
        check(all(r[0] == 200 for r in replies), "%d racing reports answered" % len(replies))
        a.post("racer", "AA-BB-CC-FF-FF-FF", "PCFF")  # enrols unless the account stands already
        one = lambda sql: int(psql(url, sql)[0])
        check(one("SELECT count(*) FROM enrolments WHERE account_key = 'racer'") == 1, "one enrolment of the account stands")
        check(one("SELECT count(*) FROM enrolments e JOIN enrolments f ON e.fingerprint = f.fingerprint AND "
                  "e.report_id <> f.report_id AND e.machine_key LIKE 'fp:%'") == 0,
              "no machine without a MAC stands beside another of its fingerprint")
        standing = one("SELECT count(*) FROM enrolments")
        check(one("SELECT sum(n) FROM hardware_counts WHERE aspect = 'os'") == standing, "the hardware shares count the %d "
              "standing machines" % standing)
        check(one("SELECT (SELECT sum(n) FROM outcome_counts WHERE outcome = 'success') - "
                  "(SELECT count(*) FROM revoked_enrolments)") == standing, "successes less revocations are the standing")
        check(one("SELECT sum(points) FROM reports") == 20 * standing, "points stand with the enrolments only")
    finally:
        stop.set()
        a.stop()
        b.stop()


def ready(binary, workdir):
    """/readyz follows the database: 503 with the reason while the cluster is stopped, 200 once it is back."""
    cluster = os.path.join(workdir, "pg")
    url = run(os.path.join(TOOLS, "pg-cluster.sh"), "start", cluster)
    inst = None
    try:
        inst = Instance(binary, url, workdir, "A")
        check(inst.request("GET", "/readyz")[0] == 200, "ready with the database up")
        run(os.path.join(TOOLS, "pg-cluster.sh"), "halt", cluster)
        check(wait_for(lambda: inst.request("GET", "/readyz")[0] == 503, 30), "503 once the database is gone")
        check("database" in inst.request("GET", "/readyz")[1], "with the reason")
        check(inst.request("GET", "/healthz")[0] == 200, "while the process still serves")
        run(os.path.join(TOOLS, "pg-cluster.sh"), "resume", cluster)
        check(wait_for(lambda: inst.request("GET", "/readyz")[0] == 200, 30), "200 again once it is back")
    finally:
        if inst:
            inst.stop()
        subprocess.run([os.path.join(TOOLS, "pg-cluster.sh"), "stop", cluster], timeout=120)


if __name__ == "__main__":
    scenarios = {"race": race, "kill": kill, "restart": restart, "copy": copy, "proxy": proxy, "revoke": revoke,
                 "ready": ready}
    if len(sys.argv) != 4 or sys.argv[1] not in scenarios:
        sys.exit(__doc__)
    shutil.rmtree(sys.argv[3], ignore_errors=True)
    os.makedirs(sys.argv[3])
    scenarios[sys.argv[1]](sys.argv[2], sys.argv[3])
