// Composes the launcher frame (background, buttons, bars, outlined status line, version line) into
// the 32-bit surface, premultiplies it by the skin's alpha map and hands it to the layered window.
#include "ui/compositor.h"

#include <cstdio>
#include <cstring>

#include "app/launcher_state.h"
#include "settings/launcher_settings.h"
#include "ui/frame_math.h"

namespace {

const char kChannelWord[] = "live";
const char kRegionCode[] = "TH";
const int kVersionLineX = 20;
const int kVersionLineY = 55;
const COLORREF kOutlineGrey = 0x666666;
const COLORREF kOutlineBlack = 0x000000;

size_t pixelCount() {
    return static_cast<size_t>(gState.windowWidth) * static_cast<size_t>(gState.windowHeight);
}

// Copies (0, 0, width, height) of image to (x, y) of target through a context of its own.
void blitImage(HDC target, HBITMAP image, int x, int y, int width, int height) {
    if (!image || width <= 0 || height <= 0) return;
    HDC source = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(source, image);
    BitBlt(target, x, y, width, height, source, 0, 0, SRCCOPY);
    SelectObject(source, previous);
    DeleteDC(source);
}

void drawButtons(HDC target, const FrameValues& frame) {
    for (int i = 0; i < kButtonCount; ++i) {
        int slot = buttonSlot(i, frame.buttonState[i]);
        if (slot < 0) continue;
        const RECT& rect = gState.hitRects[i];
        blitImage(target, gState.skinImages[slot], rect.left, rect.top, rect.right - rect.left,
                  rect.bottom - rect.top);
    }
}

// The bar image is cut, not stretched: its left part shows.
void drawBar(HDC target, int slot, const RECT& rect, int progress) {
    blitImage(target, gState.skinImages[slot], rect.left, rect.top, barWidth(rect.right - rect.left, progress),
              rect.bottom - rect.top);
}

// Outlined status line: grey diagonals, black sides, then the text colour on top.
void drawStatusLine(HDC target) {
    char shown[256];
    snprintf(shown, sizeof shown, "%s", gState.shownStatusText);  // longer texts are cut to 255 bytes
    wchar_t wide[256] = {};
    int length = MultiByteToWideChar(CP_ACP, 0, shown, -1, nullptr, 0);
    if (length <= 1 || length > 256) return;
    MultiByteToWideChar(CP_ACP, 0, shown, -1, wide, length);
    int count = length - 1;
    int x = gSettings.statusTextX;
    int y = gSettings.statusTextY;
    const POINT diagonals[4] = {{x + 1, y + 1}, {x - 1, y - 1}, {x + 1, y - 1}, {x - 1, y + 1}};
    const POINT sides[4] = {{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}};
    SetTextColor(target, kOutlineGrey);
    for (const POINT& p : diagonals) TextOutW(target, p.x, p.y, wide, count);
    SetTextColor(target, kOutlineBlack);
    for (const POINT& p : sides) TextOutW(target, p.x, p.y, wide, count);
    SetTextColor(target, gSettings.statusTextColour);
    TextOutW(target, x, y, wide, count);
}

// In the status colour, without an outline; set here, since an empty status line sets no colour.
void drawVersionLine(HDC target) {
    SetTextColor(target, gSettings.statusTextColour);
    char line[256];
    int length = snprintf(line, sizeof line, "l%d.%d.%d.%d %s %s", gState.launcherFileVersion[0],
                          gState.launcherFileVersion[1], gState.launcherFileVersion[2],
                          gState.launcherFileVersion[3], kChannelWord, kRegionCode);
    if (length <= 0) return;
    if (length >= static_cast<int>(sizeof line)) length = sizeof line - 1;
    TextOutA(target, kVersionLineX, kVersionLineY, line, length);
}

void composeFrame(const FrameValues& frame) {
    HDC target = CreateCompatibleDC(nullptr);
    HGDIOBJ previousBitmap = SelectObject(target, gState.surfaceBitmap);
    blitImage(target, gState.backgroundImage, 0, 0, gState.windowWidth, gState.windowHeight);
    drawButtons(target, frame);
    drawBar(target, kFileBarSlot, gState.hitRects[kHitFileBar], frame.fileProgress);
    drawBar(target, kTotalBarSlot, gState.hitRects[kHitTotalBar], frame.totalProgress);
    SetBkMode(target, TRANSPARENT);
    HGDIOBJ previousFont = gState.statusFont ? SelectObject(target, gState.statusFont) : nullptr;
    drawStatusLine(target);
    drawVersionLine(target);
    if (previousFont) SelectObject(target, previousFont);
    SelectObject(target, previousBitmap);
    DeleteDC(target);
    GdiFlush();  // GDI may batch; the pixels must be final before the alpha pass reads them
    applyAlphaPass(gState.surfaceBits, gState.alphaMap, pixelCount());
}

FrameValues liveFrameValues() {
    int buttons[kButtonCount];
    for (int i = 0; i < kButtonCount; ++i) buttons[i] = gState.buttonState[i];
    return frameValuesOf(buttons, gState.fileProgress, gState.totalProgress);
}

FrameValues shownFrameValues() {
    FrameValues shown{};
    for (int i = 0; i < kButtonCount; ++i) shown.buttonState[i] = gState.shownButtonState[i];
    shown.fileProgress = gState.shownFileProgress;
    shown.totalProgress = gState.shownTotalProgress;
    return shown;
}

void recordShownFrame(const FrameValues& frame) {
    for (int i = 0; i < kButtonCount; ++i) gState.shownButtonState[i] = frame.buttonState[i];
    gState.shownFileProgress = frame.fileProgress;
    gState.shownTotalProgress = frame.totalProgress;
}

}  // namespace

