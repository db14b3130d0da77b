// The start-up sequence: prepares the state, builds the skinned window, reads the configuration,
// fetches the manifest, then hands over to Updater, starts the update worker or shows the ready state.
#include "app/startup.h"

#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/launcher_state.h"
#include "launch/game_launch.h"
#include "network/transfer_pace.h"
#include "logging/support_log.h"
#include "res/resource_ids.h"
#include "settings/config_file.h"
#include "settings/launcher_settings.h"
#include "settings/layout.h"
#include "settings/user_speed_limit.h"
#include "ui/compositor.h"
#include "ui/window_proc.h"
#include "update/launcher_swap.h"
#include "update/manifest.h"
#include "update/update_worker.h"
#include "ui/system_menu.h"
#include "update/version_check.h"
#include "repair/repair_switch.h"
#include "verification/patch_verify.h"
#include "formats/version_text.h"
#include "formats/manifest_text.h"
#include "formats/own_file_names.h"

namespace {

const int kSkinResourceIds[kLoadedSkinSlots] = {
    IDB_START_HOVER,  IDB_START_PRESSED,   IDB_START_DISABLED,    IDB_CANCEL_HOVER,      IDB_CANCEL_PRESSED,
    IDB_CANCEL_DISABLED, IDB_HOME_HOVER,   IDB_HOME_PRESSED,      IDB_HOME_DISABLED,     IDB_COMMUNITY_HOVER,
    IDB_COMMUNITY_PRESSED, IDB_COMMUNITY_DISABLED, IDB_FILE_BAR, IDB_TOTAL_BAR,
};

// A launcher that cannot show itself properly says so and ends, instead of drawing garbage.
int failStartup() {
    MessageBoxA(nullptr, settingText(SettingText::MsgLauncherFailed), settingText(SettingText::MsgErrorCaption),
                MB_OK);
    return 1;
}

HBITMAP loadSkinBitmap(int id, int width, int height) {
    return static_cast<HBITMAP>(
        LoadImageA(gState.instance, MAKEINTRESOURCEA(id), IMAGE_BITMAP, width, height, LR_DEFAULTCOLOR));
}

bool loadSkinImages() {
    gState.backgroundImage = loadSkinBitmap(IDB_BACKGROUND, 0, 0);
    gState.maskImage = loadSkinBitmap(IDB_MASK, 0, 0);
    for (int slot = 0; slot < kLoadedSkinSlots; ++slot) {
        bool startButton = slot < kStatesPerButton;  // stretched at load time
        gState.skinImages[slot] = loadSkinBitmap(kSkinResourceIds[slot], startButton ? kStartButtonWidth : 0,
                                                 startButton ? kStartButtonHeight : 0);
        if (!gState.skinImages[slot]) return false;
    }
    return gState.backgroundImage && gState.maskImage;
}

void releaseSkinImages() {
    free(gState.alphaMap);
    gState.alphaMap = nullptr;
    for (HBITMAP& image : gState.skinImages) {
        if (image) DeleteObject(image);
        image = nullptr;
    }
}

SIZE bitmapSize(HBITMAP image) {
    BITMAP info{};
    GetObjectA(image, sizeof info, &info);
    return SIZE{info.bmWidth, info.bmHeight};
}

void completeHitRects() {
    for (int i = 0; i < kHitRectCount; ++i) {
        // A button's rectangle takes the size of its hover picture.
        int slot = i < kButtonCount ? buttonImageSlot(i, 1) : (i == kHitTotalBar ? kTotalBarSlot : kFileBarSlot);
        SIZE size = bitmapSize(gState.skinImages[slot]);
        gState.hitRects[i].right = gState.hitRects[i].left + size.cx;
        gState.hitRects[i].bottom = gState.hitRects[i].top + size.cy;
    }
}

int queryOsMajorVersion() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&info);
#pragma GCC diagnostic pop
    return static_cast<int>(info.dwMajorVersion);
}

// moduleDirectory = the executable's folder; false when its path does not fit the field.
bool findModuleDirectory() {
    char path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return false;
    for (int i = static_cast<int>(length) - 1; i > 1; --i) {
        if (path[i] == '\\') {
            path[i] = '\0';
            break;
        }
    }
    int written = snprintf(gState.moduleDirectory, sizeof gState.moduleDirectory, "%s", path);
    return written >= 0 && written < static_cast<int>(sizeof gState.moduleDirectory);
}

