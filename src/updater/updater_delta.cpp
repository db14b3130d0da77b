// Updater's delta path for the launcher. Each check that fails ends it quietly: the whole download
// that follows is the answer to every failure here, so none of them is shown to the player.
#include "updater/updater_delta.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "deltas/delta_apply.h"
#include "verification/delta_verify.h"
#include "verification/patch_verify.h"
#include "updater/updater_steps.h"
#include "updater/updater_texts.h"

namespace {

const size_t kUrlSize = 2048;
// A character of the ANSI code page takes up to three bytes in UTF-8.
const int kUtf8PathSize = kPathSize * 3;

// Updater finds its folder through the ANSI calls, the delta module reads UTF-8 paths: without this a
// folder named beyond ASCII would never find its base, and every launcher would come whole.
bool ansiToUtf8(const char* ansi, char (&utf8)[kUtf8PathSize]) {
    wchar_t wide[kPathSize];
    return MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, kPathSize) > 0 &&
           WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, kUtf8PathSize, nullptr, nullptr) > 0;
}

// The list's line from the installed launcher to exactly the launcher the index names.
const DeltaEntry* launcherDeltaFor(const DeltaList& list, const uint8_t installed[kSha256Size],
                                   const PatchIndexFile& served) {
    for (const DeltaEntry& entry : list.launcherDeltas) {
        if (entry.hasBase && memcmp(entry.baseSha256, installed, kSha256Size) == 0 &&
            memcmp(entry.targetSha256, served.sha256, kSha256Size) == 0 && entry.targetSize == served.size)
            return &entry;
    }
    return nullptr;
}

// The signed index's line of the served launcher and the delta list's line to it, both verified
// against the build's key; nullptr when either is missing.
const DeltaEntry* findLauncherDelta(const char* baseUrl, const char* folder, const char* installedLauncher) {
    char indexFile[kPathSize];
    char listFile[kPathSize];
    if (!patchIndexRequired() || !pathInFolder(folder, updater_file::kIndexDownload, indexFile) ||
        !pathInFolder(folder, updater_file::kDeltaListDownload, listFile))
        return nullptr;
    if (loadPatchIndex(baseUrl, indexFile, nullptr) != IndexLoad::Verified) return nullptr;
    bool missing = false;
    const PatchIndexFile* served = expectedPatchFile(updater_file::kLauncherUrlPath, &missing);
    if (served == nullptr || !loadDeltaList(baseUrl, listFile)) return nullptr;
    uint8_t installed[kSha256Size];
    uint64_t installedSize = 0;
    char installedUtf8[kUtf8PathSize];
    if (!ansiToUtf8(installedLauncher, installedUtf8) || !hashInstalledFile(installedUtf8, installed, &installedSize))
        return nullptr;
    return launcherDeltaFor(*runDeltaList(), installed, *served);
}

bool fetchPayload(const char* baseUrl, const DeltaEntry& delta, const char* payloadPath, const FetchHooks* hooks,
                  bool* cancelled) {
    char url[kUrlSize];
    int length = snprintf(url, sizeof url, "%s/%s", baseUrl, delta.payloadPath);
    if (length < 0 || length >= static_cast<int>(sizeof url)) return false;
    FetchedFile fetched{};
    char reason[128];
    int result = fetchToFile(url, payloadPath, hooks, &fetched, reason, sizeof reason);
    *cancelled = result == kFetchCancelled;
    return result == kFetchOk && fetched.size == delta.payloadSize &&
           memcmp(fetched.sha256, delta.payloadSha256, kSha256Size) == 0;
}

}  // namespace

bool fetchLauncherThroughDelta(const char* baseUrl, const char* folder, const char* installedLauncher,
                               const char* downloadPath, const FetchHooks* hooks, bool* cancelled) {
    *cancelled = false;
    const DeltaEntry* delta = findLauncherDelta(baseUrl, folder, installedLauncher);
    char payloadPath[kPathSize];
    if (delta == nullptr || !pathInFolder(folder, updater_file::kLauncherDelta, payloadPath)) return false;
    bool rebuilt = fetchPayload(baseUrl, *delta, payloadPath, hooks, cancelled);
    char base[kUtf8PathSize];
    char payload[kUtf8PathSize];
    char part[kUtf8PathSize];
    rebuilt = rebuilt && ansiToUtf8(installedLauncher, base) && ansiToUtf8(payloadPath, payload) &&
              ansiToUtf8(downloadPath, part);
    if (rebuilt) {
        DeltaApplyRequest request{base, payload, part, delta->targetSize, delta->targetSha256, nullptr, nullptr};
        rebuilt = applyDeltaPayload(request) == DeltaApply::Done;
    }
    DeleteFileA(payloadPath);
    return rebuilt;
}
