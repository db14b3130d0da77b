// The launcher's items in the window's system menu (Alt+Space, the taskbar button's menu): the
// player's way to ask for what the skinned window has no button for.
#pragma once
#include <windows.h>

// Command identifiers: below 0xF000, which the system keeps for its own commands, and multiples of 16,
// since the system uses the low four bits of WM_SYSCOMMAND's wParam.
enum SystemMenuCommand : UINT {
    kVerifyGameFilesCommand = 0x1010,
    kPauseDownloadCommand = 0x1020,
    kDownloadSpeedFirstCommand = 0x1100,  // one per speed choice, 16 apart
    kOpenLogFolderCommand = 0x1200,
};

// Appends the launcher's items to the window's system menu, once, after the window is created.
void buildSystemMenu(HWND window);

// Carries out a WM_SYSCOMMAND of the launcher's own; false for any other command, which the caller
// hands to DefWindowProc.
bool runSystemMenuCommand(HWND window, WPARAM command);
