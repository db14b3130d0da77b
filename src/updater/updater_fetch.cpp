// Updater's downloads: one strict-TLS transfer per file through the shared engine, then the signed
// patch index decides whether the bytes are the publisher's.
#include "updater/updater_fetch.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "logging/transfer_log.h"
#include "verification/patch_crypto.h"
#include "verification/patch_verify.h"
#include "network/patch_transfer.h"
#include "updater/updater_texts.h"

namespace {

const char kAgent[] = "NorvaneUpdater";
const DWORD kChunkSize = 64 * 1024;
const size_t kUrlSize = 2048;

// fetchIntoFile's progress callback carries no context; one transfer runs at a time.
struct ActiveFetch {
    const FetchHooks* hooks;
    PatchSession* session;
};
ActiveFetch gActive = {nullptr, nullptr};

bool isCancelled(const FetchHooks* hooks) {
    return hooks && hooks->cancelled && hooks->cancelled();
}

// Closing the session is WinINet's way to stop a transfer: the next read fails, and the caller,
// seeing the cancel flag, reports a cancel rather than a broken transfer.
void reportProgress(long long received, long long size) {
    const FetchHooks* hooks = gActive.hooks;
    if (!hooks) return;
    if (hooks->progress && size > 0) hooks->progress(static_cast<int>(received * 100 / size));
    if (isCancelled(hooks)) closePatchSession(gActive.session);
}

void describeFailure(const FetchResult& result, char* reason, size_t reasonSize) {
    switch (result.failure) {
        case FetchFailure::Status: snprintf(reason, reasonSize, "HTTP %d", result.httpStatus); break;
        case FetchFailure::Open: snprintf(reason, reasonSize, "no connection to the server"); break;
        case FetchFailure::QueryStatus:
        case FetchFailure::QuerySize: snprintf(reason, reasonSize, "an incomplete answer from the server"); break;
        case FetchFailure::Read: snprintf(reason, reasonSize, "the transfer broke off"); break;
        case FetchFailure::Write: snprintf(reason, reasonSize, "cannot write the file"); break;
        case FetchFailure::NoSpace: snprintf(reason, reasonSize, "not enough free disk space"); break;
        case FetchFailure::BadRange: snprintf(reason, reasonSize, "the server sent the wrong part"); break;
        case FetchFailure::Paused:
        case FetchFailure::None: break;
    }
}

bool joinUrl(const char* baseUrl, const char* urlPath, char (&url)[kUrlSize]) {
    int written = snprintf(url, sizeof url, "%s/%s", baseUrl, urlPath);
    return written > 0 && written < static_cast<int>(sizeof url);
}

// In a signed build the downloaded bytes must be the ones the index lists for urlPath.
bool matchesTheIndex(const char* urlPath, const FetchedFile& fetched, const char* what, char* message,
                     size_t messageSize) {
    bool missing = false;
    const PatchIndexFile* line = expectedPatchFile(urlPath, &missing);
    if (line == nullptr) {
        snprintf(message, messageSize, updater_text::kNotInIndex, urlPath);
        return false;
    }
    if (!matchesIndexLine(*line, fetched.size, fetched.sha256)) {
        snprintf(message, messageSize, updater_text::kHashMismatch, what,
                 fetched.size != line->size ? "wrong size" : "wrong SHA-256");
        return false;
    }
    return true;
}

}  // namespace

// The one place Updater moves bytes over the network, through the engine's shared transfer.
int fetchToFile(const char* url, const char* localFile, const FetchHooks* hooks, FetchedFile* fetched, char* reason,
                size_t reasonSize) {
    if (isCancelled(hooks)) return kFetchCancelled;
    PatchSession session;
    if (!openPatchSession(&session, kAgent)) {
        DWORD error = GetLastError();
        snprintf(reason, reasonSize, "no Internet access (error %lu)", error);
        return kFetchFailed;
    }
    HANDLE file = CreateFileA(localFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        snprintf(reason, reasonSize, "cannot create the file (error %lu)", error);
        closePatchSession(&session);
        return kFetchFailed;
    }
    Sha256Stream hash;
    bool hashing = fetched && beginSha256(&hash);
    std::vector<char> buffer(kChunkSize);
    gActive = {hooks, &session};
    FetchRequest request{url, file, 0, "", hashing ? &hash : nullptr, reportProgress, 0, nullptr, nullptr, nullptr};
    FetchResult result = fetchIntoFile(&session, request, buffer.data(), kChunkSize);
    logFetch(kLogFile, url, localFile, result);
    gActive = {nullptr, nullptr};
    CloseHandle(file);
    closePatchSession(&session);
    bool done = result.failure == FetchFailure::None && (!fetched || hashing);
    if (hashing && done) {
        fetched->size = static_cast<uint64_t>(result.received);
        done = finishSha256(&hash, fetched->sha256);
    } else if (hashing) {
        abandonSha256(&hash);
    }
    if (done) return kFetchOk;
    DeleteFileA(localFile);
    if (isCancelled(hooks)) return kFetchCancelled;
    if (result.failure == FetchFailure::None) snprintf(reason, reasonSize, "SHA-256 unavailable");
    else describeFailure(result, reason, reasonSize);
    return kFetchFailed;
}

int fetchVerifiedFile(const char* baseUrl, const char* urlPath, const char* localFile, const char* indexFile,
                      const char* what, const FetchHooks* hooks, char* message, size_t messageSize) {
    bool signedBuild = patchIndexRequired();
    IndexLoad load = loadPatchIndex(baseUrl, indexFile, nullptr);
    if (!indexLoadSucceeded(load)) {
        snprintf(message, messageSize, updater_text::kIndexFailed,
                 load == IndexLoad::Unfetchable ? "cannot fetch" : "bad signature, format or size");
        return kFetchFailed;
    }

    char url[kUrlSize];
    char reason[128] = {};
    if (!joinUrl(baseUrl, urlPath, url)) {
        snprintf(message, messageSize, updater_text::kDownloadFailed, what, "address too long");
        return kFetchFailed;
    }
    FetchedFile fetched{};
    int result = fetchToFile(url, localFile, hooks, signedBuild ? &fetched : nullptr, reason, sizeof reason);
    if (result == kFetchFailed) snprintf(message, messageSize, updater_text::kDownloadFailed, what, reason);
    if (result != kFetchOk) return result;
    if (signedBuild && !matchesTheIndex(urlPath, fetched, what, message, messageSize)) {
        DeleteFileA(localFile);
        return kFetchFailed;
    }
    return kFetchOk;
}
