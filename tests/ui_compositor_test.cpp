// The compositor on a real DIB section: alpha map from the mask, premultiplied pixels, button
// pictures by state, bars cut by progress, the status line's 255-byte cut and the redraw decision.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/launcher_state.h"
#include "settings/launcher_settings.h"
#include "ui/compositor.h"

namespace {

const int kWidth = 320;
const int kHeight = 160;
const int kButtonSize = 20;
const int kBarWidth = 276;
const int kBarHeight = 7;

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};

std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << ")";
}

const Rgb kBackground{120, 80, 40};
const COLORREF kTextColour = RGB(0, 255, 0);

Rgb slotColour(int slot) { return Rgb{uint8_t(20 + 15 * slot), uint8_t(200 - 10 * slot), uint8_t(61 + slot)}; }

// A top-down 32-bit DIB section whose pixels come from colourAt(x, y).
template <typename ColourAt>
HBITMAP makeBitmap(int width, int height, ColourAt colourAt) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    uint8_t* p = static_cast<uint8_t*>(bits);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x, p += 4) {
            Rgb c = colourAt(x, y);
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
            p[3] = 255;
        }
    }
    return bitmap;
}

HBITMAP solidBitmap(int width, int height, Rgb colour) {
    return makeBitmap(width, height, [colour](int, int) { return colour; });
}

// Opaque left part, a half-transparent strip at x 290..299, transparent from x 300.
Rgb maskAt(int x, int) {
    uint8_t v = x < 290 ? 255 : x < 300 ? 128 : 0;
    return Rgb{v, v, v};
}

class Compositor : public ::testing::Test {
protected:
    void SetUp() override {
        gState.windowWidth = kWidth;
        gState.windowHeight = kHeight;
        gState.surfaceBitmap = createSurface(kWidth, kHeight, &gState.surfaceBits);
        ASSERT_NE(gState.surfaceBitmap, nullptr);
        ASSERT_NE(gState.surfaceBits, nullptr);
        alpha_.assign(static_cast<size_t>(kWidth) * kHeight, 0);
        gState.alphaMap = alpha_.data();
        gState.backgroundImage = solidBitmap(kWidth, kHeight, kBackground);
        gState.maskImage = makeBitmap(kWidth, kHeight, maskAt);
        for (int slot = 0; slot < 12; ++slot) gState.skinImages[slot] = solidBitmap(kButtonSize, kButtonSize, slotColour(slot));
        for (int slot = 12; slot < 14; ++slot) gState.skinImages[slot] = solidBitmap(kBarWidth, kBarHeight, slotColour(slot));
        for (int i = 0; i < 4; ++i) gState.hitRects[i] = RECT{10 + 30 * i, 10, 10 + 30 * i + kButtonSize, 10 + kButtonSize};
        gState.hitRects[kHitFileBar] = RECT{10, 90, 10 + kBarWidth, 90 + kBarHeight};
        gState.hitRects[kHitTotalBar] = RECT{10, 110, 10 + kBarWidth, 110 + kBarHeight};
        const int live[4] = {3, 0, 0, 0};
        const int shown[4] = {1, 1, 1, 1};
        for (int i = 0; i < 4; ++i) {
            gState.buttonState[i] = live[i];
            gState.shownButtonState[i] = shown[i];
        }
        gState.fileProgress = gState.totalProgress = 0;
        gState.shownFileProgress = gState.shownTotalProgress = 100;
        gState.quitRequested = 0;
        gState.statusFont = nullptr;
        gState.shownStatusText[0] = '\0';
        setStatusText("Initializing...");
        gSettings.statusTextX = 10;
        gSettings.statusTextY = 130;
        gSettings.statusTextColour = kTextColour;
        buildAlphaMap();
    }

    void TearDown() override {
        DeleteObject(gState.backgroundImage);
        DeleteObject(gState.maskImage);
        for (int slot = 0; slot < 14; ++slot) DeleteObject(gState.skinImages[slot]);
        DeleteObject(gState.surfaceBitmap);
        gState.alphaMap = nullptr;
    }

