// Pointer geometry of the launcher window: strict inside tests, the close corner, the hover scan and
// the button a release lands on. Free of <windows.h>; the window procedure feeds it window coordinates.
#pragma once
#include "ui/skin_slots.h"

struct HitBox {
    long left, top, right, bottom;
};

enum { kDisabledState = 3 };

// Strictly inside on all four sides: points on the border do not count.
bool isInsideBox(const HitBox& box, int x, int y);

// The close mark's corner of the skin: x > 580 and y < 70.
bool isInCloseCorner(int x, int y);

// Hover scan over the buttons 0 to 3. Disabled buttons (state 3) are skipped and keep 3. A button under
// the pointer becomes 2 when the left button is held (and the scan ends there: later buttons keep their
// state) or 1 otherwise; a button not under it becomes 0. planned receives the new states; the answer
// says whether an enabled button is under the pointer.
bool planHoverStates(const int current[kButtonCount], const HitBox boxes[kButtonCount], int x, int y,
                     bool buttonHeld, int planned[kButtonCount]);

// The first enabled button, in index order, that contains the point; -1 when none does.
int buttonAtPoint(const int states[kButtonCount], const HitBox boxes[kButtonCount], int x, int y);
