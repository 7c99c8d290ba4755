#!/usr/bin/env python3
"""Several report-service programs on one PostgreSQL, as behind a load balancer, on loopback.

    service_pg_e2e.py race BINARY WORKDIR     64 racing posts of one account spread over two instances give one
                                              success; registration, dashboard and export agree on both
    service_pg_e2e.py kill BINARY WORKDIR     kill -9 of one instance under load: every acknowledged report is stored
    service_pg_e2e.py restart BINARY WORKDIR  the database restarted under load: only 503 while it is away, never a
                                              false success, and the service recovers by itself
race and kill use a fresh database in the cluster named by REPORT_SERVICE_TEST_PG; restart starts a cluster of
its own under WORKDIR. Every wait is bounded; programs are stopped by their process ids.
"""
import http.client
import json
import os
import queue
import shutil
import signal
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PG_CLUSTER = os.path.join(HERE, "..", "..", "tools", "pg-cluster.sh")
PSQL = "/usr/lib/postgresql/15/bin/psql"
SUCCESS = "提交成功，本账号获得20积分"
ACCOUNT_USED = "此账号已经提交成功过，每个账号只能成功一次"
BUSY = "服务器忙，请稍后再试"
TOKEN = "pg-e2e-token"


def fail(message):
    print("FAIL: " + message, flush=True)
    sys.exit(1)


def check(condition, message):
    if not condition:
        fail(message)
    print("ok: " + message, flush=True)


def psql(url, sql):
    out = subprocess.run([PSQL, "-qAtX", "-d", url, "-c", sql], capture_output=True, text=True, timeout=60)
    if out.returncode != 0:
        fail("psql %s: %s" % (sql, out.stderr))
    return out.stdout.split("\n")[:-1]


def fresh_database(workdir):
    with open(os.environ["REPORT_SERVICE_TEST_PG"]) as f:
        url = f.read().strip()
    base = url.rsplit("/", 1)[0]
    name = "e2e_%d" % os.getpid()
    psql(base + "/postgres", "DROP DATABASE IF EXISTS %s WITH (FORCE)" % name)
    psql(base + "/postgres", "CREATE DATABASE %s" % name)
    return base + "/" + name


def payload(account, mac, computer="PC01"):
    return json.dumps({"param": [account, account, mac, "Example CPU 3.0GHz", 4, 2993, "8192",
                                 "Chip X;Adapter A;1024;0", "1920 x 1080", "Windows 7 Professional 64-Bit",
                                 computer, "", "", ""]}, ensure_ascii=False).encode("utf-8")


class Instance:
    """One service program; its output is read by a thread so it never blocks."""

    def __init__(self, binary, db, workdir, name):
        token_file = os.path.join(workdir, "admin-token")
        with open(token_file, "w") as f:
            f.write(TOKEN + "\n")
        os.chmod(token_file, 0o600)
        self.name = name
        self.proc = subprocess.Popen([binary, "--listen", "127.0.0.1:0", "--db", db, "--admin-token-file", token_file,
                                      "--rate", "0", "--quiet"],
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.lines = queue.Queue()
        self.all_lines = []
        threading.Thread(target=self._read, daemon=True).start()
        self.port = None
        deadline = time.time() + 20
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
            fail("instance %s did not start: %s" % (name, "".join(self.all_lines)))
        check(TOKEN not in " ".join(self.proc.args), "instance %s: the admin token is not on its command line" % name)

    def _read(self):
        for line in self.proc.stdout:
            self.all_lines.append(line)
            self.lines.put(line.strip())

    def request(self, method, path, body=None, headers=None):
        """(status, body text); status None when the connection failed."""
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=20)
        try:
            conn.request(method, path, body=body, headers=headers or {})
            res = conn.getresponse()
            return res.status, res.read().decode("utf-8")
        except OSError as e:
            return None, str(e)
        finally:
            conn.close()

    def post(self, account, mac, computer="PC01"):
        """(status, message shown by the checker)."""
        status, body = self.request("POST", "/act/score/pcinfo/add", payload(account, mac, computer),
                                    {"Content-Type": "application/json; charset=utf-8"})
        if status is None:
            return None, body
        try:
            return status, json.loads(body)["message"]
        except (ValueError, KeyError):
            return status, "not a JSON reply: " + body

    def admin(self, path):
        return self.request("GET", path, headers={"X-Admin-Token": TOKEN})

    def kill9(self):
        self.proc.send_signal(signal.SIGKILL)
        self.proc.wait(timeout=10)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=10)


class Load:
    """Workers posting distinct reports round-robin over the instances until stopped; every reply recorded."""

    def __init__(self, instances, workers=8):
        self.instances = instances
        self.replies = []  # (instance name, account, status, message, time)
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.threads = [threading.Thread(target=self._work, args=(w,), daemon=True) for w in range(workers)]
        for t in self.threads:
            t.start()

    def _work(self, w):
        n = 0
        while not self.stopping.is_set() and n < 100000:
            n += 1
            inst = self.instances[(w + n) % len(self.instances)]
            if inst.proc.poll() is not None:
                continue
            account = "load%d_%d_%d" % (os.getpid(), w, n)
            mac = "02-%02X-%02X-%02X-%02X-%02X" % (os.getpid() & 255, w, (n >> 16) & 255, (n >> 8) & 255, n & 255)
            status, message = inst.post(account, mac)
            with self.lock:
                self.replies.append((inst.name, account, status, message, time.time()))

    def successes(self, since=0.0):
        with self.lock:
            return [r for r in self.replies if r[2] == 200 and r[3] == SUCCESS and r[4] >= since]

    def stop(self):
        self.stopping.set()
        for t in self.threads:
            t.join(timeout=30)


