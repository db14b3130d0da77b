// The game update worker: fetches each pending patch file over HTTPS into the launcher's folder,
// unpacks archives, applies the delete list and records every completed version step.
#include "update/update_worker.h"

#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "app/launcher_state.h"
#include "settings/config_file.h"
#include "settings/launcher_settings.h"
#include "repair/game_check.h"
#include "update/delete_list.h"
#include "update/delta_step.h"
#include "update/manifest.h"
#include "update/patch_download.h"
#include "update/patch_progress.h"
#include "update/step_durability.h"
#include "network/patch_transfer.h"
#include "verification/patch_verify.h"
#include "formats/path_check.h"
#include "archives/zip_extract.h"
#include "formats/own_file_names.h"
#include "archives/zip_file_io.h"
#include "logging/transfer_log.h"

namespace {

enum { kUrlSize = 256, kTempNameSize = kPathSize + 32, kWidePathSize = 1024, kUnpackRetryPauseMs = 250,
       kUnpackRetryLimitMs = 10000, kDownloadTries = 5, kFirstBackoffMs = 1000, kRetryWindowMs = 40000 };

const char kPlayerSubfolder[] = "/Player/";
const char* const kTempSuffix = own_file::kDownloadSuffix;
const char* const kValidatorSuffix = own_file::kValidatorSuffix;
const char kAgent[] = "MS";

// One session for the whole run, so the patch server's connection is kept alive between files.
// Opened on first use; the worker closes it when the run ends.
PatchSession workerSession = {nullptr};

int failDownload(const char* pattern, const char* fileName) {
    formatStatusText(pattern, fileName);
    markFailureShown();
    return 0;
}

// When the current download last received bytes: the retry window counts from there.
DWORD lastByteTick = 0;
// Body chunks received in the run: whether a try got any byte from its server.
unsigned long chunksReceived = 0;

void storeFileProgress(long long received, long long size) {
    gState.fileProgress = filePercent(received, size, gState.fileProgress);
    lastByteTick = GetTickCount();
    ++chunksReceived;
}

// The files of one download: the target, the partial body beside it and the server's validator of
// that body, which a resumed request must name so it never splices two different server files.
struct DownloadFiles {
    const char* fileName;    // as the status line names it
    const char* targetFile;  // below the launcher's folder: the manifest's name, or a delta payload's
    bool utf8Names;          // local names in UTF-8 (delta list targets) rather than the ANSI code page
    char serverPath[kUrlSize];  // below a source's base URL, from its '/' on
    char url[kUrlSize];         // on the source being tried
    char tempFile[kTempNameSize];
    char validatorFile[kTempNameSize];
    const PatchIndexFile* expected;  // the index line to match; nullptr when the build verifies nothing
    const char* logTopic;            // what the support log calls this download
};

// Manifest names are in the ANSI code page, as they have always been; delta list targets are UTF-8.
bool widenLocalName(const DownloadFiles& d, const char* name, WCHAR (&wide)[kWidePathSize]) {
    UINT codePage = d.utf8Names ? CP_UTF8 : CP_ACP;
    DWORD flags = d.utf8Names ? MB_ERR_INVALID_CHARS : 0;
    return MultiByteToWideChar(codePage, flags, name, -1, wide, kWidePathSize) > 0;
}

// true when no file of that name is left.
bool deleteLocalFile(const DownloadFiles& d, const char* name) {
    WCHAR wide[kWidePathSize];
    if (!widenLocalName(d, name, wide)) return true;
    return DeleteFileW(wide) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

FILE* openLocalFile(const DownloadFiles& d, const char* name, const WCHAR* mode) {
    WCHAR wide[kWidePathSize];
    return widenLocalName(d, name, wide) ? _wfopen(wide, mode) : nullptr;
}

void discardPartial(const DownloadFiles& d) {
    deleteLocalFile(d, d.tempFile);
    deleteLocalFile(d, d.validatorFile);
}

bool readValidatorFile(const DownloadFiles& d, char (&validator)[kValidatorSize]) {
    validator[0] = '\0';
    FILE* file = openLocalFile(d, d.validatorFile, L"rb");
    if (file == nullptr) return false;
    size_t count = fread(validator, 1, sizeof validator - 1, file);
    fclose(file);
    validator[count] = '\0';
    return count > 0;
}

// false when the file may still hold another validator than `validator`.
bool writeValidatorFile(const DownloadFiles& d, const char* validator) {
    FILE* file = openLocalFile(d, d.validatorFile, L"wb");
    if (file == nullptr) return deleteLocalFile(d, d.validatorFile);
    bool whole = fwrite(validator, 1, strlen(validator), file) == strlen(validator);
    if (fclose(file) == 0 && whole) return true;
    deleteLocalFile(d, d.validatorFile);
    return false;
}

long long fileSizeOf(HANDLE file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(file, &size) ? size.QuadPart : -1;
}

// Feeds the bytes a partial file already holds to the hash, so the final digest covers all of it.
bool hashExistingBytes(HANDLE file, Sha256Stream* hash) {
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(file, gState.transferBuffer, sizeof gState.transferBuffer, &count, nullptr)) return false;
        if (count == 0) return true;
        if (!addSha256(hash, gState.transferBuffer, count)) return false;
    }
}

