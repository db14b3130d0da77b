// The launcher's own file version and the two checks that decide a hand-off to Updater: the
// installer version the game's installer left in the registry, and the launcher's own version.
#include "update/version_check.h"

#include <windows.h>
#include <winver.h>

#include <cstdlib>
#include <cstring>

#include "app/launcher_state.h"
#include "formats/version_text.h"

namespace {

const char kInstallerKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Norvane.exe\\TH";
const DWORD kRegistryTextSize = 256;

// The registry value as text: up to 256 bytes, NUL-terminated whatever the registry holds (a value
// of any type, with or without its terminator). A longer value counts as unreadable.
bool readInstallerVersionText(char (&text)[kRegistryTextSize + 1]) {
    memset(text, 0, sizeof text);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallerKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD size = kRegistryTextSize;  // the byte beyond stays the terminator
    LONG status = RegQueryValueExA(key, "InstallerVersion", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        memset(text, 0, sizeof text);
        return false;
    }
    return true;
}

}  // namespace

bool readFileVersion(const char* path, int version[4]) {
    DWORD unusedHandle = 0;
    DWORD infoSize = GetFileVersionInfoSizeA(path, &unusedHandle);
    if (infoSize == 0) return false;
    void* info = malloc(infoSize);
    if (!info) return false;
    bool found = false;
    VS_FIXEDFILEINFO* pFixedFileInfo = nullptr;
    UINT fixedSize = 0;
    if (GetFileVersionInfoA(path, 0, infoSize, info) &&
        VerQueryValueA(info, "\\", reinterpret_cast<void**>(&pFixedFileInfo), &fixedSize) && pFixedFileInfo &&
        fixedSize >= sizeof(VS_FIXEDFILEINFO)) {
        version[0] = HIWORD(pFixedFileInfo->dwFileVersionMS);
        version[1] = LOWORD(pFixedFileInfo->dwFileVersionMS);
        version[2] = HIWORD(pFixedFileInfo->dwFileVersionLS);
        version[3] = LOWORD(pFixedFileInfo->dwFileVersionLS);
        found = true;
    }
    free(info);
    return found;
}

bool readOwnFileVersion(int version[4]) {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return false;
    return readFileVersion(path, version);
}

bool readInstalledInstallerVersion(VersionQuad* installed) {
    char text[kRegistryTextSize + 1];
    if (!readInstallerVersionText(text)) return false;
    *installed = readVersionText(text);
    return true;
}

int isInstallerOutdated() {
    VersionQuad installed{};
    if (!readInstalledInstallerVersion(&installed)) return 0;
    VersionQuad latestVersion = readVersionText(gState.latestInstallerVersion);
    return compareVersions(installed, latestVersion) < 0 ? 1 : 0;
}

int isLauncherOutdated() {
    VersionQuad own{};
    for (int i = 0; i < 4; ++i) own.component[i] = gState.launcherFileVersion[i];
    VersionQuad latestVersion = readVersionText(gState.latestLauncherVersion);
    return compareVersions(own, latestVersion) < 0 ? 1 : 0;
}
