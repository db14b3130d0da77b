// Pixel and redraw arithmetic of the compositor: the alpha pass, bar widths, which picture a button
// state shows and whether a frame would differ from the one on screen. Free of <windows.h>.
#pragma once
#include <cstddef>
#include <cstdint>

#include "ui/skin_slots.h"

// x * a / 255 truncated, exact for every x and a in 0..255, without a division or a table:
// 257 * (t + 1) / 65536 stays below the next multiple of 255 for every product t <= 255 * 255.
inline uint8_t scaleByAlpha(uint32_t x, uint32_t a) {
    return static_cast<uint8_t>(((x * a + 1u) * 257u) >> 16);
}

// Premultiplies count pixels of 32-bit BGRA memory in place: alpha byte = alpha[i], each colour
// byte = colour * alpha / 255.
void applyAlphaPass(uint8_t* bgra, const uint8_t* alpha, size_t count);

// alpha[i] = (blue + green + red) / 3 of a grey mask's BGRA pixels.
void alphaFromMask(const uint8_t* bgra, uint8_t* alpha, size_t count);

// Drawn width of a progress bar: rectWidth * progress / 100, progress clamped to 0..100.
int barWidth(int rectWidth, int progress);

// Image slot of a button state, or -1 when nothing is drawn over the background (state 0 of the
// buttons 1 to 3). The start button has no normal look of its own and shows its pressed picture.
int buttonSlot(int button, int state);

// What a frame shows of the live values, and what it showed last time.
struct FrameValues {
    int buttonState[kButtonCount];
    int fileProgress;
    int totalProgress;
};

// The frame the live values would draw: the start button's state 0 is drawn as state 2, so it is
// recorded as 2 and an idle ready launcher compares equal to its last frame.
FrameValues frameValuesOf(const int buttonState[kButtonCount], int fileProgress, int totalProgress);
bool sameFrameValues(const FrameValues& a, const FrameValues& b);
