#!/usr/bin/env python3
"""Attacks on the real report-service program, each from clients that stay inside every limit it has, each
asserting the figure that shows it holds. Loopback only; every loop and wait is bounded.

    attacks.py stop BINARY WORKDIR        SIGTERM under load, several runs: no report stored without its
                                          answer; an idle service exits at once
    attacks.py admission BINARY WORKDIR   17 addresses x 245 half-open connections held: a player's report
                                          is still answered, in under 2 s
    attacks.py fields BINARY WORKDIR      a report past the checker's buffers is malformed; the largest the
                                          checker can send costs a bounded number of bytes stored
    attacks.py labels BINARY WORKDIR      invented chip names from one address: the hardware table stays at its
                                          bound per aspect, and the dashboard's time is printed
    attacks.py machine BINARY WORKDIR     a machine enrolled without a MAC does not enrol again with one; a
                                          MAC with a character other than hex and separators is malformed
    attacks.py farming BINARY WORKDIR     a script inventing MACs from one address enrols at most the day's
                                          bound, and behind a proxy each player address has its own
    attacks.py header BINARY WORKDIR      a header of many tiny fields trickled in: 8 KiB counted in bytes,
                                          8192 answered, 8193 refused
    attacks.py refusals BINARY WORKDIR    refusals past the kept bound become daily counts (the dashboard
                                          still counts each); below the free-space floor reports get 503,
                                          /readyz says why and so does one log line
"""
import http.client
import json
import os
import resource
import shutil
import socket
import sqlite3
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from service_e2e import SUCCESS, TOKEN, Service, check, enrolled_accounts, fail, payload, shown  # noqa: E402


def stop_under_load(binary, work, runs=4, senders=32):
    for run in range(runs):
        db = os.path.join(work, "stop%d.db" % run)
        svc = Service(binary, db, "--quiet", "--rate", "0", "--max-enrolments-per-address", "0")
        answered, lock, halt = set(), threading.Lock(), threading.Event()

        def sender(n):
            conn = http.client.HTTPConnection("127.0.0.1", svc.port, timeout=5)
            for i in range(100000):
                if halt.is_set():
                    return
                account = "stop%d-%d-%d" % (run, n, i)
                mac = "02-%02X-%02X-%02X-%02X-%02X" % (run, n, (i >> 16) & 255, (i >> 8) & 255, i & 255)
                try:
                    status, body = svc.post_report(payload(account, mac), conn)
                except (OSError, http.client.HTTPException):
                    return  # the service is going: its answer, if any, did not arrive
                if shown(body) == SUCCESS:
                    with lock:
                        answered.add(account)

        threads = [threading.Thread(target=sender, args=(n,)) for n in range(senders)]
        for t in threads:
            t.start()
        time.sleep(1.5)
        began = time.monotonic()
        code = svc.stop()
        took = time.monotonic() - began
        halt.set()
        for t in threads:
            t.join(timeout=15)
        stored = enrolled_accounts(db)
        unanswered = stored - answered
        print("run %d: %d stored, %d answered as successes, %d stored but unanswered, stop took %.2f s"
              % (run, len(stored), len(answered), len(unanswered), took), flush=True)
        check(code == 0, "run %d: the service exits cleanly" % run)
        check(len(stored) > 0, "run %d: reports were stored under load" % run)
        check(not unanswered, "run %d: every stored report was answered" % run)
        check(answered <= stored, "run %d: every answered success is stored" % run)

    svc = Service(binary, os.path.join(work, "idle.db"), "--quiet")
    svc.request("GET", "/register")
    began = time.monotonic()
    svc.stop()
    took = time.monotonic() - began
    print("idle stop took %.3f s" % took, flush=True)
    # Far below the 3 s that requests in flight may get: nothing is in flight.
    check(took < 1.5, "an idle service exits at once")


def half_open(port, source, count, held):
    """count connections from source that each send half a request header and stop."""
    for _ in range(count):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind((source, 0))
            s.connect(("127.0.0.1", port))
            s.sendall(b"POST /act/score/pcinfo/add HTTP/1.1\r\nHost: x\r\n")
        except OSError:
            s.close()
            return
        held.append(s)


