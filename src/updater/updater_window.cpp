// The window's controls and messages; every step's text comes from the worker through posted messages,
// so the worker never touches a control.
#include "updater/updater_window.h"

#include <commctrl.h>

#include <atomic>

#include "updater/updater_run.h"
#include "updater/updater_texts.h"

namespace {

const char kWindowClass[] = "NorvaneUpdaterWindow";
const UINT kStatusMessage = WM_APP + 1;    // lParam: a constant text
const UINT kProgressMessage = WM_APP + 2;  // wParam: percent
const UINT kFinishedMessage = WM_APP + 3;  // the worker has ended; the outcome is complete
const int kCancelId = 1;
const int kClientWidth = 380;
const int kClientHeight = 112;
const int kMargin = 12;
const int kButtonWidth = 88;
const int kButtonHeight = 26;
const int kProgressHeight = 18;
const int kStatusHeight = 20;

struct UpdaterWindow {
    HWND window;
    HWND status;
    HWND progress;
    HWND cancel;
    const UpdaterCommand* command;
    UpdaterOutcome outcome;
    std::atomic<bool> cancelled;
    int lastPercent;
};

UpdaterWindow gUpdater;

void postStatus(const char* text) {
    PostMessageA(gUpdater.window, kStatusMessage, 0, reinterpret_cast<LPARAM>(text));
}

void postProgress(int percent) {
    if (percent == gUpdater.lastPercent) return;  // one message per step, not per chunk
    gUpdater.lastPercent = percent;
    PostMessageA(gUpdater.window, kProgressMessage, static_cast<WPARAM>(percent), 0);
}

bool isCancelled() {
    return gUpdater.cancelled.load();
}

bool askToCloseLauncher() {
    return MessageBoxA(gUpdater.window, updater_text::kCloseLauncher, updater_text::kWindowTitle,
                       MB_RETRYCANCEL | MB_ICONWARNING) == IDRETRY;
}

DWORD WINAPI updateThread(void*) {
    UpdaterUi ui{postStatus, FetchHooks{postProgress, isCancelled}, askToCloseLauncher};
    runUpdate(*gUpdater.command, ui, &gUpdater.outcome);
    PostMessageA(gUpdater.window, kFinishedMessage, 0, 0);
    return 0;
}

void requestCancel() {
    gUpdater.cancelled.store(true);
    EnableWindow(gUpdater.cancel, FALSE);
}

void finish() {
    const UpdaterOutcome& outcome = gUpdater.outcome;
    if (outcome.message[0]) {
        MessageBoxA(gUpdater.window, outcome.message, updater_text::kErrorTitle, MB_OK | MB_ICONERROR);
    }
    DestroyWindow(gUpdater.window);
    PostQuitMessage(outcome.exitCode);
}

HWND createChild(HWND parent, const char* className, const char* text, DWORD style, int x, int y, int width,
                 int height, int id) {
    HWND child = CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
    return child;
}

void createControls(HWND window) {
    int width = kClientWidth - 2 * kMargin;
    gUpdater.status = createChild(window, "STATIC", "", SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS, kMargin, kMargin, width,
                                  kStatusHeight, 0);
    gUpdater.progress =
        createChild(window, PROGRESS_CLASSA, "", 0, kMargin, kMargin + kStatusHeight + 6, width, kProgressHeight, 0);
    SendMessageA(gUpdater.progress, PBM_SETRANGE32, 0, 100);
    gUpdater.cancel = createChild(window, "BUTTON", updater_text::kCancel, BS_PUSHBUTTON | WS_TABSTOP,
                                  kClientWidth - kMargin - kButtonWidth, kClientHeight - kMargin - kButtonHeight,
                                  kButtonWidth, kButtonHeight, kCancelId);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            createControls(window);
            return 0;
        case kStatusMessage:
            SetWindowTextA(gUpdater.status, reinterpret_cast<const char*>(lParam));
            SendMessageA(gUpdater.progress, PBM_SETPOS, 0, 0);
            gUpdater.lastPercent = -1;
            return 0;
        case kProgressMessage:
            SendMessageA(gUpdater.progress, PBM_SETPOS, wParam, 0);
            return 0;
        case kFinishedMessage:
            finish();
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == kCancelId) requestCancel();
            return 0;
        case WM_CLOSE:  // closing is cancelling; the window goes when the worker has stopped
            requestCancel();
            return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool createWindow(HINSTANCE instance) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassA(&windowClass)) return false;
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRect(&frame, style, FALSE);
    int width = frame.right - frame.left;
    int height = frame.bottom - frame.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    gUpdater.window = CreateWindowExA(0, kWindowClass, updater_text::kWindowTitle, style, x, y, width, height,
                                      nullptr, nullptr, instance, nullptr);
    return gUpdater.window != nullptr;
}

}  // namespace

int runUpdaterWindow(HINSTANCE instance, const UpdaterCommand& command) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    gUpdater.command = &command;
    gUpdater.lastPercent = -1;
    if (!createWindow(instance)) {
        // No window: run without one, so a hand-off still completes, and report as usual.
        UpdaterUi ui{[](const char*) {}, FetchHooks{nullptr, nullptr}, [] { return false; }};
        runUpdate(command, ui, &gUpdater.outcome);
        if (gUpdater.outcome.message[0]) {
            MessageBoxA(nullptr, gUpdater.outcome.message, updater_text::kErrorTitle, MB_OK | MB_ICONERROR);
        }
        return gUpdater.outcome.exitCode;
    }
    ShowWindow(gUpdater.window, SW_SHOW);
    UpdateWindow(gUpdater.window);
    HANDLE worker = CreateThread(nullptr, 0, updateThread, nullptr, 0, nullptr);
    if (!worker) {
        DestroyWindow(gUpdater.window);
        return kUpdaterFailed;
    }
    CloseHandle(worker);
    MSG message{};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(gUpdater.window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}
