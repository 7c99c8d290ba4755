#include "skin/skin_layout.h"

#include <algorithm>
#include <cstdlib>

namespace Skin {

Placement Place(const Box& box, int cx, int cy) {
    switch (box.anchor) {
    case Anchor::TopRight: return Placement{cx - box.width - box.x, box.y, box.width, box.height};
    case Anchor::BottomCentre: return Placement{(cx - box.width) / 2 + box.x, cy - box.y, box.width, box.height};
    case Anchor::TopLeft: break;
    }
    return Placement{box.x, box.y, box.width, box.height};
}

int Scale(int value, int dpi) { return (value * dpi + kBaseDpi / 2) / kBaseDpi; }

Box ScaleBox(const Box& box, int dpi) {
    return Box{box.anchor, Scale(box.x, dpi), Scale(box.y, dpi), Scale(box.width, dpi), Scale(box.height, dpi)};
}

int ArtworkScaleIndex(int dpi) {
    int best = 0;
    for (int index = 1; index < 3; ++index) {
        if (std::abs(ArtworkDpi(index) - dpi) <= std::abs(ArtworkDpi(best) - dpi)) best = index;
    }
    return best;
}

Placement InnerEditPlacement(int frameWidth, int frameHeight, int borderWidth, int editHeight) {
    return Placement{borderWidth, (frameHeight - editHeight) / 2, std::max(0, frameWidth - 2 * borderWidth),
                     editHeight};
}

bool PositionChangeNeedsLayout(unsigned flags) {
    return !((flags & kSwpNoSize) && !(flags & kSwpShowWindow));
}

bool InDragBand(int y, int bandHeight) { return y <= bandHeight; }

}  // namespace Skin
