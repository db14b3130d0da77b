// Appends support-log lines to a file shared by the launcher's threads and by Updater. Each line is
// one WriteFile on a handle opened for appending, so a kill can cut at most the line being written.
#include "logging/support_log.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>


namespace {

enum { kProgramNameSize = 32, kRotationWaitMs = 2000 };

const char kFallbackSubfolder[] = "VYRLauncher";
// One name for every writer in the session: the launcher and Updater take turns on the size check,
// the rotation and the append, so two writers never both rotate (the second would replace the
// first's ".1" with a nearly empty file).
const char kWriterMutexName[] = "Local\\VYRLauncherSupportLog";

struct SupportLog {
    bool open;
    char program[kProgramNameSize];
    char folder[kSupportLogPathSize];
    char path[kSupportLogPathSize];
    char rotatedPath[kSupportLogPathSize];
    HANDLE writerMutex;
};

SupportLog supportLog = {};

HANDLE openForAppend(const char* path) {
    // Shared for reading (a player's editor), writing (the other writers) and deleting (a rotation by
    // another process while this handle is open).
    return CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool fits(int length, size_t size) { return length >= 0 && static_cast<size_t>(length) < size; }

// Takes the folder when a log file can be opened there for appending.
bool useFolder(const char* folder) {
    if (folder == nullptr || folder[0] == '\0') return false;
    SupportLog& log = supportLog;
    if (!fits(snprintf(log.folder, sizeof log.folder, "%s", folder), sizeof log.folder) ||
        !fits(snprintf(log.path, sizeof log.path, "%s\\%s", folder, own_file::kSupportLog), sizeof log.path) ||
        !fits(snprintf(log.rotatedPath, sizeof log.rotatedPath, "%s\\%s", folder, own_file::kSupportLogRotated),
              sizeof log.rotatedPath))
        return false;
    HANDLE file = openForAppend(log.path);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

bool programFolder(char (&folder)[kSupportLogPathSize]) {
    DWORD length = GetModuleFileNameA(nullptr, folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) return false;
    char* slash = strrchr(folder, '\\');
    if (slash == nullptr) return false;
    *slash = '\0';
    return true;
}

// The local, not the roaming, application data: a support log belongs to this machine and should not
// travel with a roaming profile.
bool localFallbackFolder(char (&folder)[kSupportLogPathSize]) {
    char appData[MAX_PATH];
    if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, appData) !=
        S_OK)
        return false;
    if (!fits(snprintf(folder, sizeof folder, "%s\\%s", appData, kFallbackSubfolder), sizeof folder)) return false;
    CreateDirectoryA(folder, nullptr);
    return true;
}

void currentLogTime(LogTime* time) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    *time = LogTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

// With the writer mutex held (or not had in time: then the line is appended without rotating, a log
// past its bound being better than a lost line). A rotation another writer made meanwhile is seen
// here, since the file is opened afresh for every line.
void appendLine(const char* line, DWORD length, bool mayRotate) {
    HANDLE file = openForAppend(supportLog.path);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER size{};
    if (mayRotate && GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart + length > kSupportLogLimit) {
        CloseHandle(file);
        // A reader that holds the file without sharing its deletion blocks the move: the file then
        // grows past its bound until the next line finds it free.
        MoveFileExA(supportLog.path, supportLog.rotatedPath, MOVEFILE_REPLACE_EXISTING);
        file = openForAppend(supportLog.path);
        if (file == INVALID_HANDLE_VALUE) return;
    }
    DWORD written = 0;
    WriteFile(file, line, length, &written, nullptr);
    CloseHandle(file);
}

}  // namespace

bool openSupportLogIn(const char* program, const char* gameFolder, const char* fallbackFolder) {
    SupportLog& log = supportLog;
    snprintf(log.program, sizeof log.program, "%s", program);
    log.open = useFolder(gameFolder) || useFolder(fallbackFolder);
    if (log.open && log.writerMutex == nullptr) log.writerMutex = CreateMutexA(nullptr, FALSE, kWriterMutexName);
    return log.open;
}

void openSupportLog(const char* program) {
    char gameFolder[kSupportLogPathSize] = {};
    char fallback[kSupportLogPathSize] = {};
    if (!programFolder(gameFolder)) gameFolder[0] = '\0';
    // The fallback is looked up only when the game folder refuses the file.
    if (gameFolder[0] != '\0' && openSupportLogIn(program, gameFolder, nullptr)) return;
    if (!localFallbackFolder(fallback)) fallback[0] = '\0';
    openSupportLogIn(program, nullptr, fallback);
}

void writeLogEvent(const LogEvent& event) {
    if (!supportLog.open) return;
    LogTime time;
    currentLogTime(&time);
    char line[kLogLineSize];
    size_t length = formatLogLine(time, supportLog.program, GetCurrentProcessId(), event, line, sizeof line);
    DWORD wait = supportLog.writerMutex != nullptr ? WaitForSingleObject(supportLog.writerMutex, kRotationWaitMs)
                                                   : WAIT_FAILED;
    bool owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
    appendLine(line, static_cast<DWORD>(length), owned);
    if (owned) ReleaseMutex(supportLog.writerMutex);
}

void showSupportLogInExplorer() {
    if (!supportLog.open) return;
    char arguments[kSupportLogPathSize + 16];
    if (!fits(snprintf(arguments, sizeof arguments, "/select,\"%s\"", supportLog.path), sizeof arguments)) return;
    ShellExecuteA(nullptr, "open", "explorer.exe", arguments, nullptr, SW_SHOWNORMAL);
}

bool supportLogFolder(char* folder, size_t folderSize) {
    if (!supportLog.open) return false;
    return fits(snprintf(folder, folderSize, "%s", supportLog.folder), folderSize);
}
