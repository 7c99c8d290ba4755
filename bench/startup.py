#!/usr/bin/env python3
"""Start-up figures of the checker next to a bare Win32 window, under the same warm Wine, in one run.

    bench/startup.py [ROUNDS]        (after a win64 build; default 7 rounds)
    ZORV_BUILD=build/win32 bench/startup.py    the shipped 32-bit build (needs a kernel that runs 32-bit code)
    ZORV_CHECKER=old.exe bench/startup.py      another checker program, e.g. a build from before a change

For each program it prints the time from starting it until its window is visible on the X display, and
its working set once idle (resident memory of its process, and the part of it that is its own). The bare
program (bench/bare_face_win.cpp, built here) shows the same face and Chinese text in the same font and
nothing else, so the difference is what the checker's own start-up costs. Figures, not a pass/fail test.
"""
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), os.pardir))
BUILD = os.path.abspath(os.environ.get("ZORV_BUILD", os.path.join(ROOT, "build", "win64")))
OUT = os.path.join(BUILD, "bench")
WINE = "/usr/lib/wine/wine64"
CHECKER = os.path.abspath(os.environ.get("ZORV_CHECKER", os.path.join(BUILD, "ZorvDownloader.exe")))



def is_32bit(exe):
    """A PE32 file (machine 0x14c), which the bare window then matches."""
    with open(exe, "rb") as f:
        head = f.read(4096)
    at = int.from_bytes(head[60:64], "little")
    return head[at + 4:at + 6] == b"\x4c\x01"


CHECKER_32BIT = is_32bit(CHECKER)
BARE = os.path.join(OUT, "bare_face32.exe" if CHECKER_32BIT else "bare_face.exe")
FACE = os.path.join(ROOT, "res", "background.bmp")
IDLE_SECONDS = 2.0


def build_bare():
    source = os.path.join(ROOT, "bench", "bare_face_win.cpp")
    if os.path.exists(BARE) and os.path.getmtime(BARE) > os.path.getmtime(source):
        return
    os.makedirs(OUT, exist_ok=True)
    compiler = "i686-w64-mingw32-g++-posix" if CHECKER_32BIT else "x86_64-w64-mingw32-g++-posix"
    subprocess.run([compiler, "-O2", "-municode", "-mwindows", "-static", "-s",
                    "-DUNICODE", "-D_UNICODE", source, "-o", BARE, "-lgdi32", "-luser32"], check=True)


def wine_env():
    out = subprocess.run([os.path.join(ROOT, "tools", "wine-env.sh"), "env"], check=True, capture_output=True,
                         text=True).stdout
    env = dict(os.environ)
    for part in out.replace("export ", "").split():
        key, _, value = part.partition("=")
        env[key] = value.strip("'")
    return env


def visible(env, name):
    return subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name], env=env,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def windows_pid(exe):
    """The Linux process that runs the Windows program (the wine loader becomes it, named by the path it
    was given). The whole path, not the file name: a test or another tree may be running a program of the
    same name, and this one is measured and then stopped."""
    path = os.path.abspath(exe).lower().encode()
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                args = f.read().split(b"\0")
        except OSError:
            continue
        if args and args[0].lower() == path:
            return int(pid)
    return None


def memory_mb(pid):
    fields = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "RssAnon"):
                fields[key] = int(value.split()[0]) / 1024
    return fields.get("VmRSS", 0.0), fields.get("RssAnon", 0.0)


def mappings_mb(pid):
    """Resident memory per mapped file ("[anon]" for the rest), to say where the difference goes."""
    sizes, name = {}, "[anon]"
    with open(f"/proc/{pid}/smaps") as f:
        for line in f:
            head = line.split()
            if "-" in head[0] and len(head) >= 5 and not head[0].endswith(":"):
                name = os.path.basename(head[5]) if len(head) > 5 else "[anon]"
            elif head[0] == "Rss:":
                sizes[name] = sizes.get(name, 0.0) + int(head[1]) / 1024
    return sizes


def one_run(env, exe, args, title):
    start = time.monotonic()
    process = subprocess.Popen([env.get("ZORV_WINE", WINE), exe, *args], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        while not visible(env, title):
            if time.monotonic() - start > 30:
                raise RuntimeError(f"{exe}: no window within 30 s")
            time.sleep(0.005)
        shown = time.monotonic() - start
        time.sleep(IDLE_SECONDS)
        pid = windows_pid(exe)
        rss, own = memory_mb(pid) if pid else (float("nan"), float("nan"))
        return shown, rss, own, mappings_mb(pid) if pid else {}
    finally:
        process.terminate()
        pid = windows_pid(exe)
        if pid:
            os.kill(pid, 15)
        process.wait(10)
        while visible(env, title):
            time.sleep(0.05)


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 7
    build_bare()
    env = wine_env()
    programs = [("bare window", BARE, ["Z:" + FACE.replace("/", "\\")], "BareFace"),
                ("checker", CHECKER, [], "Quillmere")]
    for _, exe, args, title in programs:  # warm-up: Wine's DLLs and fonts in the page cache
        one_run(env, exe, args, title)
    results = {name: [] for name, *_ in programs}
    for _ in range(rounds):  # interleaved, so both see the same machine
        for name, exe, args, title in programs:
            results[name].append(one_run(env, exe, args, title))
    print(f"start-up under a warm Wine, {rounds} rounds each, medians:")
    medians = {}
    for name, runs in results.items():
        shown = statistics.median(r[0] for r in runs)
        rss = statistics.median(r[1] for r in runs)
        own = statistics.median(r[2] for r in runs)
        medians[name] = (shown, rss, own)
        print(f"  {name:12} visible after {shown * 1000:6.0f} ms   idle working set {rss:6.1f} MB "
              f"(own memory {own:5.1f} MB)   [{', '.join(f'{r[0] * 1000:.0f}' for r in runs)} ms]")
    b, c = medians["bare window"], medians["checker"]
    print(f"  checker / bare: {c[0] / b[0]:.2f} x the time, {c[1] - b[1]:+.1f} MB working set "
          f"({c[2] - b[2]:+.1f} MB own)")
    bare_maps, checker_maps = results["bare window"][-1][3], results["checker"][-1][3]
    extra = sorted(((checker_maps.get(k, 0.0) - bare_maps.get(k, 0.0), k) for k in set(bare_maps) | set(checker_maps)),
                   reverse=True)
    print("  where the checker's extra resident memory is (last round, MB): " +
          ", ".join(f"{name} {mb:+.1f}" for mb, name in extra[:10] if mb >= 0.2))


if __name__ == "__main__":
    main()
