#!/usr/bin/env python3
"""Checks the committed artwork pixel by pixel.

    artwork_test.py RES_DIR

The dialog and its buttons cut their windows from these pictures by key colour (pure magenta for the
dialog, pure white for the buttons), lay their edit boxes over the wells and put the check button and
the link in the free band at the bottom; a stray pixel or a shifted well shows in the running program.
"""
import os
import struct
import sys
import unittest

RES = sys.argv.pop(1) if len(sys.argv) > 1 else "res"
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, "res"))
import layout  # noqa: E402  the dialog's boxes, from the table the program lays itself out by

DIALOG, PANEL = layout.box("Dialog"), layout.box("Panel")
CHECK, CLOSE = layout.box("CheckButton"), layout.box("CloseButton")
BAND = layout.box("ButtonBand")


def span(start, length):
    return range(start, start + length)

WHITE = (255, 255, 255)
MAGENTA = (255, 0, 255)
FRAME = (158, 166, 198)
WELL = (42, 43, 42)


class Bitmap:
    """A 24-bit uncompressed BMP, pixels as (r, g, b) with (0, 0) the top-left pixel."""

    def __init__(self, path):
        with open(path, "rb") as f:
            data = f.read()
        if data[:2] != b"BM":
            raise ValueError(f"{path}: not a BMP file")
        offset = struct.unpack_from("<I", data, 10)[0]
        (self.header_size, self.width, self.height, _, self.bpp, self.compression) = struct.unpack_from(
            "<IiiHHI", data, 14)
        self.rows = []
        if self.bpp != 24 or self.compression != 0:
            return
        pitch = (self.width * 3 + 3) // 4 * 4
        for y in range(abs(self.height)):
            stored = abs(self.height) - 1 - y if self.height > 0 else y
            start = offset + stored * pitch
            line = data[start:start + self.width * 3]
            self.rows.append([(line[i + 2], line[i + 1], line[i]) for i in range(0, len(line), 3)])

    def at(self, x, y):
        return self.rows[y][x]

    def where(self, predicate, xs, ys):
        """The first (x, y, colour) in the area for which predicate holds, or None."""
        for y in ys:
            for x in xs:
                if predicate(self.rows[y][x]):
                    return (x, y, self.rows[y][x])
        return None


def load(name):
    return Bitmap(f"{RES}/{name}")


DPIS = (96, 144, 192)  # the scales the artwork is drawn for: 100 %, 150 %, 200 %


def scaled_name(name, dpi):
    return name if dpi == 96 else name.replace(".bmp", f"-{dpi}.bmp")


BITMAPS = [  # file, width, height: the face, and four cells of each button, at every scale
    (scaled_name(name, dpi), layout.box(box, dpi).width, cells * layout.box(box, dpi).height)
    for dpi in DPIS
    for name, box, cells in (("background.bmp", "Dialog", 1), ("check-strip.bmp", "CheckButton", 4),
                             ("close-strip.bmp", "CloseButton", 4))
]


def mean(bitmap, xs, ys):
    pixels = [bitmap.at(x, y) for y in ys for x in xs]
    return tuple(sum(p[i] for p in pixels) / len(pixels) for i in range(3))


def luminance(rgb):
    return 0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2]


def saturation(rgb):
    return max(rgb) - min(rgb)


class EveryBitmap(unittest.TestCase):
    def test_size_and_format(self):
        for name, width, height in BITMAPS:
            with self.subTest(bitmap=name):
                b = load(name)
                self.assertEqual((b.width, abs(b.height)), (width, height))
                self.assertEqual((b.bpp, b.compression), (24, 0), "24-bit uncompressed")
                self.assertGreater(b.height, 0, "bottom-up rows, as LoadImage expects of a resource")
                self.assertEqual(b.header_size, 40, "plain BITMAPINFOHEADER (BMP3)")

    def test_no_key_colour_anywhere(self):
        for name, width, height in BITMAPS:
            for key in (WHITE, MAGENTA):
                with self.subTest(bitmap=name, key=key):
                    b = load(name)
                    hit = b.where(lambda p: p == key, range(width), range(height))
                    self.assertIsNone(hit, f"key colour pixel at {hit}")


