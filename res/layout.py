#!/usr/bin/env python3
"""The check dialog's geometry, read from skin/check_dialog_layout.def, for Python and the shell.

    import layout; layout.box("CheckButton")  -> Placement(x, y, width, height) in the 371 x 356 dialog
    res/layout.py --shell                      -> CheckButton_x=122 CheckButton_y=306 ... for eval
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


def box(name):
    """A box placed in the dialog at its own size."""
    return place(ROWS[name], DIALOG.width, DIALOG.height)


def centre(name):
    b = box(name)
    return (b.x + b.width // 2, b.y + b.height // 2)


if __name__ == "__main__":
    if sys.argv[1:] != ["--shell"]:
        sys.exit(__doc__)
    for name in ROWS:
        b = box(name)
        print(" ".join(f"{name}_{field}={getattr(b, field)}" for field in Placement._fields))
