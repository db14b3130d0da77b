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
#include "verification/patch_verify.h"

namespace {

ManifestTargets stateTargets() {
    return ManifestTargets{gState.latestInstallerVersion, gState.latestLauncherVersion, &gState.serverGameVersion,
                           gState.versionSteps, &gState.totalFileCount, &gState.stepTableCut};
}

}  // namespace

int fetchManifest() {
    // The tick in the query keeps caches between us and the server from answering with an old copy.
    char requestUrl[1024] = {};
    int needed = snprintf(requestUrl, sizeof requestUrl, "%s?tick=%u", settingText(SettingText::PatchInfoUrl),
                          static_cast<unsigned>(timeGetTime()));
    if (needed < 0 || needed >= static_cast<int>(sizeof requestUrl)) return 0;
    if (downloadToFile(requestUrl, own_file::kManifestCopy, 1, "downslib", 3000, nullptr) != kTransferOk) return 0;
    // A build that carries the publisher's key reads only a manifest the signed index vouches for.
    if (!indexLoadSucceeded(loadPatchIndex(settingText(SettingText::PatchBaseUrl), own_file::kIndexCopy, own_file::kManifestCopy)))
        return 0;

    FILE* manifest = fopen(own_file::kManifestCopy, "r");
    if (!manifest) return 0;
    readManifestFile(manifest, stateTargets(), gState.localGameVersion);
    fclose(manifest);
    return 1;
}
