// The launcher's file swap: the new bytes and a copy of the old ones are on disk before one rename puts
// the new launcher in place, so a kill or power cut at any moment leaves a launcher that starts.
#include "update/launcher_swap.h"

#include <cstdio>
#include <vector>

#include "formats/pe_version.h"
#include "updater/updater_texts.h"

namespace {

const DWORD kReplaceInOneStep = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
const char* const kLauncherDeltaLeftovers[] = {updater_file::kLauncherDelta, updater_file::kLauncherDeltaDownload,
                                               updater_file::kLauncherDeltaValidator};

bool fileExists(const char* path) {
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool readWholeFile(const char* path, std::vector<uint8_t>* bytes) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool read = GetFileSizeEx(file, &size) && size.QuadPart < 0x7fffffff;
    if (read) {
        bytes->resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        read = size.QuadPart == 0 || (ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &got, nullptr) &&
                                      got == bytes->size());
    }
    CloseHandle(file);
    return read;
}

// The rename that follows is journaled; the data it points at must be on the disk before it.
bool flushFile(const char* path, DWORD* error) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return false;
    }
    bool flushed = FlushFileBuffers(file) != 0;
    if (!flushed) *error = GetLastError();
    CloseHandle(file);
    return flushed;
}

bool copyFlushed(const char* from, const char* to, DWORD* error) {
    if (!CopyFileA(from, to, FALSE)) {
        *error = GetLastError();
        return false;
    }
    return flushFile(to, error);
}

bool joinPath(const char* folder, const char* name, char (&path)[MAX_PATH]) {
    int written = snprintf(path, sizeof path, "%s\\%s", folder, name);
    return written > 0 && written < static_cast<int>(sizeof path);
}

}  // namespace

bool isWholeImageFile(const char* path) {
    std::vector<uint8_t> bytes;
    return readWholeFile(path, &bytes) && isWholePeImage(bytes.data(), bytes.size());
}

bool swapInLauncher(const char* target, const char* replacement, const char* backup, DWORD* error) {
    *error = 0;
    if (!flushFile(replacement, error)) return false;
    if (fileExists(target) && !copyFlushed(target, backup, error)) {
        DeleteFileA(backup);
        return false;
    }
    if (MoveFileExA(replacement, target, kReplaceInOneStep)) return true;
    *error = GetLastError();
    removeLauncherBackup(backup);
    return false;
}

bool putBackOldLauncher(const char* target, const char* backup, DWORD* error) {
    if (MoveFileExA(backup, target, kReplaceInOneStep)) return true;
    *error = GetLastError();
    return false;
}

HANDLE holdAgainstDeletion(const char* path) {
    return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void removeLauncherBackup(const char* backup) {
    if (!DeleteFileA(backup) && fileExists(backup)) MoveFileExA(backup, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// A backup is only ever made beside a whole launcher, and the swap replaces one whole file by another;
// a target that is missing or not whole comes from a swap of an earlier Updater, cut between its two
// renames, and the backup is then the launcher that last worked.
void recoverLauncherSwap(const char* target, const char* backup, const char* download) {
    DeleteFileA(download);
    if (!fileExists(backup)) return;
    if (isWholeImageFile(target)) {
        removeLauncherBackup(backup);
    } else if (isWholeImageFile(backup)) {
        DWORD unused = 0;
        putBackOldLauncher(target, backup, &unused);
    }
}

void removeLauncherSwapLeftovers(const char* folder) {
    char path[MAX_PATH];
    // A backup that cannot be deleted now is held by the Updater that is watching this start; it removes
    // the backup, or puts it back, itself.
    if (joinPath(folder, updater_file::kLauncherBackup, path)) DeleteFileA(path);
    if (joinPath(folder, updater_file::kLauncherDownload, path) && fileExists(path)) DeleteFileA(path);
    // Updater deletes its launcher payload once applied; a kill before that leaves it, and the payload's
    // resume files should a transfer ever keep them.
    for (const char* name : kLauncherDeltaLeftovers) {
        if (joinPath(folder, name, path) && fileExists(path)) DeleteFileA(path);
    }
}
