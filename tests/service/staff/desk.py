"""The real program with three staff accounts made on its command line (ann: support, vic: viewer, boss:
admin), as the staff desk's flows start it, and the player's report they enrol."""
import http.client
import json
import os
import re
import subprocess

PASSWORD = "correct horse battery"
REPORT = {"param": ["player1", "player1", "00-11-22-33-44-55", "Example CPU", 4, 2993, "8192", "Chip;Name;1024;0",
                    "1920 x 1080", "Windows 10 Pro 64-Bit", "PC01", "", "", ""]}


def enrol(port):
    """Posts the player's report; the service's reply."""
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    c.request("POST", "/act/score/pcinfo/add", body=json.dumps(REPORT).encode(),
              headers={"Content-Type": "application/json; charset=utf-8"})
    return c.getresponse().read().decode()


class Desk:
    """with Desk(binary, folder) as desk: the service listens on desk.port over desk.db, its admin token
    "t0ken"; once the block ends it is stopped, must have ended cleanly, and desk.log holds what it printed."""

    def __init__(self, binary, folder):
        self.binary, self.db, self.port, self.log = binary, os.path.join(folder, "reports.db"), None, ""

    def __enter__(self):
        for name, role in (("ann", "support"), ("vic", "viewer"), ("boss", "admin")):
            subprocess.run([self.binary, "staff", "add", name, "--role", role, "--password-stdin", "--db", self.db],
                           input=PASSWORD + "\n", text=True, check=True, capture_output=True, timeout=60)
        self.process = subprocess.Popen([self.binary, "--listen", "127.0.0.1:0", "--db", self.db, "--admin-token",
                                         "t0ken", "--quiet"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        for _ in range(50):
            m = re.match(r"listening on 127\.0\.0\.1:(\d+)", self.process.stdout.readline())
            if m:
                self.port = int(m.group(1))
                break
        if not self.port:
            self.__exit__(None, None, None)
            raise AssertionError("the service did not start")
        return self

    def __exit__(self, kind, value, trace):
        self.process.terminate()
        self.log, _ = self.process.communicate(timeout=30)
        if kind is None:
            assert self.process.returncode == 0, f"the service ended with {self.process.returncode}: {self.log[-500:]}"
        return False