    static uint8_t* pixel(int x, int y) {
        return gState.surfaceBits + (static_cast<size_t>(kHeight - 1 - y) * kWidth + x) * 4;
    }
    static Rgb colourAt(int x, int y) { return Rgb{pixel(x, y)[2], pixel(x, y)[1], pixel(x, y)[0]}; }
    static uint8_t alphaAt(int x, int y) { return pixel(x, y)[3]; }

    static int countColour(Rgb colour, int x0, int y0, int x1, int y1) {
        int count = 0;
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) count += colourAt(x, y) == colour;
        }
        return count;
    }

    static void setButtons(int a, int b, int c, int d) {
        gState.buttonState[0] = a;
        gState.buttonState[1] = b;
        gState.buttonState[2] = c;
        gState.buttonState[3] = d;
    }

    std::vector<unsigned char> alpha_;
};

TEST_F(Compositor, AlphaMapComesFromTheMaskAndTheBackgroundIsPremultiplied) {
    EXPECT_EQ(gState.alphaMap[static_cast<size_t>(kHeight - 1 - 5) * kWidth + 5], 255);
    EXPECT_EQ(gState.alphaMap[static_cast<size_t>(kHeight - 1 - 5) * kWidth + 295], 128);
    EXPECT_EQ(gState.alphaMap[static_cast<size_t>(kHeight - 1 - 5) * kWidth + 305], 0);
    EXPECT_EQ(colourAt(5, 5), kBackground);
    EXPECT_EQ(alphaAt(5, 5), 255);
    EXPECT_EQ(colourAt(295, 5), (Rgb{120 * 128 / 255, 80 * 128 / 255, 40 * 128 / 255}));
    EXPECT_EQ(alphaAt(295, 5), 128);
    EXPECT_EQ(colourAt(305, 150), (Rgb{0, 0, 0}));
    EXPECT_EQ(alphaAt(305, 150), 0);
}

TEST_F(Compositor, FirstFrameComposesAndAnUnchangedOneDoesNot) {
    EXPECT_EQ(renderFrame(), 1);
    EXPECT_EQ(renderFrame(), 0);
    EXPECT_EQ(colourAt(20, 20), slotColour(2));  // start button disabled while checking
}

TEST_F(Compositor, ButtonsShowThePictureOfTheirState) {
    setButtons(0, 1, 3, 0);
    ASSERT_EQ(renderFrame(), 1);
    EXPECT_EQ(colourAt(20, 20), slotColour(1));   // start, normal: its pressed picture
    EXPECT_EQ(colourAt(50, 20), slotColour(3));   // Cancel hover
    EXPECT_EQ(colourAt(80, 20), slotColour(8));   // Home Page disabled
    EXPECT_EQ(colourAt(110, 20), kBackground);    // Community normal: the background's own look
    EXPECT_EQ(gState.shownButtonState[0], 2);
}

TEST_F(Compositor, IdleReadyLauncherComposesNothingUntilSomethingChanges) {
    setButtons(0, 0, 0, 0);
    gState.fileProgress = gState.totalProgress = 100;
    ASSERT_EQ(renderFrame(), 1);
    pixel(200, 150)[0] = 7;  // a composition would overwrite it
    for (int tick = 0; tick < 20; ++tick) ASSERT_EQ(renderFrame(), 0) << "tick " << tick;
    EXPECT_EQ(pixel(200, 150)[0], 7);
    gState.buttonState[0] = 1;
    EXPECT_EQ(renderFrame(), 1);
    EXPECT_EQ(colourAt(20, 20), slotColour(0));
    gState.buttonState[0] = 3;  // the worker disables the start button
    EXPECT_EQ(renderFrame(), 1);
    EXPECT_EQ(colourAt(20, 20), slotColour(2));
}

