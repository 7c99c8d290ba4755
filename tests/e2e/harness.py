"""Drives the real program under Wine and Xvfb the way a person would: X pointer and keys in, the screen
and the window tree (through winprobe.exe, in the same prefix) out. A loopback report service records what
the program sends."""
import atexit
import ctypes
import http.server
import os
import socketserver
import subprocess
import tempfile
import sys
import threading
import time

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "res"))
import layout  # noqa: E402  the dialog's boxes, from the table the program lays itself out by

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.environ.get("ZORV_BUILD", os.path.join(ROOT, "build", "win64"))
PROGRAM = os.path.join(BUILD, "ZorvDownloader.exe")
WINPROBE = os.path.join(BUILD, "tests", "e2e", "winprobe.exe")
WINE = "/usr/lib/wine/wine64"
TITLE = "《Quillmere》检测器"
CAPTION = "ZorvDownloader"
SERVICE_PORT = 8360  # the program's built-in report host
# Where the controls are, in client coordinates.
DIALOG_SIZE = layout.box("Dialog")[2:]
CHECK_AT = layout.box("CheckButton")[:2]  # top-left of the check button
CHECK_SIZE = layout.box("CheckButton")[2:]
CLOSE_AT = layout.box("CloseButton")[:2]
CLOSE_SIZE = layout.box("CloseButton")[2:]
ACCOUNT_BOX = layout.centre("AccountEdit")
CONFIRM_BOX = layout.centre("ConfirmEdit")
LINK = (layout.box("RegisterLink").x + 20, layout.box("RegisterLink").y + 9)  # inside the link's text


def wine_env():
    out = subprocess.run([os.path.join(ROOT, "tools", "wine-env.sh"), "env"], check=True,
                         capture_output=True, text=True).stdout
    env = dict(os.environ)
    for part in out.strip().removeprefix("export ").split(" "):
        key, _, value = part.partition("=")
        env[key] = value.strip("'\"")
    return env


ENV = wine_env()
# The loader that starts 32-bit programs as well as 64-bit ones, where there is one.
WINE = ENV.get("ZORV_WINE", WINE)
# The stand-in browser, for Wine's browser list: it records the addresses it was asked to open. The
# program asks the desktop's shell process to open them, and that process was started long before, with
# an environment of its own; so the log's path is written into the recorder, not passed in URL_LOG.
URL_LOG = tempfile.mktemp(prefix="zorv-e2e-urls-")
URL_RECORDER = URL_LOG + ".sh"
with open(URL_RECORDER, "w") as _recorder:
    _recorder.write("#!/bin/sh\nprintf '%%s\\n' \"$*\" >> '%s'\n" % URL_LOG)
os.chmod(URL_RECORDER, 0o755)


def _remove_url_files():
    for path in (URL_LOG, URL_RECORDER):
        if os.path.exists(path):
            os.unlink(path)


atexit.register(_remove_url_files)


def winprobe(*args, timeout=30):
    r = subprocess.run([WINE, WINPROBE, *map(str, args)], env=ENV, capture_output=True, timeout=timeout,
                       stdin=subprocess.DEVNULL)
    return r.returncode, r.stdout.decode("utf-8", "replace").replace("\r", "")


