// fetchManifest end to end against the local HTTPS patch server: the manifest lands in "update.dat"
// and in the launcher state; failed downloads store nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/launcher_state.h"
#include "settings/launcher_settings.h"
#include "support/temp_folder.h"
#include "update/manifest.h"

namespace {

std::string windowsPath(std::string path) {
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

// Serves the manifest under its own name and points the built-in manifest address at it.
void serveManifest(const std::string& name, const std::string& content, const std::string& fault = "") {
    std::string folder = windowsPath(std::string(VYR_TEST_WWW_DIR) + "/net-test");
    CreateDirectoryA(windowsPath(VYR_TEST_WWW_DIR).c_str(), nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    writeWholeFile(folder + "\\" + name, content);
    std::string sidecar = folder + "\\" + name + ".fault";
    DeleteFileA(sidecar.c_str());
    if (!fault.empty()) writeWholeFile(sidecar, fault);
    const char* port = getenv("VYR_TEST_PORT");
    snprintf(gSettings.settingTexts[static_cast<int>(SettingText::PatchInfoUrl)], kSettingTextSize,
             "https://127.0.0.1:%s/net-test/%s", port ? port : "0", name.c_str());
}

void resetManifestFields(int localGameVersion) {
    memset(gState.latestInstallerVersion, 0, sizeof gState.latestInstallerVersion);
    memset(gState.latestLauncherVersion, 0, sizeof gState.latestLauncherVersion);
    memset(gState.versionSteps, 0, sizeof gState.versionSteps);
    gState.serverGameVersion = 0;
    gState.totalFileCount = 0;
    gState.localGameVersion = localGameVersion;
}

const char kManifest[] =
    "[INSTALLER]\n1.0.0.3\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n10001 Patch10001.zip\n"
    "10002 Patch10002_a.zip Patch10002_b.zip\n10003 Data/Table.dat Patch10003.zip\n";

TEST(FetchManifest, StoresTheManifestAndReadsItIntoTheState) {
    TempFolder folder;
    resetManifestFields(10001);
    serveManifest("fetch-good.txt", kManifest);
    ASSERT_EQ(fetchManifest(), 1);
    EXPECT_EQ(readWholeFile(folder.file("update.dat")), kManifest);
    EXPECT_STREQ(gState.latestInstallerVersion, "1.0.0.3");
    EXPECT_STREQ(gState.latestLauncherVersion, "0.0.0.5");
    EXPECT_EQ(gState.serverGameVersion, 10003);
    EXPECT_EQ(gState.versionSteps[0].version, 10002);
    EXPECT_EQ(gState.versionSteps[1].version, 10003);
    EXPECT_EQ(gState.versionSteps[2].version, 0);
    EXPECT_EQ(gState.totalFileCount, 4);
    EXPECT_STREQ(gState.versionSteps[1].files[0], "Data/Table.dat");
}

TEST(FetchManifest, AnErrorPageInsteadOfTheManifestStoresNothingButCounts) {
    TempFolder folder;
    resetManifestFields(10001);
    serveManifest("fetch-404.txt", kManifest, "status404");
    EXPECT_EQ(fetchManifest(), 1);
    EXPECT_EQ(gState.serverGameVersion, 0);
    EXPECT_STREQ(gState.latestLauncherVersion, "");
    EXPECT_NE(readWholeFile(folder.file("update.dat")).find("404"), std::string::npos);
}

struct FailedFetchCase {
    const char* name;
    const char* fault;
    bool serverListens;
};

TEST(FetchManifest, FailedDownloadsStoreNothingAndAnswerZero) {
    const FailedFetchCase cases[] = {
        {"fetch-drop.txt", "drop-half", true},
        {"fetch-closed.txt", "", false},
    };
    for (const FailedFetchCase& c : cases) {
        TempFolder folder;
        writeWholeFile(folder.file("update.dat"), "[PLAYER]\n10009 old.zip\n");
        resetManifestFields(10001);
        snprintf(gState.latestLauncherVersion, sizeof gState.latestLauncherVersion, "%s", "0.0.0.4");
        serveManifest(c.name, kManifest, c.fault);
        if (!c.serverListens) {
            snprintf(gSettings.settingTexts[static_cast<int>(SettingText::PatchInfoUrl)], kSettingTextSize, "%s",
                     "https://127.0.0.1:1/net-test/fetch-closed.txt");
        }
        EXPECT_EQ(fetchManifest(), 0) << c.name;
        EXPECT_EQ(gState.serverGameVersion, 0) << c.name;
        EXPECT_EQ(gState.versionSteps[0].version, 0) << c.name;
        EXPECT_STREQ(gState.latestLauncherVersion, "0.0.0.4") << c.name;
        if (!c.serverListens) {
            EXPECT_EQ(readWholeFile(folder.file("update.dat")), "[PLAYER]\n10009 old.zip\n");
        }
    }
}

}  // namespace
