"""The check window under Wine: start-up, validation, keyboard, pointer and closing, each flow driven
through X input and read back from the screen and the window tree."""
import os
import time
import unittest

from PIL import Image

import harness
from harness import Program, ReportService, box_text, close_box, winprobe

RES = os.path.join(harness.ROOT, "res")
from harness import ACCOUNT_BOX, CHECK_AT, CHECK_SIZE, CLOSE_AT, CLOSE_SIZE, CONFIRM_BOX, DIALOG_SIZE, LINK


def cell(strip, index, size):
    w, h = size
    return Image.open(os.path.join(RES, strip)).convert("RGB").crop((0, index * h, w, (index + 1) * h))


def region(shot, at, size):
    x, y = at
    return shot.crop((x, y, x + size[0], y + size[1]))


def differing_pixels(a, b):
    pa, pb = a.load(), b.load()
    return sum(1 for y in range(a.size[1]) for x in range(a.size[0]) if pa[x, y] != pb[x, y])


def edit_texts():
    rc, out = winprobe("children", harness.TITLE)
    texts = {}
    for line in out.splitlines():
        parts = line.split(" ", 7)
        if len(parts) >= 7 and parts[1] == "Edit":
            texts.setdefault(int(parts[0]), []).append(parts[7] if len(parts) > 7 else "")
    return texts


class WindowTest(unittest.TestCase):
    args = ()

    def setUp(self):
        self.service = ReportService()
        self.program = Program(*self.args)

    def tearDown(self):
        close_box()
        self.program.kill()
        self.service.close()

    def fill(self, account, confirm):
        self.program.fill(account, confirm)

    def press_check(self):
        self.program.press_check()


