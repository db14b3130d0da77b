// Reads and writes the per-user speed file through the one text module of its content.
#include "settings/user_speed_limit.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>

#include "settings/speed_limit_text.h"

namespace {

enum { kUserPathSize = MAX_PATH + 64, kReadLimit = 256 };

const wchar_t kFolderName[] = L"\\VYRLauncher";
const wchar_t kFileName[] = L"\\download-speed.txt";
const wchar_t kTempSuffix[] = L".tmp";

bool userFolder(wchar_t (&folder)[kUserPathSize]) {
    wchar_t appData[MAX_PATH];
    if (SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData) != S_OK) return false;
    int written = swprintf(folder, kUserPathSize, L"%ls%ls", appData, kFolderName);
    return written > 0 && written < kUserPathSize;
}

bool speedFilePath(wchar_t (&path)[kUserPathSize], const wchar_t* suffix) {
    wchar_t folder[kUserPathSize];
    if (!userFolder(folder)) return false;
    int written = swprintf(path, kUserPathSize, L"%ls%ls%ls", folder, kFileName, suffix);
    return written > 0 && written < kUserPathSize;
}

bool writeWholeFile(const wchar_t* path, const char* text, DWORD size) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool whole = WriteFile(file, text, size, &written, nullptr) && written == size && FlushFileBuffers(file);
    return CloseHandle(file) && whole;
}

}  // namespace

long long readUserSpeedLimit() {
    wchar_t path[kUserPathSize];
    if (!speedFilePath(path, L"")) return 0;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    char text[kReadLimit];
    DWORD count = 0;
    bool read = ReadFile(file, text, sizeof text, &count, nullptr) != 0;
    CloseHandle(file);
    return read ? parseSpeedLimitText(text, count) : 0;
}

bool writeUserSpeedLimit(long long bytesPerSecond) {
    char text[kSpeedLimitTextSize];
    wchar_t folder[kUserPathSize], path[kUserPathSize], temp[kUserPathSize];
    if (!formatSpeedLimitText(bytesPerSecond, text, sizeof text) || !userFolder(folder) ||
        !speedFilePath(path, L"") || !speedFilePath(temp, kTempSuffix))
        return false;
    if (!CreateDirectoryW(folder, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    if (!writeWholeFile(temp, text, static_cast<DWORD>(strlen(text)))) {
        DeleteFileW(temp);
        return false;
    }
    if (MoveFileExW(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DeleteFileW(temp);
    return false;
}
