// The system menu's download items: "Pause download" / "Resume download" and the "Download speed"
// choices. Pausing only raises the flag the worker's transfer watches; a speed choice applies to the
// process at once and is kept for the Windows user.
#pragma once
#include <windows.h>

// Appends the items; the current speed (already read from the user's file) is shown checked.
void appendDownloadMenuItems(HMENU menu);

// Carries out a command of these items; false for any other.
bool runDownloadMenuCommand(HWND window, UINT command);
