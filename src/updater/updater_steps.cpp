// Updater's Win32 operations, each small and reporting the Windows error where it happened.
#include "updater/updater_steps.h"

#include <cstdio>
#include <cstring>

namespace {

const DWORD kWaitSliceMs = 200;

bool fileExists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// A backup that cannot be deleted now (a virus scanner holding it, say) goes at the next restart.
void removeBackup(const char* backup) {
    if (!DeleteFileA(backup)) MoveFileExA(backup, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
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

WaitResult waitForProcessEnd(uint32_t processId, DWORD timeoutMs, bool (*cancelled)()) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (!process) return kProcessEnded;
    WaitResult result = kProcessStillRunning;
    for (DWORD waited = 0; waited < timeoutMs; waited += kWaitSliceMs) {
        if (WaitForSingleObject(process, kWaitSliceMs) == WAIT_OBJECT_0) {
            result = kProcessEnded;
            break;
        }
        if (cancelled && cancelled()) {
            result = kWaitCancelled;
            break;
        }
    }
    CloseHandle(process);
    return result;
}

bool replaceKeepingOld(const char* target, const char* replacement, const char* backup, DWORD* error) {
    *error = 0;
    DeleteFileA(backup);  // left by a run that was cut off; the target itself is intact
    if (!fileExists(target)) {
        if (MoveFileExA(replacement, target, MOVEFILE_WRITE_THROUGH)) return true;
        *error = GetLastError();
        return false;
    }
    // One call moves the old file to the backup name and the new one into place.
    if (ReplaceFileA(target, replacement, backup, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        removeBackup(backup);
        return true;
    }
    *error = GetLastError();
    // The old file left its name but the new one did not take it: put the old one back.
    if (!fileExists(target) && fileExists(backup)) MoveFileExA(backup, target, MOVEFILE_WRITE_THROUGH);
    else if (fileExists(backup)) removeBackup(backup);
    return false;
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

bool runProgramToEnd(const char* path, const char* folder, DWORD* exitCode, DWORD* error) {
    HANDLE process = nullptr;
    if (!startProgram(path, folder, &process, error)) return false;
    WaitForSingleObject(process, INFINITE);
    bool known = GetExitCodeProcess(process, exitCode) != 0;
    if (!known) *error = GetLastError();
    CloseHandle(process);
    return known;
}