class Face(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.face = load("background.bmp")
        cls.panel = cls.face.at(BAND.x + BAND.width // 2, BAND.y + BAND.height // 2)

    def test_frame_is_the_border_around_the_panel(self):
        f = self.face
        w, h = DIALOG.width, DIALOG.height
        right, bottom = PANEL.x + PANEL.width, PANEL.y + PANEL.height
        edges = {
            "top": (range(w), range(0, PANEL.y)),
            "bottom": (range(w), range(bottom, h)),
            "left": (range(0, PANEL.x), range(h)),
            "right": (range(right, w), range(h)),
        }
        for edge, (xs, ys) in edges.items():
            with self.subTest(edge=edge):
                self.assertIsNone(f.where(lambda p: p != FRAME, xs, ys))
        inside = {"top": (w // 2, PANEL.y), "bottom": (w // 2, bottom - 1), "left": (PANEL.x, 200),
                  "right": (right - 1, 200)}
        for edge, (x, y) in inside.items():
            with self.subTest(edge=edge, inside=(x, y)):
                self.assertNotEqual(f.at(x, y), FRAME, "frame wider than 2 pixels")

    def test_edit_boxes_lie_inside_their_wells(self):
        for edit, well in (("AccountEdit", "AccountWell"), ("ConfirmEdit", "ConfirmWell")):
            with self.subTest(edit=edit):
                e, w = layout.box(edit), layout.box(well)
                self.assertTrue(w.x <= e.x and e.x + e.width <= w.x + w.width and w.y <= e.y
                                and e.y + e.height <= w.y + w.height, f"{e} outside {w}")

    def test_wells_are_exactly_the_edit_box_colour(self):
        for dpi in DPIS:
            face = load(scaled_name("background.bmp", dpi))
            for name in ("AccountWell", "ConfirmWell"):
                with self.subTest(well=name, dpi=dpi):
                    well = layout.box(name, dpi)
                    xs, ys = span(well.x, well.width), span(well.y, well.height)
                    hit = face.where(lambda p: p != WELL, xs, ys)
                    self.assertIsNone(hit, f"well pixel of another colour at {hit}")
                    # The well ends where the layout says: its neighbours are not well-coloured.
                    for x, y in ((xs[0] - 1, ys[0]), (xs[-1] + 1, ys[0]), (xs[0], ys[0] - 1), (xs[0], ys[-1] + 1)):
                        self.assertNotEqual(face.at(x, y), WELL, f"well reaches ({x}, {y})")

    def test_button_band_is_bare_panel(self):
        self.assertNotIn(self.panel, (FRAME, WELL, WHITE, MAGENTA))
        hit = self.face.where(lambda p: p != self.panel, span(BAND.x, BAND.width), span(BAND.y, BAND.height))
        self.assertIsNone(hit, f"something drawn in the button band at {hit}")

    def test_texts_are_present(self):
        # Areas that must carry lettering: enough pixels differ from the area's own background.
        areas = {
            "title banner": ((50, 340), (8, 54), self.face.at(300, 10)),
            "account label": ((10, 91), (73, 93), self.panel),
            "confirm label": ((10, 91), (108, 128), self.panel),
            "hint": ((230, 366), (73, 93), self.panel),
            "heading": ((14, 100), (150, 172), self.panel),
            "instructions": ((14, 360), (176, 285), self.panel),
        }
        for name, ((x0, x1), (y0, y1), background) in areas.items():
            with self.subTest(area=name):
                ink = sum(1 for y in range(y0, y1) for x in range(x0, x1) if self.face.at(x, y) != background)
                self.assertGreater(ink, 40, "no lettering")


class Strips(unittest.TestCase):
    """Cells from the top: normal, hover, pressed, disabled."""

    def cells(self, b, w, h):
        return [mean(b, range(w), range(i * h, (i + 1) * h)) for i in range(4)]

    def test_check_cells_look_their_state(self):
        normal, hover, pressed, disabled = self.cells(load("check-strip.bmp"), CHECK.width, CHECK.height)
        self.assertGreater(normal[1], normal[0] + 40, "normal is teal")
        self.assertGreater(normal[2], normal[0] + 40, "normal is teal")
        self.assertGreater(luminance(hover), luminance(normal) + 15, "hover is lighter")
        self.assertLess(luminance(pressed), luminance(normal) - 15, "pressed is darker")
        self.assertLess(saturation(disabled), 25, "disabled is grey")

    def test_close_cells_differ(self):
        cells = self.cells(load("close-strip.bmp"), CLOSE.width, CLOSE.height)
        for a in range(4):
            for b in range(a + 1, 4):
                with self.subTest(cells=(a, b)):
                    diff = sum(abs(cells[a][i] - cells[b][i]) for i in range(3))
                    self.assertGreater(diff, 6)

    def test_corners_match_what_the_buttons_sit_on(self):
        # No key colour is used, so each cell's corners must already be the face's colour beneath it.
        face = load("background.bmp")
        cases = [
            ("check", load("check-strip.bmp"), CHECK.height, face.at(CHECK.x, CHECK.y)),
            ("close", load("close-strip.bmp"), CLOSE.height, face.at(CLOSE.x, CLOSE.y)),
        ]
        for name, strip, h, beneath in cases:
            for cell in range(4):
                corners = [(0, cell * h), (strip.width - 1, cell * h), (0, cell * h + h - 1),
                           (strip.width - 1, cell * h + h - 1)]
                for x, y in corners:
                    with self.subTest(strip=name, cell=cell, corner=(x, y)):
                        self.assertEqual(strip.at(x, y), beneath)

    def test_button_places_are_bare(self):
        # The close button and the check button cover areas of one flat colour; the check button lies in
        # the bare band.
        face = load("background.bmp")
        self.assertTrue(BAND.y <= CHECK.y and CHECK.y + CHECK.height <= BAND.y + BAND.height)
        for name, (x, y, w, h) in {"close": CLOSE, "check": CHECK}.items():
            with self.subTest(button=name):
                hit = face.where(lambda p: p != face.at(x, y), range(x, x + w), range(y, y + h))
                self.assertIsNone(hit)


class Icon(unittest.TestCase):
    EXPECTED = [(32, 8), (16, 24), (64, 24), (128, 24)]  # in directory order

    def test_directory_and_images(self):
        with open(f"{RES}/app.ico", "rb") as f:
            data = f.read()
        reserved, kind, count = struct.unpack_from("<HHH", data, 0)
        self.assertEqual((reserved, kind, count), (0, 1, 4))
        for i, (size, bpp) in enumerate(self.EXPECTED):
            with self.subTest(image=i, size=size, bpp=bpp):
                w, h, colours, _, planes, bits, length, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
                self.assertEqual((w, h, planes, bits), (size % 256, size % 256, 1, bpp))
                self.assertLessEqual(offset + length, len(data))
                hsize, dw, dh, dplanes, dbits, comp = struct.unpack_from("<IiiHHI", data, offset)
                self.assertEqual((hsize, dw, dh, dplanes, dbits, comp), (40, size, 2 * size, 1, bpp, 0))
                palette = 256 * 4 if bpp == 8 else 0
                pitch = (size * bpp // 8 + 3) // 4 * 4
                mask_pitch = ((size + 7) // 8 + 3) // 4 * 4
                self.assertEqual(length, 40 + palette + pitch * size + mask_pitch * size)


if __name__ == "__main__":
    unittest.main(verbosity=2)
