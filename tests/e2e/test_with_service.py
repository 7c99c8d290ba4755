"""The real checker against the real report service: one success per account and per machine."""
import csv
import io
import os
import subprocess
import urllib.request
import tempfile
import time
import unittest

import harness
from harness import box_text, close_box, winprobe
from test_report import Checker

SERVICE = os.path.join(harness.ROOT, "build", "host", "service", "report-service")


class AgainstTheReportService(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="zorv-e2e-service-")
        self.service = subprocess.Popen(
            [SERVICE, "--listen", f"127.0.0.1:{harness.SERVICE_PORT}", "--db", os.path.join(self.dir, "r.db"),
             "--admin-token", "e2e"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        line = self.service.stdout.readline().decode()
        deadline = time.monotonic() + 10
        while "listening" not in line and time.monotonic() < deadline and self.service.poll() is None:
            line = self.service.stdout.readline().decode()
        self.assertIn("listening", line)

    def tearDown(self):
        close_box()
        self.service.terminate()
        self.service.wait(10)

    def check(self, checker, account):
        for box in (harness.ACCOUNT_BOX, harness.CONFIRM_BOX):
            checker.program.click(*box)
            checker.program.key("ctrl+a", "BackSpace")
            checker.program.type(account)
        checker.check()
        text = box_text(30)
        close_box()
        winprobe("gone", harness.CAPTION, 5000)
        return text

    def stored_accounts(self):
        """The accounts of the accepted reports, as the service's export lists them."""
        url = f"http://127.0.0.1:{harness.SERVICE_PORT}/reports.csv?token=e2e"
        with urllib.request.urlopen(url, timeout=10) as res:
            text = res.read().decode("utf-8-sig")
        return [row["account"] for row in csv.DictReader(io.StringIO(text, newline=""))]

    def test_a_name_whose_characters_end_in_a_backslash_byte_is_stored_as_typed(self):
        # In code page 936 運 is DF 5C and 錦 is E5 5C: their second byte is a backslash.
        name = "運錦x"
        self.assertEqual([b for b in name[:2].encode("gbk")[1::2]], [0x5C, 0x5C])
        self.assert_enrolled_as_typed(name)

    def assert_enrolled_as_typed(self, name):
        """One check of `name` in a fresh program succeeds, and the export holds the name as typed."""
        checker = Checker()
        try:
            self.assertEqual(self.check(checker, name), "提交成功，本账号获得20积分")
        finally:
            checker.program.kill()
        self.assertEqual(self.stored_accounts(), [name])

    def test_success_then_account_used_then_computer_used(self):
        checker = Checker()
        try:
            self.assertEqual(self.check(checker, "player1"), "提交成功，本账号获得20积分")
            self.assertEqual(self.check(checker, "player1"), "此账号已经提交成功过，每个账号只能成功一次")
            self.assertEqual(self.check(checker, "player2"), "此电脑已经提交成功过，每台电脑只能成功一次")
        finally:
            checker.program.kill()


if __name__ == "__main__":
    unittest.main(verbosity=2)
