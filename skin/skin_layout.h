#pragma once
// Placement arithmetic of the skinned windows. Portable; the window code only applies the results.
namespace Skin {

struct Placement {
    int x;
    int y;
    int width;
    int height;
    friend bool operator==(const Placement& a, const Placement& b) {
        return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
    }
};

// A box of a window's layout, relative to an anchor (see skin/check_dialog_layout.def).
enum class Anchor { TopLeft, TopRight, BottomCentre };
struct Box {
    Anchor anchor;
    int x;
    int y;
    int width;
    int height;
};

// Where a box goes in a window of cx × cy pixels.
Placement Place(const Box& box, int cx, int cy);

// The table is drawn for 96 dots per inch (100 %). At another scale every length is scaled on its own,
// half rounded up, as res/layout.py scales it for the artwork script and the tests.
inline constexpr int kBaseDpi = 96;
int Scale(int value, int dpi);
Box ScaleBox(const Box& box, int dpi);

// The artwork exists at 96, 144 and 192 dpi (1x, 1.5x, 2x): the index (0, 1, 2) of the one nearest to dpi,
// the larger of two equally near, so scaling it to dpi shrinks rather than enlarges where it can.
int ArtworkScaleIndex(int dpi);
inline constexpr int ArtworkDpi(int index) { return kBaseDpi + kBaseDpi / 2 * index; }

// The check dialog, one constant per row of the table: CheckDialog::kCloseButton and so on.
namespace CheckDialog {
#define SKIN_BOX(name, anchor, x, y, width, height) inline constexpr Box k##name{Anchor::anchor, x, y, width, height};
#include "skin/check_dialog_layout.def"
#undef SKIN_BOX
}  // namespace CheckDialog

// Where the inner edit of a framed edit box goes: inside the border, vertically centred (odd free space
// rounds down), at its fixed height. A frame narrower than its two borders leaves the edit 0 wide.
Placement InnerEditPlacement(int frameWidth, int frameHeight, int borderWidth, int editHeight);

// Whether a WINDOWPOS change (its flags) calls for laying children out again: not when only the position
// changed (SWP_NOSIZE without SWP_SHOWWINDOW).
inline constexpr unsigned kSwpNoSize = 0x0001;
inline constexpr unsigned kSwpShowWindow = 0x0040;
bool PositionChangeNeedsLayout(unsigned flags);

// Whether a press at client row y lies in the drag band at the top of a window. The band includes its
// last row: y == bandHeight still drags.
bool InDragBand(int y, int bandHeight);

}  // namespace Skin