HANDLE openTempFile(const DownloadFiles& d) {
    WCHAR wide[kWidePathSize];
    if (!widenLocalName(d, d.tempFile, wide)) return INVALID_HANDLE_VALUE;
    HANDLE file = CreateFileW(wide, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (d.utf8Names)
            makeUtf8Directories(d.targetFile);
        else
            makeDirectories(d.targetFile);
        file = CreateFileW(wide, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    }
    return file;
}

// How far the partial file may be trusted: with an index the final hash decides, without one only a
// validator kept from the first part lets the server tell whether its file is still the same.
long long resumablePartSize(const DownloadFiles& d, HANDLE file, char (&validator)[kValidatorSize]) {
    bool haveValidator = readValidatorFile(d, validator);
    long long have = fileSizeOf(file);
    if (have > 0 && (haveValidator || d.expected != nullptr)) return have;
    return 0;
}

// LocalFailure: the file cannot be written here, which no other server changes. Paused: the player
// paused the download; the part is kept.
enum class Attempt { Done, Retry, Failed, LocalFailure, Paused };

// The message pattern of a failed fetch; the status pattern takes the status first.
const char* fetchFailurePattern(FetchFailure failure) {
    switch (failure) {
        case FetchFailure::Open: return "Downloading failed - open (%s)";
        case FetchFailure::QueryStatus: return "Downloading failed - query_status (%s)";
        case FetchFailure::QuerySize: return "Downloading failed - query_size (%s)";
        case FetchFailure::Write: return "Creating file failed. (%s)";
        case FetchFailure::NoSpace: return "Not enough free disk space. (%s)";
        default: return "Downloading failed - read (%s)";
    }
}

Attempt reportFetchFailure(const DownloadFiles& d, const FetchResult& result) {
    if (result.failure == FetchFailure::Status) {
        formatStatusText("Downloading failed [%d] (%s)", result.httpStatus, d.fileName);
        markFailureShown();
    } else {
        failDownload(fetchFailurePattern(result.failure), d.fileName);
    }
    return isTransientFetchFailure(result) ? Attempt::Retry : Attempt::Failed;
}

// The part starts over from the server's first byte: its validator file names the new body from now
// on, so a kill during it never leaves the old file's validator beside the new file's bytes.
bool replaceValidator(void* context, const char* validator) {
    const DownloadFiles* d = static_cast<const DownloadFiles*>(context);
    if (validator[0] != '\0') return writeValidatorFile(*d, validator);
    return deleteLocalFile(*d, d->validatorFile);
}

// After a failed fetch: what was received is kept for the next attempt when the failure may pass and
// the part can be resumed safely; otherwise it goes. The validator file always names the part's bytes
// (replaceValidator), so an answer that never reached the body (a refused connection, a 5xx) leaves
// both as they were: only the server's own word (a 200 to If-Range) makes a part stale.
void keepOrDiscardPartial(const DownloadFiles& d, const FetchResult& result) {
    char validator[kValidatorSize];
    bool resumable = isTransientFetchFailure(result) && result.received > 0 &&
                     (readValidatorFile(d, validator) || d.expected != nullptr);
    if (!resumable) discardPartial(d);
}

bool digestMatches(const PatchIndexFile* expected, Sha256Stream* hash, long long received) {
    uint8_t digest[kSha256Size];
    return finishSha256(hash, digest) && matchesIndexLine(*expected, static_cast<uint64_t>(received), digest);
}

// One request for the file, resumed where a partial file allows it. Every write and the close are
// checked: on a full disk the short last chunk may only fail there. With an index the bytes are hashed
// as they stream and must match its line before the file may replace anything. *reached: how far into
// the file this attempt's bytes went.
Attempt attemptDownload(const DownloadFiles& d, long long* reached) {
    *reached = 0;
    HANDLE file = openTempFile(d);
    if (file == INVALID_HANDLE_VALUE) {
        failDownload("Creating file failed. (%s)", d.fileName);
        return Attempt::LocalFailure;
    }
    char validator[kValidatorSize];
    long long have = resumablePartSize(d, file, validator);
    Sha256Stream hash = {nullptr, nullptr};
    bool hashing = d.expected != nullptr;
    bool ready = (!hashing || beginSha256(&hash)) && (have == 0 || !hashing || hashExistingBytes(file, &hash));
    LARGE_INTEGER offset{};
    offset.QuadPart = have;
    ready = ready && SetFilePointerEx(file, offset, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    if (!ready || (workerSession.internet == nullptr && !openPatchSession(&workerSession, kAgent))) {
        if (hashing) abandonSha256(&hash);
        CloseHandle(file);
        if (!ready) discardPartial(d);
        failDownload("Downloading failed - open (%s)", d.fileName);
        return Attempt::Retry;
    }
    long long expectedSize = hashing ? static_cast<long long>(d.expected->size) : 0;
    FetchRequest request = {d.url, file, have, validator, hashing ? &hash : nullptr, storeFileProgress, expectedSize,
                            replaceValidator, const_cast<DownloadFiles*>(&d), &gState.downloadPaused};
    FetchResult result = fetchIntoFile(&workerSession, request, gState.transferBuffer, sizeof gState.transferBuffer);
    logFetch(d.logTopic, d.url, d.fileName, result);
    // On disk before the rename that puts it in place: a power cut must not leave the target empty
    // or short once a version naming it is recorded.
    if (result.failure == FetchFailure::None && !flushOpenFile(file)) result.failure = FetchFailure::Write;
    if (!CloseHandle(file) && result.failure == FetchFailure::None) result.failure = FetchFailure::Write;
    *reached = result.received;
    if (result.failure == FetchFailure::BadRange) {
        if (hashing) abandonSha256(&hash);
        discardPartial(d);
        // Said now, so a last try that ends here does not leave "Downloading file" on the status line.
        failDownload(fetchFailurePattern(result.failure), d.fileName);
        return Attempt::Retry;
    }
    if (result.failure == FetchFailure::Paused) {
        // The part and its validator stay as they are: the resumed request continues them.
        if (hashing) abandonSha256(&hash);
        return Attempt::Paused;
    }
    if (result.failure != FetchFailure::None) {
        if (hashing) abandonSha256(&hash);
        keepOrDiscardPartial(d, result);
        Attempt outcome = reportFetchFailure(d, result);
        bool local = result.failure == FetchFailure::Write || result.failure == FetchFailure::NoSpace;
        return local ? Attempt::LocalFailure : outcome;
    }
    if (hashing && !digestMatches(d.expected, &hash, result.received)) {
        discardPartial(d);
        failDownload("Downloading failed - verify (%s)", d.fileName);
        // A resumed file may have been spliced from two server files: once more from zero.
        return have > 0 && !result.restarted ? Attempt::Retry : Attempt::Failed;
    }
    return Attempt::Done;
}

// Transient failures are tried again with a growing pause (about 1, 2, 4, 8 s); the status says so.
// Tries are counted from the last try that got further into the file, and time from the last byte it
// received: a large file that drops after minutes of progress is tried again, while no new try starts
// once kRetryWindowMs have passed without a byte, so a server that keeps stalling (each try waits out
// the 30 s receive time-out) fails the download in about a minute, not in three.
int backoffMs(int attempt) {
    int pause = kFirstBackoffMs << attempt;
    return pause - pause / 4 + static_cast<int>(GetTickCount() % static_cast<DWORD>(pause / 2 + 1));
}

const DWORD kPausePollMs = 100;

// Holds the download while the player keeps it paused; the status line says so meanwhile.
void waitWhilePaused(const DownloadFiles& d) {
    setStatusText("Paused");
    while (gState.downloadPaused && !gState.quitRequested) Sleep(kPausePollMs);
    formatStatusText("Downloading file (%s)", d.fileName);
}

// Done, Failed (the server's own answer or the bytes refused it), LocalFailure, or Retry when the tries
// ran out. With another server left, a try that got no byte at all (refused, timed out, a 5xx) ends the
// tries at once: the backoff is for a server that works but dropped the connection. A pause is none of
// these: it is no try, shows no failure, and the time paused does not count against the retry window;
// Paused is answered only when the launcher quits while paused.
Attempt downloadWithRetries(const DownloadFiles& d, bool otherSourceLeft) {
    lastByteTick = GetTickCount();
    DWORD lastProgress = lastByteTick;
    long long furthest = 0;  // a try that gets no further than an earlier one (a part dropped and fetched
                             // again to the same point) is no progress
    int tries = 0;           // since the last try that got further, that one included
    for (;;) {
        if (gState.downloadPaused) {
            waitWhilePaused(d);
            // Quitting while paused ends the download where it stands, part kept for the next start;
            // trying again would only meet the pause once more, one request after another until exit.
            if (gState.quitRequested) return Attempt::Paused;
            lastByteTick = lastProgress = GetTickCount();
        }
        long long reached = 0;
        unsigned long chunksBefore = chunksReceived;
        Attempt outcome = attemptDownload(d, &reached);
        if (outcome == Attempt::Paused) {
            if (reached > furthest) {
                furthest = reached;
                tries = 0;
            }
            continue;
        }
        if (outcome != Attempt::Retry) return outcome;
        if (otherSourceLeft && chunksReceived == chunksBefore) return outcome;
        bool progressed = reached > furthest;
        if (progressed) {
            furthest = reached;
            lastProgress = lastByteTick;  // a try that stalled after its last byte made no progress meanwhile
        }
        tries = progressed ? 1 : tries + 1;
        if (tries >= kDownloadTries || GetTickCount() - lastProgress >= kRetryWindowMs) return Attempt::Retry;
        formatStatusText("Downloading file (%s) - retrying", d.fileName);
        Sleep(static_cast<DWORD>(backoffMs(tries - 1)));
        formatStatusText("Downloading file (%s)", d.fileName);
    }
}

// Where patch files come from: the compiled-in base URL (source 0), then the manifest's mirrors in
// order. A server that could not be reached, or that failed a file another one then served, is passed
// over for the rest of the run; the last one left never is, so every file has a server to try.
enum { kMaxSources = kMaxMirrors + 1 };
bool sourcePassedOver[kMaxSources] = {};

int sourceCount() {
    int mirrors = gState.mirrorCount < 0 ? 0 : gState.mirrorCount > kMaxMirrors ? kMaxMirrors : gState.mirrorCount;
    return 1 + mirrors;
}

// A mirror URL ends in '/', the base URL does not; the server path starts with '/'.
bool formatSourceUrl(int source, const char* serverPath, char (&url)[kUrlSize]) {
    int length = source == 0
                     ? snprintf(url, sizeof url, "%s%s", settingText(SettingText::PatchBaseUrl), serverPath)
                     : snprintf(url, sizeof url, "%.*s%s", static_cast<int>(strlen(gState.mirrorUrls[source - 1])) - 1,
                                gState.mirrorUrls[source - 1], serverPath);
    return length >= 0 && length < static_cast<int>(sizeof url);
}

bool laterSourceLeft(int source) {
    for (int s = source + 1; s < sourceCount(); ++s)
        if (!sourcePassedOver[s]) return true;
    return false;
}

// The one place a server is given up on for the run; the log names it with the file it failed.
void passOverMirror(int source, const DownloadFiles& d) {
    sourcePassedOver[source] = true;
    char url[kUrlSize];
    if (!formatSourceUrl(source, d.serverPath, url)) url[0] = '\0';
    LogEvent event = logEvent(kLogMirror);
    event.url = url;
    event.name = d.fileName;
    event.message = "passed over for this run; the next server is tried";
    writeLogEvent(event);
}

// A part received from one server continues on another only where its final SHA-256 is checked (the
// index names the file); it goes without its validator, which names the other server's copy. Without
// an index the part and its validator go: only the server that sent the bytes can vouch for the rest.
void moveToNextSource(const DownloadFiles& d) {
    if (d.expected != nullptr)
        deleteLocalFile(d, d.validatorFile);
    else
        discardPartial(d);
    formatStatusText("Downloading file (%s)", d.fileName);
}

// The file from the first server that serves it whole. A refusal (a 404, bytes that do not match the
// index) may be the file's own, so the servers that refused are passed over only once another served it.
Attempt downloadFromSources(DownloadFiles* d) {
    int refusedBy[kMaxSources];
    int refusals = 0;
    bool tried = false;
    Attempt outcome = Attempt::Failed;
    for (int s = 0; s < sourceCount(); ++s) {
        if (sourcePassedOver[s] || !formatSourceUrl(s, d->serverPath, d->url)) continue;
        if (tried) moveToNextSource(*d);
        tried = true;
        bool otherLeft = laterSourceLeft(s);
        outcome = downloadWithRetries(*d, otherLeft);
        // A download paused as the launcher quits was refused by no server.
        if (outcome == Attempt::Done || outcome == Attempt::LocalFailure || outcome == Attempt::Paused || !otherLeft)
            break;
        if (outcome == Attempt::Retry)
            passOverMirror(s, *d);
        else
            refusedBy[refusals++] = s;
    }
    if (!tried) failDownload("Downloading failed - open (%s)", d->fileName);
    if (outcome == Attempt::Done)
        for (int i = 0; i < refusals; ++i) passOverMirror(refusedBy[i], *d);
    return outcome == Attempt::LocalFailure ? Attempt::Failed : outcome;
}

// The index line a patch file must match before it may replace anything; nullptr when the build
// verifies nothing. false when the index has no line for it.
bool findExpectedLine(const char* fileName, const PatchIndexFile** expected) {
    char indexPath[kIndexPathSize];
    *expected = nullptr;
    if (!playerIndexPath(fileName, indexPath, sizeof indexPath)) return !patchIndexRequired();
    bool missing = false;
    *expected = expectedPatchFile(indexPath, &missing);
    return !missing;
}

// The sum of the entries' uncompressed sizes, from the central directory; -1 when unreadable (the
// unpacking then reports the archive itself).
long long unpackedSize(const char* archivePath) {
    zlib_filefunc64_def functions;
    fillBufferedZipFunctions(&functions);
    unzFile archive = unzOpen2_64(archivePath, &functions);
    if (archive == nullptr) return -1;
    long long total = 0;
    for (int err = unzGoToFirstFile(archive); err == UNZ_OK; err = unzGoToNextFile(archive)) {
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) break;
        total += static_cast<long long>(info.uncompressed_size);
        if (total < 0) total = LLONG_MAX;
    }
    unzClose(archive);
    return total;
}

bool roomToUnpack(const char* archivePath) {
    long long needed = unpackedSize(archivePath);
    long long room = freeDiskSpace();
    return needed < 0 || room < 0 || room >= needed + kFreeSpaceMargin;
}

// Puts the completed temp file in place of the target; read-only or hidden targets are cleared first.
bool replaceTarget(const DownloadFiles& d) {
    WCHAR temp[kWidePathSize], target[kWidePathSize];
    if (!widenLocalName(d, d.tempFile, temp) || !widenLocalName(d, d.targetFile, target)) return false;
    SetFileAttributesW(target, FILE_ATTRIBUTE_NORMAL);
    return MoveFileExW(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// Fills a download's local names, server path and URL on the base; false when one does not fit its field.
bool prepareDownload(DownloadFiles* d, const char* subfolder, const char* serverName) {
    int pathLength = snprintf(d->serverPath, sizeof d->serverPath, "%s%s", subfolder, serverName);
    if (pathLength < 0 || pathLength >= static_cast<int>(sizeof d->serverPath)) return false;
    if (!formatSourceUrl(0, d->serverPath, d->url)) return false;
    int tempLength = snprintf(d->tempFile, sizeof d->tempFile, "%s%s", d->targetFile, kTempSuffix);
    int validatorLength = snprintf(d->validatorFile, sizeof d->validatorFile, "%s%s", d->targetFile, kValidatorSuffix);
    return tempLength >= 0 && tempLength < static_cast<int>(sizeof d->tempFile) && validatorLength >= 0 &&
           validatorLength < static_cast<int>(sizeof d->validatorFile);
}

void publishExtractMessage(const char* message) { setStatusText(message); }

void logArchive(const char* archive, const char* outcome) {
    LogEvent event = logEvent(kLogArchive);
    event.name = archive;
    event.message = outcome;
    writeLogEvent(event);
}

void logStep(const char* format, int version) {
    char text[64];
    snprintf(text, sizeof text, format, version);
    LogEvent event = logEvent(kLogStep);
    event.message = text;
    writeLogEvent(event);
}

// Only a transient failure (an output file that cannot be created or written, as while a virus scan
// holds it) is tried again, after a short pause and within a bounded time; a permanent one (not an
// archive, a checksum error, a refused name) fails the archive at once with its message. The
// archive stays in place between attempts; after success it is removed and its delete list applied.
int unpackArchive(const char* destFile) {
    if (!roomToUnpack(destFile)) return failDownload("Not enough free disk space. (%s)", destFile);
    char message[kStatusTextSize];
    DWORD started = GetTickCount();
    for (;;) {
        int result = extractArchive(destFile, message, sizeof message, &gState.unpackBuffers, publishExtractMessage);
        if (result == kExtractDone) {
            // The entries are flushed while the archive still names them; a version is recorded
            // only after this.
            if (!makeUnpackedEntriesDurable(destFile)) return failDownload("Creating file failed. (%s)", destFile);
            logArchive(destFile, "unpacked");
            DeleteFileA(destFile);
            applyDeleteList();
            return 1;
        }
        if (result != kExtractRetry) {
            logArchive(destFile, message);
            markFailureShown();
            return 0;
        }
        if (GetTickCount() - started >= kUnpackRetryLimitMs) break;
        Sleep(kUnpackRetryPauseMs);
    }
    logArchive(destFile, settingText(SettingText::MsgLauncherFailed));
    MessageBoxA(gState.mainWindow, settingText(SettingText::MsgLauncherFailed),
                settingText(SettingText::MsgErrorCaption), MB_OK);
    gState.quitRequested = 1;
    return 0;
}

// A manifest step that could not be read ended the table: what came before is applied and recorded,
// and the player is told the server's information was unusable instead of being shown ready.
int reportUnreadableSteps() {
    setStatusText(settingText(SettingText::MsgServerUnreachable));
    markFailureShown();
    return 0;
}

// The step's manifest files, one after the other; false when one failed.
bool fetchStepFiles(const VersionStep& step, int* done) {
    for (int f = 0; f < step.fileCount && f < kMaxStepFiles; ++f) {
        gState.fileProgress = 0;
        gState.totalProgress = totalPercent(*done, gState.totalFileCount);
        if (!downloadPatchFile(step.files[f], kPlayerSubfolder)) return false;
        ++*done;
    }
    return true;
}

// A step the delta list rebuilds for less than its archive is taken from there; every other step, and
// one whose payloads will not do, fetches its files as ever. false when the step failed.
bool bringStepInPlace(const VersionStep& step, int* done) {
    if (gState.totalFileCount == 0) return true;
    gState.fileProgress = 0;
    gState.totalProgress = totalPercent(*done, gState.totalFileCount);
    DeltaStepOutcome fromDeltas = applyStepFromDeltas(step);
    if (fromDeltas == DeltaStepOutcome::UseArchive) return fetchStepFiles(step, done);
    *done += step.fileCount;
    return fromDeltas == DeltaStepOutcome::Applied;
}

// One pass over the step table; false when a file failed (the status says why).
bool applyStepTable() {
    int done = 0;
    for (int s = 0; s < kMaxVersionSteps && gState.versionSteps[s].version != 0; ++s) {
        const VersionStep& step = gState.versionSteps[s];
        if (!bringStepInPlace(step, &done)) return false;
        removeDeltaLeftovers(step);
        gState.localGameVersion = step.version;
        writeConfig();
        logStep("version %d recorded", step.version);
    }
    return true;
}

// The table holds kMaxVersionSteps steps; a player further behind gets the rest in further passes over
// the stored manifest, read again from the version the last pass reached. The game is shown ready only
// at the manifest's last version (or above it, when the server went back).
int applySteps() {
    for (;;) {
        bool tableFull = gState.versionSteps[kMaxVersionSteps - 1].version != 0;
        if (!applyStepTable()) return 0;
        if (gState.stepTableCut) return reportUnreadableSteps();
        if (!tableFull || !readStoredManifest()) break;
    }
    if (gState.localGameVersion < gState.serverGameVersion) return reportUnreadableSteps();
    writeConfig();
    CheckDepth depth = InterlockedExchange(reinterpret_cast<volatile LONG*>(&gState.fullCheckRequested), 0)
                           ? CheckDepth::Full
                           : CheckDepth::Quick;
    if (checkGameFiles(depth) != GameCheck::Done) return 0;
    showReadyState();
    logStep("ready at version %d", gState.localGameVersion);
    return 1;
}

}  // namespace

int downloadPatchFile(const char* fileName, const char* subfolder) {
    // A name that could land outside the launcher's folder, or that names a folder, is never
    // opened nor requested.
    size_t nameLength = strlen(fileName);
    bool namesFolder = nameLength > 0 && (fileName[nameLength - 1] == '/' || fileName[nameLength - 1] == '\\');
    if (!isSafeRelativePath(fileName) || namesFolder) return failDownload("Creating file failed. (%s)", fileName);
    DownloadFiles d = {};
    d.fileName = fileName;
    d.targetFile = fileName;
    d.logTopic = kLogFile;
    formatStatusText("Downloading file (%s)", fileName);
    if (!prepareDownload(&d, subfolder != nullptr ? subfolder : "", fileName))
        return failDownload("Downloading failed - open (%s)", fileName);
    if (!findExpectedLine(fileName, &d.expected)) return failDownload("Downloading failed - verify (%s)", fileName);

    if (downloadFromSources(&d) != Attempt::Done) return 0;
    if (!replaceTarget(d)) {
        discardPartial(d);
        return failDownload("Creating file failed. (%s)", fileName);
    }
    deleteLocalFile(d, d.validatorFile);
    if (isArchiveName(fileName) && !unpackArchive(fileName)) return 0;

    SetFileAttributesA(settingText(SettingText::GameExeName), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    return 1;
}

VerifiedFetch downloadVerifiedFile(const char* serverPath, const char* localFile, const char* shownName,
                                   const PatchIndexFile& expected) {
    DownloadFiles d = {};
    d.fileName = shownName;
    d.targetFile = localFile;
    d.utf8Names = true;
    d.expected = &expected;
    d.logTopic = kLogDelta;
    formatStatusText("Downloading file (%s)", shownName);
    if (!prepareDownload(&d, "/", serverPath)) {
        failDownload("Downloading failed - open (%s)", shownName);
        return VerifiedFetch::Refused;
    }
    Attempt outcome = downloadFromSources(&d);
    if (outcome != Attempt::Done) return outcome == Attempt::Failed ? VerifiedFetch::Refused : VerifiedFetch::Failed;
    if (!replaceTarget(d)) {
        discardPartial(d);
        failDownload("Creating file failed. (%s)", shownName);
        return VerifiedFetch::Failed;
    }
    deleteLocalFile(d, d.validatorFile);
    return VerifiedFetch::Done;
}

void trustEveryPatchSource() { memset(sourcePassedOver, 0, sizeof sourcePassedOver); }

unsigned __stdcall updateWorker(void*) {
    trustEveryPatchSource();
    gState.fileProgress = 0;
    gState.totalProgress = 0;
    loadDeltaListForRun();
    logStep("update from version %d", gState.localGameVersion);
    int result = applySteps();
    closePatchSession(&workerSession);
    releaseThreadSha256Provider();
    gState.workerRunning = 0;
    return static_cast<unsigned>(result);
}

unsigned __stdcall gameCheckWorker(void*) {
    // A check the player asks for later is a run of its own: a server down at start-up may be back.
    trustEveryPatchSource();
    gState.fileProgress = 0;
    gState.totalProgress = 0;
    gState.fullCheckRequested = 0;
    bool ready = checkGameFiles(CheckDepth::Full) == GameCheck::Done;
    closePatchSession(&workerSession);
    releaseThreadSha256Provider();
    if (ready) showReadyState();
    gState.workerRunning = 0;
    return ready ? 1 : 0;
}