class StartUp(WindowTest):
    def test_window_is_centred_on_the_work_area(self):
        rc, out = winprobe("workarea", harness.TITLE)
        self.assertEqual(rc, 0)
        x, y, w, h = map(int, out.split())
        width, height = self.program.rect[2:]
        self.assertEqual(self.program.rect[:2], (x + (w - width) // 2, y + (h - height) // 2))

    def test_window_size_title_buttons_and_no_console(self):
        self.assertEqual(self.program.rect[2:], DIALOG_SIZE)
        self.assertIsNotNone(self.program.xid, "no X window carries the title " + harness.TITLE)
        self.assertNotEqual(winprobe("wait", "Tarnwick", 500)[0], 0, "a console opened without -DebugWindow")
        shot = self.program.shot()
        shot.save(os.path.join(harness.BUILD, "check-window.png"))  # the README's picture comes from here
        self.assertEqual(differing_pixels(region(shot, CLOSE_AT, CLOSE_SIZE), cell("close-strip.bmp", 0, CLOSE_SIZE)), 0)
        self.assertEqual(differing_pixels(region(shot, CHECK_AT, CHECK_SIZE), cell("check-strip.bmp", 0, CHECK_SIZE)), 0)


class Validation(WindowTest):
    CASES = [
        ("empty", "", "", "请输入用户名！"),
        ("blanks", "   ", "   ", "请输入用户名！"),
        ("case", "ABC", "abc", "账号不一致！"),
        ("trailing_blank_in_confirmation", "abc", "abc ", "账号不一致！"),
        ("empty_confirmation", "abc", "", "账号不一致！"),
    ]

    def test_refusals_show_their_message_and_send_nothing(self):
        for label, account, confirm, message in self.CASES:
            with self.subTest(label):
                self.program.click(*ACCOUNT_BOX)
                self.program.key("ctrl+a", "BackSpace")
                self.program.click(*CONFIRM_BOX)
                self.program.key("ctrl+a", "BackSpace")
                self.fill(account, confirm)
                self.press_check()
                self.assertEqual(box_text(), message)
                self.assertTrue(close_box())
                self.assertEqual(winprobe("gone", harness.CAPTION, 5000)[0], 0)
        self.assertEqual(self.service.requests, [])


class Keyboard(WindowTest):
    def focus(self):
        return int(winprobe("focus", harness.TITLE)[1].split()[0])

    def test_caret_starts_in_the_account_box_and_tab_moves_between_the_two_boxes_only(self):
        self.program.type("abc")  # no click first
        self.program.key("Tab")
        self.assertEqual(self.focus(), 104, "Tab did not reach the confirmation box")
        self.program.type("abd")
        self.program.key("Tab")
        self.assertEqual(self.focus(), 103, "Tab left the two boxes")
        self.program.key("shift+Tab")
        self.assertEqual(self.focus(), 104, "Shift+Tab did not go back")
        self.program.key("shift+Tab")
        self.assertEqual(self.focus(), 103)
        texts = edit_texts()
        self.assertEqual(texts.get(103), ["abc"], "typing after start did not land in the account box")
        self.assertEqual(texts.get(104), ["abd"])

    def test_escape_and_return_do_nothing_and_the_65th_character_is_refused(self):
        self.program.type("abc")
        self.program.key("Escape", "Return")
        self.program.type("d")
        self.program.key("Tab", "Return", "Escape")
        self.program.type("x" * 70)
        time.sleep(0.3)
        self.assertIsNone(box_text(1), "Return or Escape started something")
        self.assertIsNone(self.program.proc.poll(), "the window closed")
        texts = edit_texts()
        self.assertEqual(texts.get(103), ["abcd"])
        self.assertEqual(texts.get(104), ["x" * 64])
        self.assertEqual(self.service.requests, [])


class Accessibility(WindowTest):
    def test_buttons_and_boxes_have_names_a_screen_reader_reads(self):
        rc, out = winprobe("names", harness.TITLE)
        self.assertEqual(rc, 0)
        names = {}
        for line in out.splitlines():
            parts = line.split(" ", 2)
            if len(parts) == 3:
                names[(int(parts[0]), parts[1])] = parts[2]
        self.assertEqual(names.get((101, "ZorvWnd")), "关闭")
        self.assertEqual(names.get((102, "ZorvWnd")), "点击检测")
        self.assertEqual(names.get((103, "Edit")), "账号")
        self.assertEqual(names.get((104, "Edit")), "确认账号")


class Pointer(WindowTest):
    def test_check_button_cells_and_press_leave_release(self):
        self.program.move(CHECK_AT[0] + CHECK_SIZE[0] // 2, CHECK_AT[1] + CHECK_SIZE[1] // 2)
        hover = region(self.program.shot(), CHECK_AT, CHECK_SIZE)
        self.assertEqual(differing_pixels(hover, cell("check-strip.bmp", 1, CHECK_SIZE)), 0, "hover cell")
        harness.xdo("mousedown", 1)
        time.sleep(0.3)
        pressed = region(self.program.shot(), CHECK_AT, CHECK_SIZE)
        self.assertEqual(differing_pixels(pressed, cell("check-strip.bmp", 2, CHECK_SIZE)), 0, "pressed cell")
        self.program.move(60, 200)
        harness.xdo("mouseup", 1)
        time.sleep(0.5)
        self.assertIsNone(box_text(1), "a release outside the button started a check")

    def test_link_underlines_shows_hand_and_opens_the_registration_page(self):
        urls = harness.URL_LOG
        if os.path.exists(urls):
            os.unlink(urls)
        harness.wine_reg_add(r"HKCU\Software\Wine\WineBrowser", "Browsers", harness.URL_RECORDER)
        before = self.program.shot()
        self.program.move(*LINK)
        self.assertEqual(harness.cursor_shape()[0], "hand2")
        after = self.program.shot()
        underline_before = before.crop((270, 320, 340, 334))
        underline_after = after.crop((270, 320, 340, 334))
        self.assertGreater(differing_pixels(underline_before, underline_after), 20, "no underline on hover")
        self.program.move(60, 200)
        self.assertEqual(harness.cursor_shape()[0], "left_ptr")
        self.assertEqual(differing_pixels(self.program.shot().crop((270, 320, 340, 334)), underline_before), 0)
        rect = self.program.refresh_rect()
        self.program.click(*LINK)
        self.assertEqual(harness.cursor_shape()[0], "hand2", "the click over the link brought the arrow back")
        # The recorder's shell creates the log before it writes the line: wait for the line itself.
        opened = ""
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and not opened.endswith("\n"):
            time.sleep(0.1)
            if os.path.exists(urls):
                with open(urls) as f:
                    opened = f.read()
        self.assertEqual(opened, "http://127.0.0.1:8360/register\n", "the page opened once, at its address")
        self.assertEqual(self.program.refresh_rect(), rect, "the link click moved the window")

    def test_dragging_the_top_band_moves_the_window_and_double_click_does_nothing(self):
        x, y = self.program.rect[:2]
        harness.xdo("mousemove", x + 100, y + 15)
        harness.xdo("mousedown", 1)
        time.sleep(0.2)
        for step in range(1, 6):
            harness.xdo("mousemove", x + 100 + 10 * step, y + 15 + 8 * step)
            time.sleep(0.1)
        harness.xdo("mouseup", 1)
        time.sleep(0.5)
        moved = self.program.refresh_rect()
        self.assertEqual(moved[:2], (x + 50, y + 40))
        self.program.click(100, 15)
        harness.xdo("click", "--repeat", 2, "--delay", 80, 1)
        time.sleep(0.5)
        self.assertEqual(self.program.refresh_rect()[2:], DIALOG_SIZE, "a double-click maximised the window")


class Closing(unittest.TestCase):
    def test_close_button_and_alt_f4_end_the_process(self):
        for label, action in (("close button", lambda p: p.click(CLOSE_AT[0] + 10, CLOSE_AT[1] + 10)),
                              ("alt+f4", lambda p: (p.click(100, 200), p.key("alt+F4")))):
            with self.subTest(label):
                program = Program()
                try:
                    action(program)
                    self.assertIsNotNone(program.wait_exit(10), label + " did not end the process")
                finally:
                    program.kill()


if __name__ == "__main__":
    unittest.main(verbosity=2)
