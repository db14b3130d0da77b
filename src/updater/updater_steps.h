// The Win32 operations Updater is made of: its folder, waiting for the launcher to end, and starting
// programs and watching them.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

enum { kPathSize = MAX_PATH };

// Updater's own folder, without a trailing backslash.
bool findOwnFolder(char (&folder)[kPathSize]);
// folder "\" name; false when it does not fit.
bool pathInFolder(const char* folder, const char* name, char (&path)[kPathSize]);

enum WaitResult { kProcessEnded, kProcessStillRunning, kWaitCancelled };

// Waits up to timeoutMs for the process to end, checking cancelled between short waits. A process that
// cannot be opened (it has ended, the id is gone) counts as ended, and so does one whose image is not
// expectedImage: ids are reused, and another program that got the launcher's id is not the launcher.
WaitResult waitForProcessEnd(uint32_t processId, const char* expectedImage, DWORD timeoutMs, bool (*cancelled)());

// Starts the program by its full path in its folder; the process handle is closed unless wanted.
bool startProgram(const char* path, const char* folder, HANDLE* process, DWORD* error);

// Starts the program and watches it for a few seconds: false, with the loader's status in *error, when
// it ends at once with the status of an image that could not be loaded.
bool startProgramChecked(const char* path, const char* folder, DWORD* error);

enum RunResult { kRunEnded, kRunNotStarted, kRunCancelled };

// Starts the program and waits for its end, without a limit but checking cancelled between short
// waits; a cancelled run ends the program, so nothing is left running behind the player's back.
RunResult runProgramToEnd(const char* path, const char* folder, bool (*cancelled)(), DWORD* exitCode, DWORD* error);
