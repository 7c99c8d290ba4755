#!/usr/bin/env python3
"""The check dialog's geometry, read from skin/check_dialog_layout.def, for Python and the shell.

    import layout; layout.box("CheckButton")  -> Placement(x, y, width, height) in the 371 x 356 dialog
    layout.box("CheckButton", 192)             -> the same at 192 dots per inch (2x), as the program scales it
    res/layout.py --shell [DPI]                -> CheckButton_x=122 CheckButton_y=306 ... for eval
"""
import collections
import os
import re
import sys

TABLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "skin", "check_dialog_layout.def")
ROW = re.compile(r"^SKIN_BOX\(\s*(\w+),\s*(\w+),\s*(-?\d+),\s*(-?\d+),\s*(\d+),\s*(\d+)\s*\)")

Placement = collections.namedtuple("Placement", "x y width height")


def rows():
    table = {}
    with open(TABLE, encoding="utf-8") as f:
        for line in f:
            m = ROW.match(line)
            if m:
                name, anchor, *numbers = m.groups()
                table[name] = (anchor, *map(int, numbers))
    return table


def scale(value, dpi):
    """The same rounding as Skin::Scale: a 96-dpi length at dpi, half rounded up."""
    return (value * dpi + 48) // 96


def scaled(row, dpi):
    anchor, *numbers = row
    return (anchor, *(scale(n, dpi) for n in numbers))


def place(row, cx, cy):
    """The same arithmetic as Skin::Place."""
    anchor, x, y, w, h = row
    if anchor == "TopRight":
        return Placement(cx - w - x, y, w, h)
    if anchor == "BottomCentre":
        return Placement((cx - w) // 2 + x, cy - y, w, h)
    if anchor == "TopLeft":
        return Placement(x, y, w, h)
    raise ValueError(f"unknown anchor {anchor}")


ROWS = rows()
DIALOG = place(ROWS["Dialog"], 0, 0)


def box(name, dpi=96):
    """A box placed in the dialog at its own size, at that many dots per inch."""
    dialog = place(scaled(ROWS["Dialog"], dpi), 0, 0)
    return place(scaled(ROWS[name], dpi), dialog.width, dialog.height)


def centre(name, dpi=96):
    b = box(name, dpi)
    return (b.x + b.width // 2, b.y + b.height // 2)


if __name__ == "__main__":
    if sys.argv[1:2] != ["--shell"] or len(sys.argv) > 3:
        sys.exit(__doc__)
    dpi = int(sys.argv[2]) if len(sys.argv) == 3 else 96
    for name in ROWS:
        b = box(name, dpi)
        print(" ".join(f"{name}_{field}={getattr(b, field)}" for field in Placement._fields))
