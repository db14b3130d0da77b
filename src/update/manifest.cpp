// Downloads the version manifest into "update.dat" and parses it into the launcher state: the two
// version texts, the latest game version and the pending patch steps.
#include "update/manifest.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstdio>

#include "app/launcher_state.h"
#include "settings/launcher_settings.h"
#include "network/http_transfer.h"
#include "formats/manifest_text.h"
#include "formats/own_file_names.h"
#include "logging/transfer_log.h"
#include "verification/patch_verify.h"

namespace {

enum { kRequestUrlSize = 1024, kPairRefetchPauseMs = 2000 };

ManifestTargets stateTargets() {
    return ManifestTargets{gState.latestInstallerVersion, gState.latestLauncherVersion, &gState.serverGameVersion,
                           gState.versionSteps, &gState.totalFileCount, &gState.stepTableCut, gState.mirrorUrls,
                           &gState.mirrorCount};
}

bool downloadManifest() {
    // The tick in the query keeps caches between us and the server from answering with an old copy.
    char requestUrl[kRequestUrlSize] = {};
    int needed = snprintf(requestUrl, sizeof requestUrl, "%s?tick=%u", settingText(SettingText::PatchInfoUrl),
                          static_cast<unsigned>(timeGetTime()));
    if (needed < 0 || needed >= static_cast<int>(sizeof requestUrl)) return false;
    TransferDetail detail;
    int result = downloadToFile(requestUrl, own_file::kManifestCopy, 1, "downslib", 3000, nullptr, &detail);
    logDownload(kLogManifest, requestUrl, own_file::kManifestCopy, result, detail);
    return result == kTransferOk;
}

IndexLoad loadIndexForManifest() {
    return loadPatchIndex(settingText(SettingText::PatchBaseUrl), own_file::kIndexCopy, own_file::kManifestCopy);
}

}  // namespace

int fetchManifest() {
    if (!downloadManifest()) return 0;
    // A build that carries the publisher's key reads only a manifest the signed index vouches for.
    // Caches and CDN edges can hand out the manifest and the index of two moments of one release, so
    // a pair that does not match is fetched once more, after a pause, before it counts as refused.
    IndexLoad load = loadIndexForManifest();
    if (load == IndexLoad::ManifestMismatch) {
        Sleep(kPairRefetchPauseMs);
        if (!downloadManifest()) return 0;
        load = loadIndexForManifest();
    }
    if (!indexLoadSucceeded(load)) return 0;
    return readStoredManifest();
}

int readStoredManifest() {
    FILE* manifest = fopen(own_file::kManifestCopy, "r");
    if (!manifest) return 0;
    bool isManifest = hasPlayerSection(manifest);
    rewind(manifest);
    if (isManifest) readManifestFile(manifest, stateTargets(), gState.localGameVersion);
    fclose(manifest);
    return isManifest ? 1 : 0;
}