def admission(binary, work, addresses=17, per_address=245, reports=12):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    want = addresses * per_address + 256
    if soft < want:
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(want, hard), hard))
    if resource.getrlimit(resource.RLIMIT_NOFILE)[0] < want:
        fail("this test needs %d descriptors, the limit is %d" % (want, hard))
    svc = Service(binary, os.path.join(work, "admission.db"), "--quiet", "--rate", "0")
    held = []
    try:
        # Every address of 127.0.0.0/8 is loopback: 17 senders, each within the per-address cap.
        for a in range(addresses):
            half_open(svc.port, "127.0.1.%d" % (a + 1), per_address, held)
        print("%d half-open connections held" % len(held), flush=True)
        check(len(held) >= 4096, "the half-open connections fill every place")
        times, answered = [], 0
        for n in range(reports):
            began = time.monotonic()
            try:
                status, body = svc.post_report(payload("player%d" % n, "02-AD-00-00-00-%02X" % n))
                answered += shown(body) == SUCCESS
            except OSError as e:
                print("report %d: %s" % (n, e), flush=True)
            times.append(time.monotonic() - began)
            # The attackers come back: each reconnects at once, as a flood would.
            for s in held[:per_address]:
                s.close()
            del held[:per_address]
            half_open(svc.port, "127.0.1.%d" % (n % addresses + 1), per_address, held)
        print("player reports: %d of %d answered, slowest %.3f s" % (answered, reports, max(times)), flush=True)
        check(answered == reports, "every player report is answered while the places are held")
        check(max(times) < 2.0, "each in under 2 s")
    finally:
        for s in held:
            s.close()
        svc.stop()


MACHINE_USED = "此电脑已经提交成功过，每台电脑只能成功一次"
MALFORMED = "提交的数据格式有误，请使用官方检测程序"
ADDRESS_LIMIT = "此网络地址今日报名的电脑已达上限，请明天再试"


def code_of(body):
    try:
        return json.loads(body)["code"]
    except (ValueError, KeyError):
        return None


def machine(binary, work):
    svc = Service(binary, os.path.join(work, "machine.db"), "--quiet")
    try:
        cases = [  # (account, MAC, computer name, what the checker shows)
            ("fp1", "", "CAFE-07", SUCCESS),
            ("fp2", "", "CAFE-07", MACHINE_USED),               # blank again: the fingerprint
            ("fp3", "02-00-00-00-07-07", "CAFE-07", MACHINE_USED),  # then with a MAC: still that machine
            ("fp4", "02-00-00-00-07-08", "CAFE-08", SUCCESS),     # another machine, a MAC of its own
            ("fp5", "02-00-00-00-07-09", "CAFE-08", SUCCESS),     # same fingerprint, its own MAC: two machines
            ("fp6", "02-00-00-00-07-0é", "CAFE-09", MALFORMED),  # one non-ASCII character: not "no MAC"
        ]
        for account, mac, computer, expected in cases:
            status, body = svc.post_report(payload(account, mac, computer=computer).decode().encode("gb18030"))
            check(shown(body) == expected, "%s, MAC %r on %s: %s" % (account, mac, computer, shown(body)))
    finally:
        svc.stop()


def farming(binary, work, bound=5):
    svc = Service(binary, os.path.join(work, "farming.db"), "--quiet", "--rate", "0",
                  "--max-enrolments-per-address", str(bound), "--real-ip-from", "127.0.0.1")
    try:
        conn = http.client.HTTPConnection("127.0.0.1", svc.port, timeout=10)
        headers = {"Content-Type": "Application/json"}

        def post(account, mac, player=None):
            h = dict(headers, **({"X-Real-IP": player} if player else {}))
            conn.request("POST", "/act/score/pcinfo/add", body=payload(account, mac, computer=account), headers=h)
            res = conn.getresponse()
            return res.status, res.read().decode("utf-8")

        # One address inventing machines: as many as the bound, then the refusal with its own code.
        results = [post("farm%d" % i, "02-FA-00-00-00-%02X" % i, "203.0.113.9") for i in range(3 * bound)]
        enrolled = sum(shown(b) == SUCCESS for _, b in results)
        refused = [b for _, b in results if shown(b) == ADDRESS_LIMIT]
        print("one address, %d invented machines: %d enrolled, %d refused" % (len(results), enrolled, len(refused)),
              flush=True)
        check(enrolled == bound, "one address enrols the day's bound of %d and no more" % bound)
        check(len(refused) == 2 * bound and all(code_of(b) == 7 for b in refused), "the rest get code 7")
        check(all(s == 200 for s, _ in results), "as a rule's reply (200), like the other refusals")
        # Another player behind the same proxy has a bound of its own.
        status, body = post("other", "02-FA-00-00-01-01", "198.51.100.7")
        check(shown(body) == SUCCESS, "another player address behind the proxy still enrols")
        status, body = post("nearby", "02-FA-00-00-01-02", "203.0.113.9")
        check(shown(body) == ADDRESS_LIMIT, "the first address stays at its bound")
    finally:
        svc.stop()