def wait_for(condition, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return False


def stored_accounts(url):
    return set(psql(url, "SELECT account FROM enrolments"))


def race(binary, workdir):
    url = fresh_database(workdir)
    a, b = Instance(binary, url, workdir, "A"), Instance(binary, url, workdir, "B")
    try:
        start = threading.Barrier(64)
        replies = [None] * 64

        def send(i):
            start.wait(timeout=30)
            replies[i] = (a, b)[i % 2].post("racer", "AA-BB-CC-00-00-%02X" % i, "PC%02d" % i)

        threads = [threading.Thread(target=send, args=(i,)) for i in range(64)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(timeout=60)
        check(sum(1 for r in replies if r == (200, SUCCESS)) == 1, "64 racing posts over two instances: one success")
        check(all(r in ((200, SUCCESS), (200, ACCOUNT_USED)) for r in replies),
              "the other 63 are told the account was used: %s" % sorted(set(map(str, replies))))

        form = {"Content-Type": "application/x-www-form-urlencoded"}
        status, _ = a.request("POST", "/register", "account=newcomer", form)
        check(status == 200, "registered at instance A")
        b.request("POST", "/register", "account=NEWCOMER", form)
        b.request("POST", "/register", "account=fresh-at-b", form)
        listed = a.admin("/register")[1]
        check("newcomer" in listed and "fresh-at-b" in listed and "NEWCOMER" not in listed,
              "instance B registers a new name and refuses the one A registered")
        # Whichever instance is asked, the admin pages say the same.
        for path in ("/", "/reports.csv", "/register"):
            sa, body_a = a.admin(path)
            sb, body_b = b.admin(path)
            check(sa == 200 and sb == 200 and body_a == body_b, "both instances answer %s alike" % path)
    finally:
        a.stop()
        b.stop()


def kill(binary, workdir):
    url = fresh_database(workdir)
    a, b = Instance(binary, url, workdir, "A"), Instance(binary, url, workdir, "B")
    load = Load([a, b])
    try:
        check(wait_for(lambda: len([r for r in load.successes() if r[0] == "A"]) >= 50, 30), "A acknowledges reports")
        a.kill9()
        killed_at = time.time()
        check(wait_for(lambda: len(load.successes(killed_at + 0.5)) >= 50, 30), "B keeps acknowledging after A died")
    finally:
        load.stop()
        b.stop()
        a.stop()
    acknowledged = {r[1] for r in load.successes()}
    missing = acknowledged - stored_accounts(url)
    check(not missing, "all %d acknowledged reports are stored (%d from A)" %
          (len(acknowledged), len([r for r in load.successes() if r[0] == "A"])))
    check(all((r[2], r[3]) == (200, SUCCESS) for r in load.replies if r[0] == "B"),
          "B answered every report it was sent with a success")


def restart(binary, workdir):
    cluster = os.path.join(workdir, "pg")
    started = subprocess.run([PG_CLUSTER, "start", cluster], capture_output=True, text=True, timeout=120)
    if started.returncode != 0:
        fail("cannot start a cluster: " + started.stderr)
    url = started.stdout.strip()
    a = b = load = None
    try:
        a, b = Instance(binary, url, workdir, "A"), Instance(binary, url, workdir, "B")
        load = Load([a, b])
        check(wait_for(lambda: len(load.successes()) >= 50, 30), "reports are acknowledged before the restart")
        went_down = time.time()
        restarted = subprocess.run([PG_CLUSTER, "restart", cluster], capture_output=True, text=True, timeout=120)
        if restarted.returncode != 0:
            fail("cannot restart the cluster: " + restarted.stderr)
        back = time.time()
        check(wait_for(lambda: len(load.successes(back)) >= 50, 30), "the instances acknowledge again by themselves")
        first = min(r[4] for r in load.successes(back))
        print("restart took %.1f s; the first success came %.1f s after it" % (back - went_down, first - back))
        load.stop()
        replies = load.replies
        busy = [r for r in replies if r[2] == 503]
        check(busy and all(r[3] == BUSY for r in busy), "%d requests got 503 with the JSON message" % len(busy))
        others = [r for r in replies if r[2] != 503 and (r[2], r[3]) != (200, SUCCESS)]
        check(not others, "no other reply: %s" % others[:3])
        acknowledged = {r[1] for r in load.successes()}
        missing = acknowledged - stored_accounts(url)
        check(not missing, "all %d acknowledged reports are stored" % len(acknowledged))
    finally:
        if load:
            load.stop()
        for inst in (a, b):
            if inst:
                inst.stop()
        subprocess.run([PG_CLUSTER, "stop", cluster], capture_output=True, timeout=120)


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("race", "kill", "restart"):
        print(__doc__)
        sys.exit(2)
    what, binary, workdir = sys.argv[1:]
    shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(workdir)
    {"race": race, "kill": kill, "restart": restart}[what](binary, workdir)


if __name__ == "__main__":
    main()