HBITMAP createSurface(int width, int height, unsigned char** bits) {
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // positive: rows bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    void* pixels = nullptr;
    HBITMAP surface = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    ReleaseDC(nullptr, screen);
    *bits = surface ? static_cast<unsigned char*>(pixels) : nullptr;
    return surface;
}

void buildAlphaMap() {
    HDC target = CreateCompatibleDC(nullptr);
    HGDIOBJ previousTarget = SelectObject(target, gState.surfaceBitmap);
    blitImage(target, gState.maskImage, 0, 0, gState.windowWidth, gState.windowHeight);
    GdiFlush();
    alphaFromMask(gState.surfaceBits, gState.alphaMap, pixelCount());
    blitImage(target, gState.backgroundImage, 0, 0, gState.windowWidth, gState.windowHeight);
    GdiFlush();
    applyAlphaPass(gState.surfaceBits, gState.alphaMap, pixelCount());
    SelectObject(target, previousTarget);
    DeleteDC(target);
}

int renderFrame() {
    if (gState.quitRequested) return 0;
    // The live values are read once: the frame drawn is exactly the one recorded as shown, and the
    // start button's state 0 compares as the pressed picture it shows, so an idle ready launcher
    // composes nothing.
    FrameValues frame = liveFrameValues();
    bool statusChanged = takeStatusSnapshot();
    if (!statusChanged && sameFrameValues(frame, shownFrameValues())) return 0;
    recordShownFrame(frame);
    composeFrame(frame);
    return 1;
}

void presentFrame() {
    HDC screen = GetDC(nullptr);
    if (!screen) return;
    HDC memory = CreateCompatibleDC(screen);
    if (!memory) {
        ReleaseDC(nullptr, screen);
        return;
    }
    HGDIOBJ previous = SelectObject(memory, gState.surfaceBitmap);
    if (gState.osMajorVersion >= 5) {
        BLENDFUNCTION blend;
        static_assert(sizeof blend == sizeof gSettings.layerBlend, "blend layouts differ");
        memcpy(&blend, &gSettings.layerBlend, sizeof blend);
        UpdateLayeredWindow(gState.mainWindow, screen, &gState.layerPosition, &gState.layerSize, memory,
                            &gState.layerSourceOrigin, 0, &blend, ULW_ALPHA);
    } else {
        HDC window = GetDC(gState.mainWindow);
        BitBlt(window, 0, 0, gState.windowWidth, gState.windowHeight, memory, 0, 0, SRCCOPY);
        ReleaseDC(gState.mainWindow, window);
    }
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}
