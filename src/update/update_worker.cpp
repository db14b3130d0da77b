// The game update worker: fetches each pending patch file over HTTPS into the launcher's folder,
// unpacks archives, applies the delete list and records every completed version step.
#include "update/update_worker.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "app/launcher_state.h"
#include "settings/config_file.h"
#include "settings/launcher_settings.h"
#include "update/delete_list.h"
#include "update/patch_download.h"
#include "update/patch_progress.h"
#include "update/patch_transfer.h"
#include "update/path_check.h"
#include "update/zip_extract.h"

namespace {

enum { kUrlSize = 256, kTempNameSize = kPathSize + 16, kUnpackRetryPauseMs = 250, kUnpackRetryLimitMs = 10000 };

const char kPlayerSubfolder[] = "/Player/";
const char kTempSuffix[] = ".download";
const char kAgent[] = "MS";

// One session for the whole run, so the patch server's connection is kept alive between files.
// Opened on first use; the worker closes it when the run ends.
PatchSession workerSession = {nullptr};

int failDownload(const char* pattern, const char* fileName) {
    formatStatusText(pattern, fileName);
    gState.buttonState[0] = 3;
    return 0;
}

HANDLE createTempFile(const char* tempFile, const char* destFile) {
    HANDLE file = CreateFileA(tempFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        makeDirectories(destFile);
        file = CreateFileA(tempFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    return file;
}

void storeFileProgress(long long received, long long size) {
    gState.fileProgress = filePercent(received, size, gState.fileProgress);
}

// The message pattern of a failed fetch; the status pattern takes the status first.
const char* fetchFailurePattern(FetchFailure failure) {
    switch (failure) {
        case FetchFailure::Open: return "Downloading failed - open (%s)";
        case FetchFailure::QueryStatus: return "Downloading failed - query_status (%s)";
        case FetchFailure::QuerySize: return "Downloading failed - query_size (%s)";
        case FetchFailure::Write: return "Creating file failed. (%s)";
        default: return "Downloading failed - read (%s)";
    }
}

// Fetches url into tempFile. Every write and the close are checked: on a full disk the short last
// chunk may only fail there. On failure the temp file is gone and the status says why.
int fetchIntoTempFile(const char* url, const char* tempFile, const char* destFile, const char* fileName) {
    HANDLE file = createTempFile(tempFile, destFile);
    if (file == INVALID_HANDLE_VALUE) return failDownload("Creating file failed. (%s)", destFile);
    if (workerSession.internet == nullptr && !openPatchSession(&workerSession, kAgent)) {
        CloseHandle(file);
        DeleteFileA(tempFile);
        return failDownload("Downloading failed - open (%s)", fileName);
    }
    FetchResult result =
        fetchIntoFile(&workerSession, url, file, gState.transferBuffer, sizeof gState.transferBuffer, storeFileProgress);
    bool closed = CloseHandle(file) != 0;
    if (result.failure == FetchFailure::None && !closed) result.failure = FetchFailure::Write;
    if (result.failure == FetchFailure::None) return 1;
    DeleteFileA(tempFile);
    if (result.failure == FetchFailure::Status) {
        formatStatusText("Downloading failed [%d] (%s)", result.httpStatus, fileName);
        gState.buttonState[0] = 3;
        return 0;
    }
    return failDownload(fetchFailurePattern(result.failure), fileName);
}

// Puts the completed temp file in place of the target; read-only or hidden targets are cleared first.
bool replaceTarget(const char* tempFile, const char* destFile) {
    SetFileAttributesA(destFile, FILE_ATTRIBUTE_NORMAL);
    return MoveFileExA(tempFile, destFile, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void publishExtractMessage(const char* message) { setStatusText(message); }

// Only a transient failure (an output file that cannot be created or written, as while a virus scan
// holds it) is tried again, after a short pause and within a bounded time; a permanent one (not an
// archive, a checksum error, a refused name) fails the archive at once with its message. The
// archive stays in place between attempts; after success it is removed and its delete list applied.
int unpackArchive(const char* destFile) {
    char message[kStatusTextSize];
    DWORD started = GetTickCount();
    for (;;) {
        int result = extractArchive(destFile, message, sizeof message, publishExtractMessage);
        if (result == kExtractDone) {
            DeleteFileA(destFile);
            applyDeleteList();
            return 1;
        }
        if (result != kExtractRetry) {
            gState.buttonState[0] = 3;
            return 0;
        }
        if (GetTickCount() - started >= kUnpackRetryLimitMs) break;
        Sleep(kUnpackRetryPauseMs);
    }
    MessageBoxA(gState.mainWindow, settingText(SettingText::MsgLauncherFailed),
                settingText(SettingText::MsgErrorCaption), MB_OK);
    gState.quitRequested = 1;
    return 0;
}

// A manifest step that could not be read ended the table: what came before is applied and recorded,
// and the player is told the server's information was unusable instead of being shown ready.
int reportUnreadableSteps() {
    setStatusText(settingText(SettingText::MsgServerUnreachable));
    gState.buttonState[0] = 3;
    return 0;
}

int applySteps() {
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
    if (gState.stepTableCut) return reportUnreadableSteps();
    writeConfig();
    showReadyState();
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
    char tempFile[kTempNameSize];
    snprintf(tempFile, sizeof tempFile, "%s%s", destFile, kTempSuffix);
    if (!fetchIntoTempFile(url, tempFile, destFile, fileName)) return 0;
    if (!replaceTarget(tempFile, destFile)) {
        DeleteFileA(tempFile);
        return failDownload("Creating file failed. (%s)", destFile);
    }
    if (isArchiveName(destFile) && !unpackArchive(destFile)) return 0;

    SetFileAttributesA(settingText(SettingText::GameExeName), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    return 1;
}

unsigned __stdcall updateWorker(void*) {
    gState.fileProgress = 0;
    gState.totalProgress = 0;
    int result = applySteps();
    closePatchSession(&workerSession);
    return static_cast<unsigned>(result);
}