def _hold_desktop():
    holder = subprocess.Popen([WINE, WINPROBE, "hold", "1800000"], env=ENV, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def release():
        winprobe("release")
        try:
            holder.wait(10)
        except subprocess.TimeoutExpired:
            holder.kill()

    atexit.register(release)


_hold_desktop()


def xdo(*args):
    return subprocess.run(["xdotool", *map(str, args)], env=ENV, capture_output=True, text=True, timeout=30,
                          stdin=subprocess.DEVNULL)


class Recorded:
    def __init__(self, method, path, headers, body):
        self.method, self.path, self.headers, self.body = method, path, headers, body


class ReportService:
    """The report service on 127.0.0.1:8360: records every request and answers with `reply`, a function of
    the request giving (status, body bytes), or stays silent when `stall` is set."""

    def __init__(self, reply=None, stall=False):
        self.requests = []
        self.reply = reply or (lambda req: (200, '{"code":0,"message":"提交成功"}'.encode()))
        self.stall = stall
        self.arrivals = []
        self._release = threading.Event()
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_POST(self):
                length = int(self.headers.get("Content-Length", 0))
                body = self.rfile.read(length)
                outer.arrivals.append(time.monotonic())
                req = Recorded("POST", self.path, list(self.headers.items()), body)
                outer.requests.append(req)
                if outer.stall:
                    outer._release.wait(60)
                    return
                status, payload = outer.reply(req)
                self.send_response(status)
                self.send_header("Content-Type", "application/json; charset=utf-8")
                self.send_header("Content-Length", str(len(payload)))
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.write(payload)

            def log_message(self, *args):
                pass

        class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
            daemon_threads = True
            allow_reuse_address = True

        self.server = Server(("127.0.0.1", SERVICE_PORT), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, kwargs={"poll_interval": 0.1}, daemon=True)
        self.thread.start()

    def close(self):
        self._release.set()
        self.server.shutdown()
        self.server.server_close()


class Program:
    """One run of ZorvDownloader.exe; its standard output goes to a file the test can read."""

    def __init__(self, *args):
        self.log_path = tempfile.mktemp(prefix="zorv-e2e-", suffix=".log")
        # Wine sometimes stalls the first window program after a long run of others; one more start is
        # allowed, and said on stderr, so a stall is visible without failing the flow it precedes.
        for attempt in (1, 2):
            self.log = open(self.log_path, "wb")
            self.started = time.monotonic()
            self.proc = subprocess.Popen([WINE, PROGRAM, *args], env=ENV, stdout=self.log,
                                         stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
            try:
                rc, out = winprobe("wait", TITLE, 20000)
            except subprocess.TimeoutExpired:
                rc, out = 1, ""
            if rc == 0:
                break
            try:
                winprobe("kill", TITLE)
            except subprocess.TimeoutExpired:
                pass
            self.proc.kill()
            self.proc.wait(10)
            self.log.close()
            if attempt == 2:
                raise AssertionError("the window did not appear")
            sys.stderr.write("e2e: the window did not appear in time; starting the program once more\n")
        _, x, y, w, h = out.split()
        self.rect = (int(x), int(y), int(w), int(h))
        found = xdo("search", "--sync", "--limit", "1", "--name", "^" + TITLE + "$")
        self.xid = found.stdout.split()[0] if found.stdout.split() else None
        time.sleep(0.3)

    def output(self):
        self.log.flush()
        with open(self.log_path, "rb") as f:
            return f.read()

    def wait_output(self, needle, seconds=20):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if needle in self.output():
                return True
            time.sleep(0.1)
        return False

    def click(self, x, y, button=1):
        """Client coordinates; the window has no frame, so they are window coordinates too."""
        self.move(x, y)
        xdo("click", button)
        time.sleep(0.2)

    def fill(self, account, confirm):
        """Types into both account boxes, each clicked first, after what they already hold."""
        self.click(*ACCOUNT_BOX)
        self.type(account)
        self.click(*CONFIRM_BOX)
        self.type(confirm)

    def press_check(self):
        """Clicks the check button; returns when the click was made, for timing."""
        start = time.monotonic()
        self.click(CHECK_AT[0] + CHECK_SIZE[0] // 2, CHECK_AT[1] + CHECK_SIZE[1] // 2)
        return start

    def move(self, x, y):
        # No --sync: it waits forever when the pointer is already there.
        xdo("mousemove", self.rect[0] + x, self.rect[1] + y)
        time.sleep(0.2)

    def type(self, text):
        # A character missing from the X keymap (a Chinese one) is typed by binding it to a spare keycode;
        # Wine reads the new keymap only after a while, and a second such character typed sooner comes out
        # as the first or not at all: with 30 ms between keys one of two was lost, with 200 ms none.
        delay = "30" if text.isascii() else "250"
        xdo("type", "--delay", delay, text)
        time.sleep(0.2)

    def key(self, *names):
        for name in names:
            xdo("key", name)
            time.sleep(0.15)

    def shot(self, *extra_rects):
        """The window as it is on the screen (with room for the other windows' rectangles given)."""
        path = tempfile.mktemp(suffix=".png")
        subprocess.run(["import", "-window", "root", path], env=ENV, check=True, timeout=30,
                       stdin=subprocess.DEVNULL)
        img = Image.open(path).convert("RGB")
        os.unlink(path)
        boxes = [self.rect, *extra_rects]
        left, top = min(b[0] for b in boxes), min(b[1] for b in boxes)
        right, bottom = max(b[0] + b[2] for b in boxes), max(b[1] + b[3] for b in boxes)
        return img.crop((left, top, right, bottom))

    def refresh_rect(self):
        rc, out = winprobe("wait", TITLE, 2000)
        if rc == 0:
            _, x, y, w, h = out.split()
            self.rect = (int(x), int(y), int(w), int(h))
        return self.rect

    def wait_exit(self, seconds=10):
        try:
            return self.proc.wait(seconds)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        # The Unix process Popen started is only Wine's loader: end the Windows process itself.
        if self.proc.poll() is None:
            winprobe("kill", TITLE)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)
        self.log.close()
        winprobe("gone", TITLE, 5000)


def box_rect():
    rc, out = winprobe("wait", CAPTION, 2000)
    if rc != 0:
        return None
    _, x, y, w, h = out.split()
    return (int(x), int(y), int(w), int(h))


def box_text(seconds=10):
    rc, out = winprobe("box", CAPTION, int(seconds * 1000))
    return out.strip() if rc == 0 else None


def close_box():
    return winprobe("ok", CAPTION)[0] == 0


def wine_reg_add(key, name, value):
    subprocess.run([WINE, "reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f"], env=ENV,
                   capture_output=True, timeout=30, stdin=subprocess.DEVNULL, check=True)


class _CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


def cursor_shape():
    """The X server's current cursor, as (name, width, height, xhot, yhot): what the player sees."""
    x11 = ctypes.CDLL("libX11.so.6")
    xfixes = ctypes.CDLL("libXfixes.so.3")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(_CursorImage)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    x11.XFree.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(ENV["DISPLAY"].encode())
    try:
        image = xfixes.XFixesGetCursorImage(display).contents
        shape = ((image.name or b"").decode(), image.width, image.height, image.xhot, image.yhot)
        x11.XFree(ctypes.addressof(image))
        return shape
    finally:
        x11.XCloseDisplay(display)
