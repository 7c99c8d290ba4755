#include "skin/skin_layout.h"

#include <algorithm>

namespace Skin {

Placement InnerEditPlacement(int frameWidth, int frameHeight, int borderWidth, int editHeight) {
    return Placement{borderWidth, (frameHeight - editHeight) / 2, std::max(0, frameWidth - 2 * borderWidth),
                     editHeight};
}

bool PositionChangeNeedsLayout(unsigned flags) {
    return !((flags & kSwpNoSize) && !(flags & kSwpShowWindow));
}

bool InDragBand(int y, int bandHeight) { return y <= bandHeight; }

}  // namespace Skin
