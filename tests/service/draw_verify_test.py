#!/usr/bin/env python3
"""The published rule, read twice: `report-service draw verify` and tools/draw-verify.py (a second reading of
the documented rule, standard library only) must choose the same accounts, byte for byte, over random
published lists with awkward account names, every strategy, and strata from tiny to large.

    draw_verify_test.py REPORT_SERVICE DRAW_VERIFY_PY WORKDIR
"""
import os
import random
import subprocess
import sys

ASPECTS = ["os", "chip", "vram", "memory", "cores", "resolution"]


def field(value):
    return b'"' + value.replace(b'"', b'""') + b'"'


def run(command):
    done = subprocess.run(command, capture_output=True, timeout=120)
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")


def main():
    service, script, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    rng = random.Random(20261209)
    pieces = [b"a", b"Z", b",", b'"', b"\n", "玩家".encode(), b"\xc3\xa9", b"0", b" "]
    failures = compared = 0
    for trial in range(40):
        strategy = rng.choice(["uniform", "proportional", "coverage"])
        aspects = [] if strategy == "uniform" else [a for a in ASPECTS if rng.random() < 0.4] or ["chip"]
        accounts = set()
        for _ in range(rng.randrange(1, 600)):
            accounts.add(b"".join(rng.choice(pieces) for _ in range(rng.randrange(1, 7))))
        rows = [[b"account"] + [a.encode() for a in aspects]]
        for account in sorted(accounts):
            rows.append([account] + [("L%d" % min(rng.randrange(8), rng.randrange(8))).encode() for _ in aspects])
        path = os.path.join(work, "list%d.csv" % trial)
        with open(path, "wb") as f:
            f.write(b"".join(b",".join(field(x) for x in r) + b"\n" for r in rows))
        params = "size=%d strategy=%s" % (rng.randrange(1, len(accounts) + 20), strategy)
        if aspects:
            params += " aspects=" + ",".join(aspects)
        if strategy == "coverage":
            params += " minimum=%d" % rng.randrange(1, 6)
        seed = "public value %d" % rng.randrange(10 ** 9)
        code_c, out_c, err_c = run([service, "draw", "verify", path, "--seed", seed, "--params", params])
        code_py, out_py, err_py = run([sys.executable, script, path, "--seed", seed, "--params", params])
        shown = "trial %d (%s):\n%s\n%s" % (trial, params, err_c, err_py)
        if code_c != code_py or out_c != out_py:
            print("DIFFERENT " + shown)
            failures += 1
            continue
        if code_c == 0:
            compared += 1
            # The hash lines agree too, and the service accepts its own result as the published one.
            hashes = lambda text: [l for l in text.splitlines() if "sha256" in l]
            if hashes(err_c) != hashes(err_py):
                print("DIFFERENT HASHES " + shown)
                failures += 1
            result = os.path.join(work, "result%d.csv" % trial)
            with open(result, "wb") as f:
                f.write(out_c)
            if run([sys.executable, script, path, "--seed", seed, "--params", params, "--result", result])[0] != 0:
                print("RESULT NOT ACCEPTED " + shown)
                failures += 1
    print("%d lists drawn alike by both, %d refused by both, %d failures" % (compared, 40 - compared - failures,
                                                                             failures))
    # Refusals alone would prove nothing.
    return 1 if failures or compared < 25 else 0


if __name__ == "__main__":
    sys.exit(main())
