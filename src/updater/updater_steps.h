// The Win32 operations Updater is made of: its folder, waiting for the launcher to end, swapping a
// file while the old one is kept, and starting programs.
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
// cannot be opened (it has ended, the id is gone) counts as ended.
WaitResult waitForProcessEnd(uint32_t processId, DWORD timeoutMs, bool (*cancelled)());

// Puts replacement in target's place. The old target is kept as backup until the new one is in place,
// put back when the swap fails, and removed after it succeeds. *error gets the first failure's code.
bool replaceKeepingOld(const char* target, const char* replacement, const char* backup, DWORD* error);

// Starts the program by its full path in its folder; the process handle is closed unless wanted.
bool startProgram(const char* path, const char* folder, HANDLE* process, DWORD* error);
// Starts the program and waits for its end; *exitCode gets its exit code.
bool runProgramToEnd(const char* path, const char* folder, DWORD* exitCode, DWORD* error);
