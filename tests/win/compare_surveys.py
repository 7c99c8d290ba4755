"""compare_surveys.py SURVEY SURVEY64: the shipped 32-bit survey.exe and the 64-bit build's, run one after the
other on the same 64-bit Windows, describe the same machine. Every line of their output is equal, except
what changes between two runs: the measured clock (within 3 %), the free disk space (within 1 %) and the
survey's own time."""
import os
import re
import subprocess
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SKIP = 77


def survey(exe):
    r = subprocess.run([os.path.join(ROOT, "tools", "wine-env.sh"), "run", exe], capture_output=True, timeout=120,
                       stdin=subprocess.DEVNULL)
    if r.returncode != 0:
        sys.exit(f"{exe} exited with {r.returncode}: {r.stderr.decode('utf-8', 'replace')}")
    # The texts are in the ANSI code page: compare them byte for byte.
    return r.stdout.decode("latin-1").replace("\r", "").splitlines()


def number(line):
    return int(re.search(r"(\d+)(?:MB|MHz)", line).group(1))


def main():
    shipped, twin = sys.argv[1:3]
    if not os.path.exists(twin):
        print(f"{twin} is not built; nothing to compare the shipped survey with")
        return SKIP
    ours, theirs = survey(shipped), survey(twin)
    print("\n".join(ours))
    failures = []
    if len(ours) != len(theirs):
        failures.append(f"{len(ours)} lines against {len(theirs)}")
    for a, b in zip(ours, theirs):
        if a == b or a.startswith("Survey time:") and b.startswith("Survey time:"):
            continue
        tolerance = {"CPU speed:": 0.03, "Fixed disks:": 0.01}.get(a[:a.find(":") + 1])
        if tolerance is not None and b.startswith(a[:a.find(":") + 1]):
            x, y = number(a), number(b)
            if abs(x - y) <= tolerance * max(x, y):
                continue
        failures.append(f"32-bit {a!r}\n    64-bit {b!r}")
    if not any(line.startswith("System is:") and line.endswith(" 64-Bit") for line in ours):
        failures.append("the shipped survey does not report a 64-bit Windows")
    for f in failures:
        print("DIFFERS:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
