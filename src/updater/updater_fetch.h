// Getting one file from the patch server into Updater's folder, and checking it against the signed
// patch index when the build carries a key.
#pragma once
#include <cstddef>
#include <cstdint>

#include "formats/patch_index.h"

// What the transfer reports to the window; both may be null.
struct FetchHooks {
    void (*progress)(int percent);
    bool (*cancelled)();
};

enum FetchOutcome { kFetchOk = 0, kFetchFailed = 1, kFetchCancelled = 2 };

// The size and SHA-256 of a file as it streamed in.
struct FetchedFile {
    uint64_t size;
    uint8_t sha256[kSha256Size];
};

// GET of url into localFile (FetchOutcome); with `fetched`, the bytes are hashed as they arrive. Unless
// it is kFetchOk, no file is left behind; on kFetchFailed reason gets a short text ("HTTP 404", ...).
int fetchToFile(const char* url, const char* localFile, const FetchHooks* hooks, FetchedFile* fetched, char* reason,
                size_t reasonSize);

// Downloads <base>/<urlPath> into localFile and, when the build carries a patch key, checks its size
// and SHA-256 against the line of urlPath in <base>/PatchIndex.txt (fetched beside it as indexFile).
// On failure message gets the whole reason, what (e.g. "The launcher") names the file in it, and
// localFile is removed.
int fetchVerifiedFile(const char* baseUrl, const char* urlPath, const char* localFile, const char* indexFile,
                      const char* what, const FetchHooks* hooks, char* message, size_t messageSize);
