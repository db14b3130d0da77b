// Where the skin's pictures live in LauncherState::skinImages, and how many buttons and hit
// rectangles the window has. One place for the numbers the start-up, the compositor and the frame
// arithmetic share. Free of <windows.h>.
#pragma once

enum {
    kButtonCount = 4,           // start, cancel, home page, community
    kStatesPerButton = 3,       // hover, pressed, disabled; the normal look is in the background
    kFileBarSlot = kButtonCount * kStatesPerButton,  // 12
    kTotalBarSlot = kFileBarSlot + 1,                // 13
    kLoadedSkinSlots = kTotalBarSlot + 1,            // 14: the slots the start-up fills
    kSkinImageSlots = 20,       // the record's slots; the ones above kLoadedSkinSlots stay empty
    kHitRectCount = kButtonCount + 2,  // the buttons, then the two bars
    kStartButtonWidth = 100,    // the start button's pictures are stretched to this size at load time
    kStartButtonHeight = 99,
};

// Slot of a button's picture for states 1 to 3.
inline int buttonImageSlot(int button, int state) { return kStatesPerButton * button + state - 1; }