bool createMainWindow() {
    bool layered = gState.osMajorVersion >= 5;
    // WS_SYSMENU only gives the borderless window a system menu for the launcher's own items.
    DWORD style = layered ? (WS_POPUP | WS_SYSMENU) : (WS_POPUP | WS_SYSMENU | WS_VISIBLE);
    gState.mainWindow = CreateWindowExA(layered ? WS_EX_LAYERED : 0, "MainClass", "", style, CW_USEDEFAULT,
                                        CW_USEDEFAULT, 0, 0, nullptr, nullptr, gState.instance, nullptr);
    if (!gState.mainWindow) return false;
    buildSystemMenu(gState.mainWindow);
    SetWindowTextA(gState.mainWindow, gSettings.windowTitle);
    HANDLE icon = LoadImageA(gState.instance, MAKEINTRESOURCEA(IDI_LAUNCHER), IMAGE_ICON, 64, 64, LR_DEFAULTCOLOR);
    SendMessageA(gState.mainWindow, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    SendMessageA(gState.mainWindow, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    return true;
}

ATOM registerMainClass() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = gState.instance;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    windowClass.lpszClassName = "MainClass";
    return RegisterClassA(&windowClass);
}

void centreWindow() {
    gState.windowX = (GetSystemMetrics(SM_CXFULLSCREEN) - gState.windowWidth) / 2;
    gState.windowY =
        (GetSystemMetrics(SM_CYFULLSCREEN) + GetSystemMetrics(SM_CYCAPTION) - gState.windowHeight) / 2;
}

bool updateDatExists() {
    FILE* file = fopen(own_file::kManifestCopy, "rb");
    if (!file) return false;
    fclose(file);
    return true;
}

// Starts Updater with the hand-off's command line and ends the run (exit code 0 either way).
// The program is named by its full path in the launcher's folder: an elevated launcher must never
// run whatever "Updater" a search of the system folders and PATH would find.
int handOffToUpdater(HandOff kind, int processId, const char* version) {
    char commandLineBuffer[256] = {};
    bool fits = formatUpdaterCommandLine(commandLineBuffer, sizeof commandLineBuffer, kind, processId, version,
                                         settingText(SettingText::PatchBaseUrl));
    char updaterPath[kPathSize + 16] = {};
    int pathLength = snprintf(updaterPath, sizeof updaterPath, "%s\\%s", gState.moduleDirectory, own_file::kUpdaterExe);
    fits = fits && pathLength > 0 && pathLength < static_cast<int>(sizeof updaterPath);
    DWORD error = 0;
    STARTUPINFOA startupInfo{};
    startupInfo.cb = sizeof startupInfo;
    PROCESS_INFORMATION processInfo{};
    if (!fits) {
        error = ERROR_BUFFER_OVERFLOW;
    } else if (!CreateProcessA(updaterPath, commandLineBuffer, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                               nullptr, &startupInfo, &processInfo)) {
        error = GetLastError();
    }
    LogEvent event = logEvent(kLogStep);
    event.name = own_file::kUpdaterExe;
    event.error = error;
    char message[256] = {};
    const char* what = kind == HandOff::Installer ? "installer" : "launcher";
    snprintf(message, sizeof message, "hand-off to Updater for %s %s", what, version);
    event.message = message;
    writeLogEvent(event);
    if (error) {
        snprintf(message, sizeof message, "Error code: %d", static_cast<int>(error));
        MessageBoxA(nullptr, message, "Error", MB_OK);
    }
    if (processInfo.hProcess) CloseHandle(processInfo.hProcess);
    if (processInfo.hThread) CloseHandle(processInfo.hThread);
    releaseSkinImages();
    return 0;
}

void logLauncherStart() {
    char message[96];
    const int* v = gState.launcherFileVersion;
    snprintf(message, sizeof message, "launcher %d.%d.%d.%d started, game version %d", v[0], v[1], v[2], v[3],
             gState.localGameVersion);
    LogEvent event = logEvent(kLogStep);
    event.message = message;
    writeLogEvent(event);
}

void startUpdateWorker() {
    unsigned threadId = 0;
    gState.workerRunning = 1;
    HANDLE worker = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, updateWorker, nullptr, 0, &threadId));
    if (worker == nullptr) {
        gState.workerRunning = 0;
        setStatusText(settingText(SettingText::MsgLauncherFailed));
        markFailureShown();
        return;
    }
    CloseHandle(worker);
}

// With no manifest, or one whose step table names no version, the server's version is unknown (0): a
// differing major part then means only that the server could not tell, so the player gets the server
// message rather than a request to reinstall the game. A build with a key always runs the worker: the
// check of the game files comes after the steps, or in their place.
void decideGameVersion(bool manifestFetched) {
    if (gameMajorVersion(gState.serverGameVersion) != gameMajorVersion(gState.localGameVersion)) {
        bool namesAnotherMajor = manifestFetched && gState.serverGameVersion != 0;
        setStatusText(settingText(namesAnotherMajor ? SettingText::MsgReinstall : SettingText::MsgServerUnreachable));
        markFailureShown();
    } else if (gState.serverGameVersion == gState.localGameVersion && !gState.stepTableCut &&
               !patchIndexRequired()) {
        showReadyState();
    } else {
        startUpdateWorker();
    }
}

