// The compositor's per-pixel passes and its redraw decision, kept apart from GDI so that they can be
// checked exhaustively and built natively.
#include "ui/frame_math.h"

#include <cstring>

// One 32-bit pixel at a time: blue and red ride in two 16-bit lanes of one product, green in a third,
// and t / 255 for t <= 255 * 255 is (t + 1 + (t >> 8)) >> 8, with no division and no table.
void applyAlphaPass(uint8_t* bgra, const uint8_t* alpha, size_t count) {
    for (size_t i = 0; i < count; ++i, bgra += 4) {
        uint32_t a = alpha[i];
        uint32_t pixel;
        memcpy(&pixel, bgra, sizeof pixel);
        uint32_t blueRed = (pixel & 0x00FF00FFu) * a;
        blueRed = ((blueRed + 0x00010001u + ((blueRed >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
        uint32_t green = ((pixel >> 8) & 0xFFu) * a;
        green = (green + 1u + (green >> 8)) >> 8;
        pixel = blueRed | (green << 8) | (a << 24);
        memcpy(bgra, &pixel, sizeof pixel);
    }
}

void alphaFromMask(const uint8_t* bgra, uint8_t* alpha, size_t count) {
    for (size_t i = 0; i < count; ++i, bgra += 4) {
        alpha[i] = static_cast<uint8_t>((bgra[0] + bgra[1] + bgra[2]) / 3);
    }
}

int barWidth(int rectWidth, int progress) {
    if (progress < 0) progress = 0;
    if (progress > 100) progress = 100;
    return rectWidth * progress / 100;
}

int buttonSlot(int button, int state) {
    if (state < 0 || state > 3) return -1;
    if (state == 0) {
        if (button != 0) return -1;
        state = 2;
    }
    return buttonImageSlot(button, state);
}

FrameValues frameValuesOf(const int buttonState[kButtonCount], int fileProgress, int totalProgress) {
    FrameValues values{};
    for (int i = 0; i < kButtonCount; ++i) values.buttonState[i] = buttonState[i];
    if (values.buttonState[0] == 0) values.buttonState[0] = 2;
    values.fileProgress = fileProgress;
    values.totalProgress = totalProgress;
    return values;
}

bool sameFrameValues(const FrameValues& a, const FrameValues& b) {
    for (int i = 0; i < kButtonCount; ++i) {
        if (a.buttonState[i] != b.buttonState[i]) return false;
    }
    return a.fileProgress == b.fileProgress && a.totalProgress == b.totalProgress;
}
