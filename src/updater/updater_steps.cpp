// Updater's Win32 operations, each small and reporting the Windows error where it happened.
#include "updater/updater_steps.h"

#include <cstdio>
#include <cstring>

namespace {

const DWORD kWaitSliceMs = 200;
const DWORD kStartWatchMs = 5000;
const DWORD kEndAfterTerminateMs = 5000;
const DWORD kFirstErrorStatus = 0xC0000000;  // NTSTATUS severity "error": the loader's failures

bool runsImage(HANDLE process, const char* expectedImage) {
    char image[kPathSize] = {};
    DWORD size = sizeof image;
    if (!QueryFullProcessImageNameA(process, 0, image, &size)) return true;  // cannot tell: assume it is
    if (lstrcmpiA(image, expectedImage) == 0) return true;
    // One file may go by a short (8.3) and a long path; compare both in their long form.
    char longImage[kPathSize] = {};
    char longExpected[kPathSize] = {};
    DWORD imageLength = GetLongPathNameA(image, longImage, sizeof longImage);
    DWORD expectedLength = GetLongPathNameA(expectedImage, longExpected, sizeof longExpected);
    return imageLength > 0 && imageLength < sizeof longImage && expectedLength > 0 &&
           expectedLength < sizeof longExpected && lstrcmpiA(longImage, longExpected) == 0;
}

}  // namespace

bool findOwnFolder(char (&folder)[kPathSize]) {
    DWORD length = GetModuleFileNameA(nullptr, folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) return false;
    char* slash = strrchr(folder, '\\');
    if (!slash) return false;
    *slash = '\0';
    return true;
}

bool pathInFolder(const char* folder, const char* name, char (&path)[kPathSize]) {
    int written = snprintf(path, sizeof path, "%s\\%s", folder, name);
    return written > 0 && written < static_cast<int>(sizeof path);
}

WaitResult waitForProcessEnd(uint32_t processId, const char* expectedImage, DWORD timeoutMs, bool (*cancelled)()) {
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (!process) return kProcessEnded;
    WaitResult result = runsImage(process, expectedImage) ? kProcessStillRunning : kProcessEnded;
    for (DWORD waited = 0; result == kProcessStillRunning && waited < timeoutMs; waited += kWaitSliceMs) {
        if (WaitForSingleObject(process, kWaitSliceMs) == WAIT_OBJECT_0) result = kProcessEnded;
        else if (cancelled && cancelled()) result = kWaitCancelled;
    }
    CloseHandle(process);
    return result;
}

bool startProgram(const char* path, const char* folder, HANDLE* process, DWORD* error) {
    char commandLine[kPathSize + 3] = {};
    snprintf(commandLine, sizeof commandLine, "\"%s\"", path);
    STARTUPINFOA startupInfo{};
    startupInfo.cb = sizeof startupInfo;
    PROCESS_INFORMATION processInfo{};
    if (!CreateProcessA(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, folder, &startupInfo, &processInfo)) {
        *error = GetLastError();
        return false;
    }
    CloseHandle(processInfo.hThread);
    if (process) *process = processInfo.hProcess;
    else CloseHandle(processInfo.hProcess);
    return true;
}

// A launcher that starts shows its window and waits for messages; one whose image cannot be loaded
// ends before that with an error status (a missing DLL, say), which CreateProcess does not report.
bool startProgramChecked(const char* path, const char* folder, DWORD* error) {
    HANDLE process = nullptr;
    if (!startProgram(path, folder, &process, error)) return false;
    WaitForInputIdle(process, kStartWatchMs);
    DWORD status = STILL_ACTIVE;
    bool started = WaitForSingleObject(process, 0) != WAIT_OBJECT_0 || !GetExitCodeProcess(process, &status) ||
                   status < kFirstErrorStatus;
    if (!started) *error = status;
    CloseHandle(process);
    return started;
}

RunResult runProgramToEnd(const char* path, const char* folder, bool (*cancelled)(), DWORD* exitCode, DWORD* error) {
    HANDLE process = nullptr;
    if (!startProgram(path, folder, &process, error)) return kRunNotStarted;
    RunResult result = kRunEnded;
    while (WaitForSingleObject(process, kWaitSliceMs) == WAIT_TIMEOUT) {
        if (cancelled && cancelled()) {
            TerminateProcess(process, ERROR_CANCELLED);
            WaitForSingleObject(process, kEndAfterTerminateMs);  // let it let go of its file before it is removed
            result = kRunCancelled;
            break;
        }
    }
    if (result == kRunEnded && !GetExitCodeProcess(process, exitCode)) {
        *error = GetLastError();
        result = kRunNotStarted;
    }
    CloseHandle(process);
    return result;
}
