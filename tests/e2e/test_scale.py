"""The check window at 150 % and 200 % under Wine: the prefix's LogPixels set to 144 and 192 before the
program starts, read back from the window tree and the screen, and driven through X input like the 100 %
flows."""
import os
import subprocess
import time
import unittest

from PIL import Image

import harness
import layout
from harness import Program, ReportService, box_text, close_box, winprobe

RES = os.path.join(harness.ROOT, "res")
DESKTOP = r"HKCU\Control Panel\Desktop"
FONTS = r"HKCC\Software\Fonts"


def set_log_pixels(dpi):
    for key in (DESKTOP, FONTS):
        subprocess.run([harness.WINE, "reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"],
                       env=harness.ENV, capture_output=True, timeout=30, stdin=subprocess.DEVNULL, check=True)


def artwork(name, dpi):
    return Image.open(os.path.join(RES, f"{name}-{dpi}.bmp" if dpi != 96 else f"{name}.bmp")).convert("RGB")


def crop(image, box):
    return image.crop((box.x, box.y, box.x + box.width, box.y + box.height))


def differing_pixels(a, b):
    pa, pb = a.load(), b.load()
    return sum(1 for y in range(a.size[1]) for x in range(a.size[0]) if pa[x, y] != pb[x, y])


class Scaled:
    dpi = 96

    def setUp(self):
        set_log_pixels(self.dpi)
        self.addCleanup(set_log_pixels, 96)  # every other flow runs at 100 %
        self.service = ReportService()
        self.addCleanup(self.service.close)
        self.program = Program()
        self.addCleanup(self.program.kill)
        self.addCleanup(close_box)

    def box(self, name):
        return layout.box(name, self.dpi)

    def test_window_scaled_pixel_exact_artwork_and_a_press_of_the_check_button_runs_a_check(self):
        dialog = self.box("Dialog")
        self.assertEqual(self.program.rect[2:], (dialog.width, dialog.height))
        face = artwork("background", self.dpi)
        self.assertEqual(face.size, (dialog.width, dialog.height))
        shot = self.program.shot()
        shot.save(os.path.join(harness.BUILD, f"check-window-{self.dpi}.png"))  # the README's pictures
        close, check = self.box("CloseButton"), self.box("CheckButton")
        cell = lambda strip, b: artwork(strip, self.dpi).crop((0, 0, b.width, b.height))  # noqa: E731
        self.assertEqual(differing_pixels(crop(shot, close), cell("close-strip", close)), 0, "close button")
        self.assertEqual(differing_pixels(crop(shot, check), cell("check-strip", check)), 0, "check button")
        # The caret blinks in the focused box, so each well is compared while the other box has the focus.
        confirm = self.box("ConfirmWell")
        self.assertEqual(differing_pixels(crop(shot, confirm), crop(face, confirm)), 0, "confirmation well")
        self.program.key("Tab")
        time.sleep(0.3)
        account = self.box("AccountWell")
        self.assertEqual(differing_pixels(crop(self.program.shot(), account), crop(face, account)), 0, "account well")
        self.program.click(check.x + check.width // 2, check.y + check.height // 2)
        self.assertEqual(box_text(), "请输入用户名！")
        self.assertEqual(self.service.requests, [])


class At150Percent(Scaled, unittest.TestCase):
    dpi = 144


class At200Percent(Scaled, unittest.TestCase):
    dpi = 192


if __name__ == "__main__":
    unittest.main(verbosity=2)
