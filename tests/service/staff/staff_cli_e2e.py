"""report-service staff …, the real program on a fresh SQLite file: each command's result and exit code, no
password anywhere in the file, and the service still starting on the same database afterwards (logging one
JSON object per line)."""
import json
import os
import signal
import subprocess
import sys
import tempfile

PASSWORD = "correct horse battery"


def main():
    binary = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        db = os.path.join(folder, "var", "reports.db")

        def staff(*args, stdin=""):
            # A session of its own: no controlling terminal, as under cron or CI.
            done = subprocess.run([binary, "staff", *args, "--db", db], input=stdin, capture_output=True, text=True,
                                  timeout=60, start_new_session=True)
            return done.returncode, done.stdout + done.stderr

        steps = [
            (("list",), "", 0, "no staff yet"),
            (("add", "Ann", "--role", "admin", "--password-stdin"), PASSWORD + "\n", 0, "added ann (admin)"),
            (("add", "ann", "--role", "viewer", "--password-stdin"), PASSWORD + "\n", 1, "exists already"),
            (("add", "bob", "--role", "support"), PASSWORD + "\n", 1, "no terminal"),
            (("passwd", "ann", "--password-stdin"), "short\n", 1, "shorter than 12"),
            (("passwd", "ann", "--password-stdin"), "", 1, "no password given"),
            (("add", "bob", "--role", "root"), "", 2, "--role wants viewer, support or admin"),
            (("disable", "ann"), "", 0, "disabled ann"),
            (("list",), "", 0, "ann\tadmin\tdisabled\t"),
        ]
        for args, stdin, code, says in steps:
            rc, output = staff(*args, stdin=stdin)
            assert rc == code and says in output, f"staff {' '.join(args)}: exit {rc}, {output!r}"
            assert PASSWORD not in output, f"staff {' '.join(args)} shows the password"
        for name in os.listdir(os.path.dirname(db)):
            with open(os.path.join(os.path.dirname(db), name), "rb") as f:
                assert PASSWORD.encode() not in f.read(), f"{name} holds the password in clear"

        service = subprocess.Popen([binary, "--listen", "127.0.0.1:0", "--db", db, "--log-format", "json"],
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            lines = []
            for _ in range(50):
                line = service.stdout.readline()
                if not line:
                    break
                lines.append(json.loads(line))  # every line one JSON object
                if lines[-1]["msg"].startswith("listening on"):
                    break
            assert lines and lines[-1]["msg"].startswith("listening on"), f"the service did not start: {lines}"
            assert all(set(l) == {"time", "msg"} and l["time"].endswith("Z") for l in lines), lines
        finally:
            service.send_signal(signal.SIGTERM)
            service.wait(timeout=30)
        assert service.returncode == 0, f"the service ended with {service.returncode}"
    print(f"{len(steps)} staff commands as expected; the service starts on the same database, logging JSON")


if __name__ == "__main__":
    main()
