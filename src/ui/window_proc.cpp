// The launcher window's procedure: turns the timer and the left mouse button into button states and
// redraws, runs the skin buttons' actions, drags the frameless window and ends the launcher.
#include "ui/window_proc.h"

#include <shellapi.h>

#include "app/launcher_state.h"
#include "app/startup.h"
#include "launch/game_launch.h"
#include "ui/compositor.h"
#include "ui/hit_test.h"
#include "ui/system_menu.h"

namespace {

// SC_MOVE combined with the caption hit code: the system drags the window while the button is held.
const WPARAM kDragFromCaption = 0xF012;

POINT pointerInWindow() {
    POINT cursor{};
    GetCursorPos(&cursor);
    return POINT{cursor.x - gState.windowX, cursor.y - gState.windowY};
}

void readButtonBoxes(HitBox boxes[kButtonCount]) {
    for (int i = 0; i < kButtonCount; ++i) {
        const RECT& rect = gState.hitRects[i];
        boxes[i] = HitBox{rect.left, rect.top, rect.right, rect.bottom};
    }
}

void readButtonStates(int states[kButtonCount]) {
    for (int i = 0; i < kButtonCount; ++i) states[i] = gState.buttonState[i];
}

// Entry 0 is also the worker's: it may turn 3 between our read and our write, so it changes only
// if it still holds the value the scan started from. The other entries are the main thread's alone.
void storeButtonStates(const int observed[kButtonCount], const int planned[kButtonCount]) {
    if (planned[0] != observed[0]) {
        InterlockedCompareExchange(reinterpret_cast<volatile LONG*>(&gState.buttonState[0]), planned[0],
                                   observed[0]);
    }
    for (int i = 1; i < kButtonCount; ++i) {
        if (planned[i] != observed[i]) gState.buttonState[i] = planned[i];
    }
}

// Answers whether an enabled button is under the pointer.
bool updateButtonStates(POINT pointer) {
    int observed[kButtonCount];
    int planned[kButtonCount];
    HitBox boxes[kButtonCount];
    readButtonStates(observed);
    readButtonBoxes(boxes);
    bool held = (GetAsyncKeyState(VK_LBUTTON) & 0x8000) != 0;
    bool overButton = planHoverStates(observed, boxes, pointer.x, pointer.y, held, planned);
    storeButtonStates(observed, planned);
    return overButton;
}

LRESULT pointerTick(UINT message) {
    POINT pointer = pointerInWindow();
    bool overButton = updateButtonStates(pointer);
    bool press = message == WM_LBUTTONDOWN;
    if (press && isInCloseCorner(pointer.x, pointer.y)) {
        gState.quitRequested = 1;
        return 0;
    }
    if (renderFrame()) presentFrame();
    if (gState.quitRequested) PostQuitMessage(0);
    if (press && !overButton) SendMessageA(gState.mainWindow, WM_SYSCOMMAND, kDragFromCaption, 0);
    return 0;
}

void openPage(const char* address) {
    ShellExecuteA(nullptr, nullptr, address, nullptr, nullptr, SW_SHOWMAXIMIZED);
}

void runButtonAction(int button) {
    switch (button) {
    case kHitStart:
        if (launchGame(gState.commandLine)) gState.quitRequested = 1;
        break;
    case kHitCancel:
        gState.quitRequested = 1;
        break;
    case kHitHome:
        openPage(gState.homePageUrl);
        break;
    case kHitCommunity:
        openPage(gState.socialPageUrl);
        break;
    default:
        break;
    }
}

// The action depends only on where the button is released.
LRESULT buttonRelease() {
    if (gState.quitRequested) return 0;
    POINT pointer = pointerInWindow();
    int states[kButtonCount];
    HitBox boxes[kButtonCount];
    readButtonStates(states);
    readButtonBoxes(boxes);
    int button = buttonAtPoint(states, boxes, pointer.x, pointer.y);
    if (button >= 0) runButtonAction(button);
    return 0;
}

LRESULT paintWindow(HWND window) {
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    placeWindows();
    // A window without the layered style loses its pixels when uncovered; give it the last frame back.
    if (renderFrame() || gState.osMajorVersion < 5) presentFrame();
    EndPaint(window, &paint);
    return 0;
}

}  // namespace

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_MOVE:
        gState.windowX = static_cast<short>(LOWORD(lParam));
        gState.windowY = static_cast<short>(HIWORD(lParam));
        placeWindows();
        return 0;
    case WM_PAINT:
        return paintWindow(window);
    case WM_CLOSE:
        gState.quitRequested = 1;
        return 1;
    case WM_DISPLAYCHANGE:
        placeWindows();
        return 0;
    case WM_TIMER:
    case WM_LBUTTONDOWN:
        return pointerTick(message);
    case WM_LBUTTONUP:
        return buttonRelease();
    case WM_SYSCOMMAND:
        if (runSystemMenuCommand(window, wParam)) return 0;
        return DefWindowProcA(window, message, wParam, lParam);
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
