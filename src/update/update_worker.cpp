// The game update worker: fetches each pending patch file over HTTPS into the launcher's folder,
// unpacks archives, applies the delete list and records every completed version step.
#include "update/update_worker.h"

#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/launcher_state.h"
#include "settings/config_file.h"
#include "settings/launcher_settings.h"
#include "update/delete_list.h"
#include "update/patch_download.h"
#include "update/patch_progress.h"
#include "update/path_check.h"
#include "update/zip_extract.h"

namespace {

enum { kUrlSize = 256, kQuerySize = 256, kTempNameSize = kPathSize + 16, kUnpackAttempts = 1000,
       kPauseAfterFileMs = 500 };

const char kPlayerSubfolder[] = "/Player/";
const char kTempSuffix[] = ".download";

// One download in flight: the handles opened so far and the temporary file the body goes into.
// The body never goes straight into the target, so a failed download leaves the old file alone.
struct Transfer {
    HINTERNET internet;
    HINTERNET url;
    FILE* file;
    char tempFile[kTempNameSize];
};

void closeTransfer(Transfer* t) {
    if (t->url != nullptr) InternetCloseHandle(t->url);
    if (t->internet != nullptr) InternetCloseHandle(t->internet);
    if (t->file != nullptr) fclose(t->file);
    t->url = t->internet = nullptr;
    t->file = nullptr;
}

int failDownload(const char* pattern, const char* fileName) {
    formatStatusText(pattern, fileName);
    gState.buttonState[0] = 3;
    return 0;
}

int abandonTransfer(Transfer* t, const char* pattern, const char* fileName) {
    closeTransfer(t);
    DeleteFileA(t->tempFile);
    return failDownload(pattern, fileName);
}

bool openTempFile(Transfer* t, const char* destFile) {
    t->file = fopen(t->tempFile, "wb");
    if (t->file == nullptr) {
        makeDirectories(destFile);
        t->file = fopen(t->tempFile, "wb");
    }
    return t->file != nullptr;
}

bool openUrl(Transfer* t, const char* url) {
    t->internet = InternetOpenA("MS", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (t->internet == nullptr)
        t->internet = InternetOpenA("MS", INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY, nullptr, nullptr, 0);
    if (t->internet == nullptr) return false;
    // The certificate is checked in full: a patch file runs as game code, so no IGNORE_CERT flags.
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_SECURE;
    t->url = InternetOpenUrlA(t->internet, url, nullptr, 0, flags, 0);
    return t->url != nullptr;
}

bool queryHeaderText(HINTERNET url, DWORD header, char* text) {
    DWORD length = kQuerySize;
    memset(text, 0, kQuerySize);
    if (!HttpQueryInfoA(url, header, text, &length, nullptr)) return false;
    text[kQuerySize - 2] = text[kQuerySize - 1] = '\0';
    return true;
}

// Reads the body into the temp file. The received count is 64-bit and reading stops as soon as the
// body outgrows the announced size, so a server cannot fill the disk or wrap the counter.
// Per chunk only the write and one progress store happen; the UI thread does the drawing.
bool receiveBody(Transfer* t, long long fileSize, long long* received) {
    *received = 0;
    for (;;) {
        DWORD count = 0;
        if (!InternetReadFile(t->url, gState.transferBuffer, sizeof gState.transferBuffer, &count) || count == 0)
            return true;
        if (fwrite(gState.transferBuffer, 1, count, t->file) != count) return false;
        *received += count;
        gState.fileProgress = filePercent(*received, fileSize, gState.fileProgress);
        if (*received > fileSize) return true;
        Sleep(0);
    }
}

// Puts the completed temp file in place of the target; read-only or hidden targets are cleared first.
bool replaceTarget(const char* tempFile, const char* destFile) {
    SetFileAttributesA(destFile, FILE_ATTRIBUTE_NORMAL);
    return MoveFileExA(tempFile, destFile, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void publishExtractMessage(const char* message) { setStatusText(message); }

// The archive stays in place between attempts; after the first success it is removed and the delete
// list that came with it is applied (the list is applied after every successful unpacking).
int unpackArchive(const char* destFile) {
    char message[kStatusTextSize];
    for (int attempt = 0; attempt < kUnpackAttempts; ++attempt) {
        if (extractArchive(destFile, message, sizeof message, publishExtractMessage) == 1) {
            Sleep(kPauseAfterFileMs);
            DeleteFileA(destFile);
            applyDeleteList();
            return 1;
        }
    }
    MessageBoxA(gState.mainWindow, settingText(SettingText::MsgLauncherFailed),
                settingText(SettingText::MsgErrorCaption), MB_OK);
    gState.quitRequested = 1;
    return 0;
}

int fetchIntoTempFile(Transfer* t, const char* url, const char* fileName) {
    if (!openUrl(t, url)) return abandonTransfer(t, "Downloading failed - open (%s)", fileName);
    char query[kQuerySize];
    if (!queryHeaderText(t->url, HTTP_QUERY_STATUS_CODE, query))
        return abandonTransfer(t, "Downloading failed - query_status (%s)", fileName);
    int status = atoi(query);
    if (status != 200 && status != 206) {
        closeTransfer(t);
        DeleteFileA(t->tempFile);
        formatStatusText("Downloading failed [%d] (%s)", status, fileName);
        gState.buttonState[0] = 3;
        return 0;
    }
    if (!queryHeaderText(t->url, HTTP_QUERY_CONTENT_LENGTH, query))
        return abandonTransfer(t, "Downloading failed - query_size (%s)", fileName);
    // 64-bit and clamped: a length past 2 GiB or below zero is a plain mismatch, never an overflow.
    long long fileSize = strtoll(query, nullptr, 10);
    if (fileSize < 0) fileSize = 0;

    long long received = 0;
    bool written = receiveBody(t, fileSize, &received);
    closeTransfer(t);
    if (!written) return abandonTransfer(t, "Creating file failed. (%s)", fileName);
    if (received != fileSize) return abandonTransfer(t, "Downloading failed - read (%s)", fileName);
    return 1;
}

}  // namespace

int downloadPatchFile(const char* fileName, const char* subfolder) {
    // A name that could land outside the launcher's folder, or that names a folder, is never
    // opened nor requested.
    size_t nameLength = strlen(fileName);
    bool namesFolder = nameLength > 0 && (fileName[nameLength - 1] == '/' || fileName[nameLength - 1] == '\\');
    if (!isSafeRelativePath(fileName) || namesFolder) return failDownload("Creating file failed. (%s)", fileName);
    char url[kUrlSize];
    const char* base = settingText(SettingText::PatchBaseUrl);
    int urlLength = subfolder != nullptr ? snprintf(url, sizeof url, "%s%s%s", base, subfolder, fileName)
                                         : snprintf(url, sizeof url, "%s%s", base, fileName);
    formatStatusText("Downloading file (%s)", fileName);
    if (urlLength < 0 || urlLength >= static_cast<int>(sizeof url))
        return failDownload("Downloading failed - open (%s)", fileName);

    const char* destFile = fileName;
    Transfer transfer = {};
    snprintf(transfer.tempFile, sizeof transfer.tempFile, "%s%s", destFile, kTempSuffix);
    if (!openTempFile(&transfer, destFile)) return failDownload("Creating file failed. (%s)", destFile);
    if (!fetchIntoTempFile(&transfer, url, fileName)) return 0;
    if (!replaceTarget(transfer.tempFile, destFile)) {
        DeleteFileA(transfer.tempFile);
        return failDownload("Creating file failed. (%s)", destFile);
    }
    if (isArchiveName(destFile) && !unpackArchive(destFile)) return 0;

    Sleep(kPauseAfterFileMs);
    SetFileAttributesA(settingText(SettingText::GameExeName), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    return 1;
}

unsigned __stdcall updateWorker(void*) {
    gState.fileProgress = 0;
    gState.totalProgress = 0;
    int done = 0;
    for (int s = 0; s < kMaxVersionSteps && gState.versionSteps[s].version != 0; ++s) {
        const VersionStep& step = gState.versionSteps[s];
        for (int f = 0; f < step.fileCount && f < kMaxStepFiles && gState.totalFileCount != 0; ++f) {
            gState.fileProgress = 0;
            gState.totalProgress = totalPercent(done, gState.totalFileCount);
            if (!downloadPatchFile(step.files[f], kPlayerSubfolder)) return 0;
            ++done;
        }
        gState.localGameVersion = step.version;
        writeConfig();
    }
    writeConfig();
    showReadyState();
    return 1;
}
