// The launcher's own file version from its version resource, and the installer and launcher checks
// against the registry value the game's installer leaves and the manifest's version texts.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "app/launcher_state.h"
#include "update/version_check.h"

namespace {

const char kInstallerKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Norvane.exe\\TH";

enum class Installed { NoKey, NoValue, Text, Binary };

struct InstallerCase {
    Installed installed;
    std::string value;  // written without a terminator for Binary
    const char* latest;
    int expected;
};

void prepareRegistry(const InstallerCase& c) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kInstallerKey);
    if (c.installed == Installed::NoKey) return;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallerKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    if (c.installed == Installed::Text) {
        RegSetValueExA(key, "InstallerVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>(c.value.c_str()),
                       static_cast<DWORD>(c.value.size() + 1));
    } else if (c.installed == Installed::Binary) {
        RegSetValueExA(key, "InstallerVersion", 0, REG_BINARY, reinterpret_cast<const BYTE*>(c.value.data()),
                       static_cast<DWORD>(c.value.size()));
    }
    RegCloseKey(key);
}

TEST(VersionCheck, InstallerIsOutdatedOnlyWhenTheRegistryNamesAnOlderVersion) {
    const InstallerCase cases[] = {
        {Installed::NoKey, "", "9.9.9.9", 0},
        {Installed::NoValue, "", "9.9.9.9", 0},
        {Installed::Text, "1.0.0.10", "1.0.0.9", 0},
        {Installed::Text, "1.0.0.3", "1.0.1", 1},
        {Installed::Text, "1.0.0.3", "1.0.0.3", 0},
        {Installed::Text, "1.0.0.3", "", 0},
        {Installed::Text, "1.-1.0.0", "1.0.0.0", 1},
        {Installed::Text, "", "0.0.0.1", 1},
        {Installed::Text, std::string("1.0.0.2") + std::string(248, ' '), "1.0.0.3", 1},  // 255 characters fit
        {Installed::Text, std::string(300, '9'), "1.0.0.3", 0},                          // too long: unreadable
        {Installed::Binary, std::string("2.0.0.0") + std::string(249, 'x'), "2.0.0.1", 1},  // 256, no terminator
        {Installed::Binary, std::string("2.0.0.0") + std::string(250, 'x'), "2.0.0.1", 0},  // 257: unreadable
        {Installed::Binary, std::string(256, '7'), "1.0.0.0", 1},  // out of range reads as 0.0.0.0
    };
    for (const InstallerCase& c : cases) {
        prepareRegistry(c);
        snprintf(gState.latestInstallerVersion, sizeof gState.latestInstallerVersion, "%s", c.latest);
        EXPECT_EQ(isInstallerOutdated(), c.expected) << "'" << c.value.substr(0, 20) << "' against " << c.latest;
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kInstallerKey);
}

struct LauncherCase {
    int own[4];
    const char* latest;
    int expected;
};

TEST(VersionCheck, LauncherIsOutdatedWhenTheManifestNamesANewerVersion) {
    const LauncherCase cases[] = {
        {{0, 0, 0, 5}, "0.0.0.6", 1},
        {{0, 0, 0, 5}, "0.0.0.5", 0},
        {{0, 0, 0, 5}, "", 0},
        {{0, 0, 0, 5}, "0.0.0.4", 0},
        {{0, 0, 0, 5}, "0.0.1", 1},
        {{0, 0, 0, 5}, "0.0.0.10", 1},
        {{0, 0, 0, 0}, "0.0.0.1", 1},
        {{1, 0, 0, 0}, "0.9.9.9", 0},
    };
    for (const LauncherCase& c : cases) {
        memcpy(gState.launcherFileVersion, c.own, sizeof c.own);
        snprintf(gState.latestLauncherVersion, sizeof gState.latestLauncherVersion, "%s", c.latest);
        EXPECT_EQ(isLauncherOutdated(), c.expected) << c.latest;
    }
}

TEST(VersionCheck, OwnFileVersionComesFromTheVersionResourceInWordOrder) {
    int version[4] = {-1, -1, -1, -1};
    ASSERT_TRUE(readOwnFileVersion(version));
    EXPECT_EQ(version[0], 3);
    EXPECT_EQ(version[1], 20);
    EXPECT_EQ(version[2], 65535);
    EXPECT_EQ(version[3], 7);
}

}  // namespace
