// Updater's small window: the title, a status line, a progress bar and Cancel. The update runs on a
// worker thread; this thread only draws and relays Cancel.
#pragma once
#include <windows.h>

#include "formats/version_text.h"

// Shows the window, runs the update for command and answers the exit code (UpdaterExitCode).
int runUpdaterWindow(HINSTANCE instance, const UpdaterCommand& command);
