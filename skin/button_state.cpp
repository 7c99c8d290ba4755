#include "skin/button_state.h"

#include <algorithm>

namespace Skin {

int ButtonStateAfterMove(int state) { return state == STATE_NORMAL ? STATE_HOVER : state; }

int ButtonStateAfterPress(int state) { return state == STATE_DISABLED ? state : STATE_PRESSED; }

ButtonRelease ButtonStateAfterRelease(int state, bool inside) {
    if (state == STATE_DISABLED) return {state, false};
    return {inside ? STATE_HOVER : STATE_NORMAL, state == STATE_PRESSED && inside};
}

int ButtonStateAfterLeave(int state) { return state == STATE_DISABLED ? state : STATE_NORMAL; }

int ButtonCellIndex(int state, int cellCount) {
    int cell = -1;
    switch (state) {
        case STATE_NORMAL: cell = 0; break;
        case STATE_HOVER: cell = 1; break;
        case STATE_PRESSED: cell = 2; break;
        case STATE_DISABLED: cell = 3; break;
        default: return -1;
    }
    if (cellCount <= 0) return -1;
    return std::min(cell, cellCount - 1);
}

}  // namespace Skin