// "C:" alone names the drive's current directory, which for an elevated start is System32; a
// launcher at a drive root works in the root itself.
void enterModuleDirectory() {
    const char* dir = gState.moduleDirectory;
    if (dir[0] != '\0' && dir[1] == ':' && dir[2] == '\0') {
        char root[4] = {dir[0], ':', '\\', '\0'};
        SetCurrentDirectoryA(root);
    } else {
        SetCurrentDirectoryA(dir);
    }
}

}  // namespace

void placeWindows() {
    SetWindowPos(gState.mainWindow, HWND_TOP, gState.windowX, gState.windowY, 0, 0, SWP_NOSIZE);
    RECT rect{};
    GetWindowRect(gState.mainWindow, &rect);
    gState.layerPosition = POINT{rect.left, rect.top};
    gState.layerSize = SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

int runLauncher(HINSTANCE instance, const char* commandLineText) {
    memset(gState.transferBuffer, 0, sizeof gState.transferBuffer);
    // Longer command lines are cut at 4095 characters.
    snprintf(gState.commandLine, sizeof gState.commandLine, "%s", commandLineText ? commandLineText : "");
    // The launcher's own switch: the game never sees it.
    gState.fullCheckRequested = takeRepairSwitch(gState.commandLine);

    gState.osMajorVersion = queryOsMajorVersion();
    memset(&gState.gameLaunchInfo, 0, sizeof gState.gameLaunchInfo);
    gState.gameLaunchInfo.cbSize = sizeof gState.gameLaunchInfo;
    gState.gameLaunchInfo.lpVerb = gState.osMajorVersion == 6 ? "runas" : nullptr;

    if (!readOwnFileVersion(gState.launcherFileVersion)) return failStartup();
    if (!findModuleDirectory()) return failStartup();
    enterModuleDirectory();

    gState.instance = instance;
    if (!registerMainClass()) return registerMainClass();

    HWND existing = FindWindowA(nullptr, gSettings.windowTitle);
    if (existing) {
        SetForegroundWindow(existing);
        SetFocus(existing);
        return 1;
    }
    removeLauncherSwapLeftovers(gState.moduleDirectory);
    openSupportLog("VYRLauncher");
    // Before the menu is built (it shows the choice) and before the first transfer, the manifest's.
    setTransferSpeedLimit(readUserSpeedLimit());

    if (!createMainWindow()) return failStartup();
    if (!loadSkinImages()) {
        releaseSkinImages();
        return failStartup();
    }
    applyLayout();

    if (!readConfig()) {
        gState.localGameVersion = 1;
        writeConfig();
    }

    gState.statusFont = CreateFontA(gSettings.statusFontHeight, 0, 0, 0, 600, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                    OUT_DEVICE_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                    DEFAULT_PITCH | FF_DONTCARE, gSettings.statusFontFace);
    completeHitRects();
    SIZE backgroundSize = bitmapSize(gState.backgroundImage);
    gState.windowWidth = backgroundSize.cx;
    gState.windowHeight = backgroundSize.cy;
    centreWindow();

    gState.surfaceBitmap = createSurface(gState.windowWidth, gState.windowHeight, &gState.surfaceBits);
    gState.alphaMap = static_cast<unsigned char*>(
        malloc(static_cast<size_t>(gState.windowWidth) * static_cast<size_t>(gState.windowHeight)));
    if (!gState.surfaceBitmap || !gState.surfaceBits || !gState.alphaMap) {
        releaseSkinImages();
        return failStartup();
    }

    ShowWindow(gState.mainWindow, SW_SHOW);
    buildAlphaMap();
    SetWindowPos(gState.mainWindow, HWND_TOP, gState.windowX, gState.windowY, gState.windowWidth,
                 gState.windowHeight, 0);
    placeWindows();
    if (renderFrame()) presentFrame();

    setStatusText(settingText(SettingText::MsgCheckingVersion));
    if (!updateDatExists()) writeConfig();
    logLauncherStart();

    bool manifestFetched = fetchManifest() != 0;
    if (!manifestFetched) {
        setStatusText(settingText(SettingText::MsgServerUnreachable));
        markFailureShown();
    }
    if (isInstallerOutdated()) return handOffToUpdater(HandOff::Installer, 0, gState.latestInstallerVersion);
    if (isLauncherOutdated())
        return handOffToUpdater(HandOff::Launcher, static_cast<int>(GetCurrentProcessId()),
                                gState.latestLauncherVersion);
    decideGameVersion(manifestFetched);

    SetTimer(gState.mainWindow, 1, 50, nullptr);
    placeWindows();

    MSG message{};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    releaseSkinImages();
    return static_cast<int>(message.wParam);
}