def largest_report(n, mac):
    """The largest report the checker can make: every buffer full, in code page 936."""
    account = "大" * 60 + "%04d" % n
    displays = "|".join("芯" * 64 + ";" + "名" * 64 + ";-2147483648;0" for _ in range(10))
    param = [account, account, mac, "C" * 48, 4096, 32767, "67108864", displays, "-2147483648 x -2147483648",
             "旗" * 127 + " 64-Bit", "机" * 11 + "%04d" % n, "", "", ""]
    return json.dumps({"param": param}, ensure_ascii=False, separators=(",", ":")).encode("gb18030")


def database_bytes(db):
    conn = sqlite3.connect(db, timeout=10)
    try:
        conn.execute("PRAGMA wal_checkpoint(TRUNCATE)")
        return conn.execute("PRAGMA page_count").fetchone()[0] * conn.execute("PRAGMA page_size").fetchone()[0]
    finally:
        conn.close()


def fields(binary, work, reports=200, most=32 * 1024):
    db = os.path.join(work, "fields.db")
    svc = Service(binary, db, "--quiet", "--rate", "0", "--max-enrolments-per-address", "0")
    try:
        oversized = payload("big", "02-B1-00-00-00-01", cpu="C" * 2500, computer="P" * 2500,
                            displays="|".join(["Chip;Name;1024;0"] * 560))
        status, body = svc.post_report(oversized)
        check(status == 400 and shown(body) == MALFORMED,
              "a %d-byte report past the checker's buffers is malformed" % len(oversized))
        conn = http.client.HTTPConnection("127.0.0.1", svc.port, timeout=10)
        for label, offset, mac in (("with a MAC", 0, True), ("without a MAC", 5000, False)):
            before, sent = database_bytes(db), 0
            for n in range(reports):
                body = largest_report(n + offset, "02-B2-00-00-%02X-%02X" % (n >> 8, n & 255) if mac else "")
                sent += len(body)
                status, reply = svc.post_report(body, conn)
                if shown(reply) != SUCCESS:
                    fail("the largest report the checker can make is refused: " + reply)
            per_report = (database_bytes(db) - before) / reports
            print("largest report %s: %d-byte body, %.0f bytes stored per report, %.1f per byte sent"
                  % (label, sent // reports, per_report, per_report * reports / sent), flush=True)
            check(per_report <= most, "%s it costs at most %d bytes stored" % (label, most))
    finally:
        svc.stop()


def labels(binary, work, reports=300, bound=200):
    db = os.path.join(work, "labels.db")
    svc = Service(binary, db, "--quiet", "--rate", "0", "--max-enrolments-per-address", "0")
    try:
        conn = http.client.HTTPConnection("127.0.0.1", svc.port, timeout=10)
        for n in range(reports):
            displays = "|".join("Invented %d-%d;Adapter;1024;0" % (n, k) for k in range(10))
            status, body = svc.post_report(payload("label%d" % n, "02-1A-00-00-%02X-%02X" % (n >> 8, n & 255),
                                                   displays=displays, computer="L%d" % n), conn)
            if shown(body) != SUCCESS:
                fail("a report with invented chips is refused: " + body)
        began = time.monotonic()
        status, page = svc.request("GET", "/", headers={"X-Admin-Token": TOKEN})
        took = time.monotonic() - began
        rows = sqlite3.connect(db).execute("SELECT count(*) FROM hardware_counts WHERE aspect = 'chip'").fetchone()[0]
        print("%d invented chip names: %d chip rows kept, dashboard %d bytes in %.3f s"
              % (reports * 10, rows, len(page), took), flush=True)
        check(status == 200, "the dashboard answers")
        check(rows <= bound + 1, "the chip labels stay within %d and the folded one" % bound)
    finally:
        svc.stop()


def trickled_header(port, size, piece=1000):
    """A GET whose header is exactly size bytes of tiny fields, sent a piece at a time: the status line."""
    head = b"GET /register HTTP/1.1\r\nHost: x\r\n"
    fields, n = [], 0
    while len(head) + sum(map(len, fields)) + 9 + 16 <= size:
        fields.append(b"X%03x: b\r\n" % (n % 4096))  # 9 bytes each
        n += 1
    pad = size - len(head) - sum(map(len, fields)) - 2 - len(b"Y: \r\n")
    data = head + b"".join(fields) + b"Y: " + b"p" * pad + b"\r\n\r\n"
    assert len(data) == size, len(data)
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        for at in range(0, len(data), piece):
            s.sendall(data[at:at + piece])
            time.sleep(0.01)
        reply = b""
        while b"\r\n" not in reply:
            got = s.recv(4096)
            if not got:
                break
            reply += got
    return len(fields), reply.split(b"\r\n", 1)[0].decode()


def header(binary, work, limit=8 * 1024):
    svc = Service(binary, os.path.join(work, "header.db"), "--quiet", "--rate", "0")
    try:
        for size, expected in ((limit, "200"), (limit + 1, "413"), (11000, "413")):
            fields, status = trickled_header(svc.port, size)
            print("%d-byte header of %d tiny fields, in 1000-byte pieces: %s" % (size, fields, status), flush=True)
            check(status.split(" ")[1:2] == [expected], "a %d-byte header gets %s" % (size, expected))
    finally:
        svc.stop()


def refusals(binary, work, kept=50, sent=200):
    db = os.path.join(work, "refusals.db")
    svc = Service(binary, db, "--quiet", "--rate", "0", "--max-refused-reports", str(kept))
    try:
        conn = http.client.HTTPConnection("127.0.0.1", svc.port, timeout=10)
        status, body = svc.post_report(payload("taken", "02-AA-00-00-00-01"), conn)
        check(shown(body) == SUCCESS, "the account enrols once")
        for n in range(sent):
            status, body = svc.post_report(payload("taken", "02-AA-00-01-%02X-%02X" % (n >> 8, n & 255),
                                                   computer="R%d" % n), conn)
            if code_of(body) != 1:
                fail("a report of an enrolled account is not refused as such: " + body)
        rows = sqlite3.connect(db).execute("SELECT count(*) FROM reports WHERE outcome <> 'success'").fetchone()[0]
        summary = sqlite3.connect(db).execute("SELECT coalesce(sum(n), 0) FROM refused_summary").fetchone()[0]
        status, page = svc.request("GET", "/", headers={"X-Admin-Token": TOKEN})
        counted = page.split("账号已用<b>", 1)[1].split("<", 1)[0] if "账号已用<b>" in page else "?"
        status, csv = svc.request("GET", "/reports.csv", headers={"X-Admin-Token": TOKEN})
        exported = csv.count("\r\n") - 1
        print("%d refusals, bound %d: %d rows kept, %d summarised, dashboard counts %s, export %d rows"
              % (sent, kept, rows, summary, counted, exported), flush=True)
        check(rows == kept, "only the newest %d refusals are kept row by row" % kept)
        check(summary == sent - kept, "the older %d are daily counts" % (sent - kept))
        check(counted == str(sent), "the dashboard still counts every refusal")
        check(exported == kept + 1, "the export lists the success and the kept refusals")
    finally:
        svc.stop()
    # A floor no disk has: every report is below it.
    svc = Service(binary, os.path.join(work, "floor.db"), "--quiet", "--min-free-mb", str(1 << 30))
    try:
        status, body = svc.post_report(payload("floor", "02-AA-00-02-00-01"))
        check(status == 503, "below the free-space floor a report is answered 503")
        deadline = time.time() + 10
        ready = svc.request("GET", "/readyz")
        while ready[0] != 503 and time.time() < deadline:
            time.sleep(0.2)
            ready = svc.request("GET", "/readyz")
        print("/readyz: %d %s" % (ready[0], ready[1].strip()), flush=True)
        check(ready[0] == 503 and "below the floor" in ready[1], "/readyz is unready and says why")
        status, body = svc.post_report(payload("floor2", "02-AA-00-02-00-02"))
        deadline = time.time() + 5
        while not any("below the floor" in l for l in svc.all_lines) and time.time() < deadline:
            time.sleep(0.1)
        time.sleep(0.5)
        why = [l for l in svc.all_lines if "below the floor" in l]
        print("log: " + "".join(why).strip(), flush=True)
        check(status == 503 and len(why) == 1, "one log line says why, however many reports get 503")
    finally:
        svc.stop()


def main():
    attacks = {"stop": stop_under_load, "admission": admission, "machine": machine, "farming": farming,
               "fields": fields, "labels": labels, "header": header, "refusals": refusals}
    if len(sys.argv) < 4 or sys.argv[1] not in attacks:
        print(__doc__)
        return 2
    what, binary, work = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    attacks[what](binary, work)
    print("PASS", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
