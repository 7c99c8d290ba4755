#pragma once
// The image button's states and how the pointer moves it between them. Portable, so the rules are tested
// without windows.
namespace Skin {

enum ButtonState : int {
    STATE_NORMAL = 0,
    STATE_PRESSED = 1,
    STATE_HOVER = 2,
    STATE_DISABLED = 3,
};

// The pointer moved over the button: a normal button lights up; others stay as they are.
int ButtonStateAfterMove(int state);
// The left button went down on the button: pressed, unless disabled.
int ButtonStateAfterPress(int state);

struct ButtonRelease {
    int state;
    bool clicked;  // a press on the button ended inside it: the owner is notified
};
// The left button came up, inside the button or not.
ButtonRelease ButtonStateAfterRelease(int state, bool inside);
// The pointer left the button: normal, unless disabled.
int ButtonStateAfterLeave(int state);

// The strip cell that shows a state (normal 0, hover 1, pressed 2, disabled 3), limited to the strip's
// last cell; -1 when the state has no cell or the strip none.
int ButtonCellIndex(int state, int cellCount);

}  // namespace Skin
