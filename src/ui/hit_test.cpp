// Hit tests and the hover scan of the launcher's four skin buttons, as plain arithmetic over
// rectangles and states so that the edge cases can be tested without a window.
#include "ui/hit_test.h"

bool isInsideBox(const HitBox& box, int x, int y) {
    return box.left < x && x < box.right && box.top < y && y < box.bottom;
}

bool isInCloseCorner(int x, int y) { return x > 580 && y < 70; }

bool planHoverStates(const int current[kButtonCount], const HitBox boxes[kButtonCount], int x, int y,
                     bool buttonHeld, int planned[kButtonCount]) {
    bool overButton = false;
    for (int i = 0; i < kButtonCount; ++i) planned[i] = current[i];
    for (int i = 0; i < kButtonCount; ++i) {
        if (current[i] == kDisabledState) continue;
        if (!isInsideBox(boxes[i], x, y)) {
            planned[i] = 0;
            continue;
        }
        overButton = true;
        if (buttonHeld) {
            planned[i] = 2;
            break;
        }
        planned[i] = 1;
    }
    return overButton;
}

int buttonAtPoint(const int states[kButtonCount], const HitBox boxes[kButtonCount], int x, int y) {
    for (int i = 0; i < kButtonCount; ++i) {
        if (states[i] != kDisabledState && isInsideBox(boxes[i], x, y)) return i;
    }
    return -1;
}
