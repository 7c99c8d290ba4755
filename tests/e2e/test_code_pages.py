"""The real checker on Windows of other code pages, each in a prefix of its own (ZORV_WINE_LANG and
ZORV_WINE_STATE choose it; CTest runs each class in its locale): on a Traditional Chinese Windows (950) a
Chinese name is enrolled as typed; on a Western one (1252) it is refused before anything is sent, and a
Western name goes out declared as windows-1252."""
import atexit
import json
import os
import subprocess
import unittest

_ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
# Registered before the harness starts its desktop holder, so it runs after the holder is released.
atexit.register(lambda: subprocess.run([os.path.join(_ROOT, "tools", "wine-env.sh"), "down"],
                                       stdin=subprocess.DEVNULL, capture_output=True, timeout=120))

import harness  # noqa: E402
from harness import ReportService, box_text, close_box, winprobe  # noqa: E402
from test_report import Checker  # noqa: E402
from test_with_service import AgainstTheReportService  # noqa: E402

UNREADABLE_ACCOUNT = "账号中含有无法识别的字符！"


def code_page():
    rc, out = winprobe("acp")
    return int(out.strip()) if rc == 0 else None


class TraditionalChinese(unittest.TestCase):
    # The real report service, as against the Chinese prefix.
    setUp = AgainstTheReportService.setUp
    tearDown = AgainstTheReportService.tearDown
    check = AgainstTheReportService.check
    stored_accounts = AgainstTheReportService.stored_accounts
    assert_enrolled_as_typed = AgainstTheReportService.assert_enrolled_as_typed

    def test_a_traditional_chinese_name_is_enrolled_as_typed(self):
        self.assertEqual(code_page(), 950, "the prefix's locale does not give Big5")
        name = "臺灣玩家"
        # In GB18030 these Big5 bytes are other characters: read undeclared, the export would not hold it.
        self.assertNotEqual(name.encode("cp950").decode("gb18030", "replace"), name)
        self.assert_enrolled_as_typed(name)


class Western(unittest.TestCase):
    def setUp(self):
        self.service = ReportService()

    def tearDown(self):
        close_box()
        self.service.close()

    def test_a_chinese_name_is_refused_and_a_western_one_declared(self):
        self.assertEqual(code_page(), 1252, "the prefix's locale does not give windows-1252")
        checker = Checker()
        try:
            # A Western keyboard has no key for them: the characters go to each box as typed characters.
            for box in (harness.ACCOUNT_BOX, harness.CONFIRM_BOX):
                checker.program.click(*box)
                self.assertEqual(winprobe("chars", harness.TITLE, "玩家一")[0], 0)
            checker.check()
            self.assertEqual(box_text(30), UNREADABLE_ACCOUNT)
            self.assertTrue(close_box())
            self.assertEqual(winprobe("gone", harness.CAPTION, 5000)[0], 0)
            self.assertEqual(self.service.requests, [])
            self.assertNotIn(b"submit ping result", checker.program.output())

            for box in (harness.ACCOUNT_BOX, harness.CONFIRM_BOX):
                checker.program.click(*box)
                checker.program.key("ctrl+a", "BackSpace")
                checker.program.type("Zoë")
            checker.check()
            self.assertEqual(box_text(30), "提交成功")
        finally:
            checker.program.kill()
        self.assertEqual(len(self.service.requests), 1)
        sent = self.service.requests[0]
        self.assertEqual(dict(sent.headers).get("Content-Type"), "Application/json; charset=windows-1252")
        self.assertEqual(json.loads(sent.body.decode("cp1252"))["param"][:2], ["Zoë", "Zoë"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
