// The one process-wide record of run-time state, shared by the main thread and the update worker.
// Fields the worker writes while the UI reads them are volatile ints (single aligned stores); the
// status text goes through setStatusText/formatStatusText/takeStatusSnapshot, which hold statusLock.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include "app/version_step.h"
#include "archives/unpack_buffers.h"
#include "formats/manifest_text.h"
#include "ui/skin_slots.h"

enum { kStatusTextSize = 1024, kPathSize = 256, kCommandLineSize = 4096, kTransferBufferSize = 65536 };

// hitRects indices
enum { kHitStart = 0, kHitCancel = 1, kHitHome = 2, kHitCommunity = 3, kHitTotalBar = 4, kHitFileBar = 5 };

struct LauncherState {
    // Status line and buttons. Entry 0 doubles as the launcher status: 3 means not startable.
    volatile int buttonState[kButtonCount];
    char statusText[kStatusTextSize];
    HFONT statusFont;

    // Redraw snapshot, owned by the compositor.
    int shownButtonState[kButtonCount];
    int shownFileProgress;
    int shownTotalProgress;
    char shownStatusText[kStatusTextSize];

    // Progress, versions and the manifest.
    volatile int fileProgress;
    volatile int totalProgress;
    volatile int localGameVersion;
    int serverGameVersion;
    char latestInstallerVersion[kVersionTextSize];
    char latestLauncherVersion[kVersionTextSize];
    VersionStep versionSteps[kMaxVersionSteps];
    int totalFileCount;
    int stepTableCut;  // a pending manifest step could not be read: patch up to it, then report the server
    int launcherFileVersion[4];
    // Other servers of the patch files, from an accepted manifest only (in a signed build the index
    // vouches for it); the compiled-in base URL comes first and alone serves the manifest and the lists.
    char mirrorUrls[kMaxMirrors][kMirrorUrlSize];
    int mirrorCount;

    // Drawing resources and geometry.
    HBITMAP backgroundImage;
    HBITMAP maskImage;
    HBITMAP skinImages[kSkinImageSlots];
    HBITMAP surfaceBitmap;
    unsigned char* surfaceBits;
    unsigned char* alphaMap;
    int windowX, windowY;
    int windowWidth, windowHeight;
    RECT hitRects[kHitRectCount];
    POINT layerPosition;
    SIZE layerSize;
    POINT layerSourceOrigin;
    int osMajorVersion;

    // Window, paths and actions.
    HINSTANCE instance;
    HWND mainWindow;
    char moduleDirectory[kPathSize];
    char commandLine[kCommandLineSize];
    char homePageUrl[kPathSize];
    char socialPageUrl[kPathSize];
    SHELLEXECUTEINFOA gameLaunchInfo;
    unsigned char transferBuffer[kTransferBufferSize];
    UnpackBuffers unpackBuffers;  // the worker's, for extractArchive
    volatile int quitRequested;
    volatile LONG downloadPaused;  // set by the system menu; the worker's transfer stops at its next chunk
    // The player asked for every game file to be hashed ("/repair" or the system menu); the worker
    // clears it when it takes the request. workerRunning: an update or check is under way.
    volatile int fullCheckRequested;
    volatile int workerRunning;

    CRITICAL_SECTION statusLock;
};

extern LauncherState gState;

// Status text hand-over between the worker and the UI thread.
void setStatusText(const char* text);
void formatStatusText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The ready state: status "Ready to start the game. [Version: %d]", both bars full, Start enabled.
void showReadyState();
// After a failure's text is on the status line: Start disabled, and the text goes to the support log.
void markFailureShown();
// Copies statusText into shownStatusText when they differ; answers whether they did.
bool takeStatusSnapshot();
