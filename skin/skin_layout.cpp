#include "skin/skin_layout.h"

#include <algorithm>

namespace Skin {

Placement Place(const Box& box, int cx, int cy) {
    switch (box.anchor) {
    case Anchor::TopRight: return Placement{cx - box.width - box.x, box.y, box.width, box.height};
    case Anchor::BottomCentre: return Placement{(cx - box.width) / 2 + box.x, cy - box.y, box.width, box.height};
    case Anchor::TopLeft: break;
    }
    return Placement{box.x, box.y, box.width, box.height};
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
