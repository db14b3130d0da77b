// The layout step on the built-in texts, and the window procedure on a real window: closing, moves,
// the close corner, and the pointer handling that must never overwrite a disabled start button.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "app/launcher_state.h"
#include "settings/launcher_settings.h"
#include "settings/layout.h"
#include "support/dialog_watcher.h"
#include "ui/window_proc.h"

namespace {

TEST(ApplyLayout, TurnsTheBuiltInTextsIntoStyleAndPositions) {
    EXPECT_EQ(gSettings.statusTextX, 200);
    EXPECT_EQ(gSettings.statusTextY, 200);
    EXPECT_STREQ(gSettings.statusFontFace, "Fixedsys");
    EXPECT_EQ(gSettings.statusFontHeight, 16);
    EXPECT_EQ(applyLayout(), 1);
    EXPECT_EQ(gSettings.statusTextX, 140);
    EXPECT_EQ(gSettings.statusTextY, 340);
    EXPECT_EQ(gSettings.statusTextColour, 0x00FFFFFFu);
    EXPECT_STREQ(gSettings.statusFontFace, "Arial");
    EXPECT_EQ(gSettings.statusFontHeight, 11);
    const POINT origins[6] = {{20, 349}, {335, 364}, {138, 364}, {237, 364}, {141, 430}, {141, 418}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(gState.hitRects[i].left, origins[i].x) << i;
        EXPECT_EQ(gState.hitRects[i].top, origins[i].y) << i;
    }
    EXPECT_STREQ(gState.statusText, "Initializing...");
    EXPECT_STREQ(gState.homePageUrl, settingText(SettingText::HomePageUrl));
    EXPECT_STREQ(gState.socialPageUrl, settingText(SettingText::SocialPageUrl));
}

// Skin-like geometry; the window itself sits anywhere, the procedure works from windowX/windowY.
class WindowProc : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = mainWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "UiWindowTest";
        RegisterClassA(&windowClass);
        gState.mainWindow = CreateWindowExA(0, "UiWindowTest", "ui window test", WS_POPUP, 0, 0, 649, 489, nullptr,
                                            nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(gState.mainWindow, nullptr) << "needs an X display";
        gState.windowX = 100;
        gState.windowY = 50;
        const RECT rects[4] = {{20, 349, 120, 448}, {335, 364, 429, 403}, {138, 364, 232, 403}, {237, 364, 331, 403}};
        for (int i = 0; i < 4; ++i) gState.hitRects[i] = rects[i];
        gState.quitRequested = 0;
    }
    void TearDown() override { DestroyWindow(gState.mainWindow); }

    static LRESULT send(UINT message) { return SendMessageA(gState.mainWindow, message, 0, 0); }
    static void pointAt(int x, int y) { SetCursorPos(gState.windowX + x, gState.windowY + y); }
    static void setButtons(int a, int b, int c, int d) {
        gState.buttonState[0] = a;
        gState.buttonState[1] = b;
        gState.buttonState[2] = c;
        gState.buttonState[3] = d;
    }
};

TEST_F(WindowProc, CloseAnswersOneAndOnlyRequestsTheEnd) {
    EXPECT_EQ(send(WM_CLOSE), 1);
    EXPECT_EQ(gState.quitRequested, 1);
    EXPECT_TRUE(IsWindow(gState.mainWindow));
}

TEST_F(WindowProc, MoveTakesSignedCoordinatesAndPlacesTheLayer) {
    EXPECT_EQ(SendMessageA(gState.mainWindow, WM_MOVE, 0, MAKELPARAM(-5, 300)), 0);
    EXPECT_EQ(gState.windowX, -5);
    EXPECT_EQ(gState.windowY, 300);
    RECT rect{};
    GetWindowRect(gState.mainWindow, &rect);
    EXPECT_EQ(rect.left, -5);
    EXPECT_EQ(rect.top, 300);
    EXPECT_EQ(gState.layerPosition.x, -5);
    EXPECT_EQ(gState.layerPosition.y, 300);
    EXPECT_EQ(gState.layerSize.cx, 649);
    EXPECT_EQ(gState.layerSize.cy, 489);
}

TEST_F(WindowProc, PressInTheCloseCornerEndsWithoutARedraw) {
    const int shown[4] = {1, 1, 1, 1};
    memcpy(gState.shownButtonState, shown, sizeof shown);
    setButtons(3, 0, 0, 0);
    pointAt(600, 60);
    EXPECT_EQ(send(WM_LBUTTONDOWN), 0);
    EXPECT_EQ(gState.quitRequested, 1);
    EXPECT_EQ(gState.shownButtonState[1], 1);  // renderFrame would have taken a snapshot
}

TEST_F(WindowProc, PointerFollowsEnabledButtonsAndLeavesADisabledStartAlone) {
    struct Case {
        int startState, x, y;
        int expected[4];
    };
    const Case cases[] = {
        {0, 70, 400, {1, 0, 0, 0}},   // hover start
        {3, 70, 400, {3, 0, 0, 0}},   // disabled start: no hover
        {3, 380, 380, {3, 1, 0, 0}},  // hover Cancel, start untouched
        {1, 10, 10, {0, 0, 0, 0}},    // away from every button
    };
    for (const Case& c : cases) {
        setButtons(c.startState, 0, 0, 0);
        pointAt(c.x, c.y);
        EXPECT_EQ(send(WM_TIMER), 0);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(gState.buttonState[i], c.expected[i]) << c.x << "," << c.y << " #" << i;
    }
}

TEST_F(WindowProc, ReleaseRunsOnlyEnabledButtonsUnderThePointer) {
    DialogWatcher watcher;  // a launch attempt would open a message box: it must not happen
    setButtons(3, 0, 0, 0);
    pointAt(70, 400);
    EXPECT_EQ(send(WM_LBUTTONUP), 0);
    EXPECT_EQ(gState.quitRequested, 0);
    pointAt(335, 380);  // on Cancel's left border: outside
    send(WM_LBUTTONUP);
    EXPECT_EQ(gState.quitRequested, 0);
    pointAt(380, 380);
    send(WM_LBUTTONUP);
    EXPECT_EQ(gState.quitRequested, 1);
    // A launch shows its box inside the sent message, which returns only once the watcher answered it.
    EXPECT_TRUE(watcher.seen().empty());
}

}  // namespace
