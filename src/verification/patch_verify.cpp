// Loading and holding the run's verified patch index.
#include "verification/patch_verify.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "network/http_transfer.h"
#include "verification/patch_crypto.h"

namespace {

enum { kIndexUrlSize = 1024 };

PatchIndex runIndex;
bool runIndexLoaded = false;

bool readWholeFile(const char* path, std::vector<char>* bytes) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) return false;
    bytes->clear();
    char chunk[65536];
    size_t count = 0;
    while ((count = fread(chunk, 1, sizeof chunk, file)) > 0 && bytes->size() <= kMaxSignedListBytes)
        bytes->insert(bytes->end(), chunk, chunk + count);
    bool whole = !ferror(file) && bytes->size() <= kMaxSignedListBytes;
    fclose(file);
    return whole;
}

bool manifestMatches(const char* localManifest, const PatchIndex& index) {
    uint64_t size = 0;
    uint8_t digest[kSha256Size];
    return sha256OfFile(localManifest, &size, digest) && memcmp(digest, index.manifestSha256, kSha256Size) == 0;
}

}  // namespace

bool fetchSignedListText(const char* baseUrl, const char* name, const char* localFile, std::vector<char>* text) {
    // The tick keeps caches between us and the server from answering with an old copy.
    char url[kIndexUrlSize];
    int length = snprintf(url, sizeof url, "%s/%s?tick=%u", baseUrl, name, static_cast<unsigned>(timeGetTime()));
    if (length < 0 || length >= static_cast<int>(sizeof url)) return false;
    bool fetched = downloadToFile(url, localFile, 1, nullptr, 0, nullptr) == kTransferOk;
    bool read = fetched && readWholeFile(localFile, text);
    DeleteFileA(localFile);
    return read;
}

bool patchIndexRequired() {
    uint8_t key[kP256PublicKeySize];
    return builtInPatchPublicKey(key);
}

IndexLoad loadPatchIndex(const char* baseUrl, const char* localIndexFile, const char* localManifest) {
    runIndexLoaded = false;
    uint8_t key[kP256PublicKeySize];
    if (!builtInPatchPublicKey(key)) return IndexLoad::NotRequired;
    std::vector<char> text;
    if (!fetchSignedListText(baseUrl, "PatchIndex.txt", localIndexFile, &text)) return IndexLoad::Unfetchable;
    if (!verifyPatchIndexText(text.data(), text.size(), key, &runIndex)) return IndexLoad::Refused;
    if (localManifest != nullptr && !manifestMatches(localManifest, runIndex)) return IndexLoad::ManifestMismatch;
    runIndexLoaded = true;
    return IndexLoad::Verified;
}

const PatchIndexFile* expectedPatchFile(const char* indexPath, bool* missing) {
    *missing = false;
    if (!patchIndexRequired()) return nullptr;
    const PatchIndexFile* line = runIndexLoaded ? findPatchIndexFile(runIndex, indexPath) : nullptr;
    *missing = line == nullptr;
    return line;
}

bool matchesIndexLine(const PatchIndexFile& line, uint64_t size, const uint8_t digest[kSha256Size]) {
    return line.size == size && memcmp(line.sha256, digest, kSha256Size) == 0;
}