TEST_F(Compositor, BarsAreCutByTheirProgress) {
    struct Case {
        int file, total, fileWidth, totalWidth;
    };
    const Case cases[] = {{50, 0, 138, 0}, {0, 100, 0, 276}, {100, 33, 276, 91}, {1, 99, 2, 273}};
    for (const Case& c : cases) {
        gState.fileProgress = c.file;
        gState.totalProgress = c.total;
        ASSERT_EQ(renderFrame(), 1);
        EXPECT_EQ(countColour(slotColour(12), 0, 90, kWidth, 97), c.fileWidth * kBarHeight) << c.file;
        EXPECT_EQ(countColour(slotColour(13), 0, 110, kWidth, 117), c.totalWidth * kBarHeight) << c.total;
        if (c.fileWidth > 0) {
            EXPECT_EQ(colourAt(10 + c.fileWidth - 1, 93), slotColour(12));
        }
        EXPECT_EQ(colourAt(10 + c.fileWidth, 93), kBackground);
    }
}

TEST_F(Compositor, FrameIsShapedByTheAlphaMap) {
    setButtons(3, 0, 0, 0);
    gState.fileProgress = 100;
    ASSERT_EQ(renderFrame(), 1);
    Rgb bar = slotColour(12);
    EXPECT_EQ(colourAt(280, 93), bar);
    EXPECT_EQ(alphaAt(280, 93), 255);
    EXPECT_EQ(colourAt(295, 5), (Rgb{120 * 128 / 255, 80 * 128 / 255, 40 * 128 / 255}));
    EXPECT_EQ(alphaAt(295, 5), 128);
    EXPECT_EQ(colourAt(310, 100), (Rgb{0, 0, 0}));
    EXPECT_EQ(alphaAt(310, 100), 0);
}

TEST_F(Compositor, QuitRequestedKeepsTheLastFrame) {
    ASSERT_EQ(renderFrame(), 1);
    gState.quitRequested = 1;
    gState.fileProgress = 100;
    setStatusText("Changed");
    EXPECT_EQ(renderFrame(), 0);
    EXPECT_EQ(colourAt(100, 93), kBackground);
}

TEST_F(Compositor, StatusLineIsDrawnAndRedrawnWhenItChanges) {
    setStatusText("MMMM");
    ASSERT_EQ(renderFrame(), 1);
    EXPECT_GT(countColour(Rgb{0, 255, 0}, 0, 120, 290, kHeight), 20);
    EXPECT_GT(countColour(Rgb{0, 0, 0}, 0, 120, 290, kHeight), 20);  // the outline
    EXPECT_EQ(renderFrame(), 0);
    setStatusText("MMMM ");
    EXPECT_EQ(renderFrame(), 1);
}

// Text past the first 255 bytes is not drawn: "MMMM" behind 255 blanks, placed so that it would land
// inside the window, leaves no text pixels.
TEST_F(Compositor, StatusLineDrawsOnlyTheFirst255Bytes) {
    HDC dc = CreateCompatibleDC(nullptr);
    SIZE blanks{};
    std::string padding(255, ' ');
    GetTextExtentPoint32A(dc, padding.c_str(), static_cast<int>(padding.size()), &blanks);
    DeleteDC(dc);
    ASSERT_GT(blanks.cx, 0);
    gSettings.statusTextX = 20 - blanks.cx;
    setStatusText((std::string(254, ' ') + "MMMM").c_str());  // control: within the cut
    ASSERT_EQ(renderFrame(), 1);
    ASSERT_GT(countColour(Rgb{0, 255, 0}, 0, 120, 290, kHeight), 5);
    setStatusText((padding + "MMMM").c_str());
    ASSERT_EQ(renderFrame(), 1);
    EXPECT_EQ(strlen(gState.shownStatusText), 259u);
    EXPECT_EQ(countColour(Rgb{0, 255, 0}, 0, 120, 290, kHeight), 0);
}

}  // namespace
