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

// An error status, or a text that is not a manifest (no "[PLAYER]" section), is a failed fetch: nothing
// of it reaches the state, and an error page does not even replace the stored manifest.
TEST(FetchManifest, AnErrorPageOrATextWithoutPlayerSectionIsAFailedFetch) {
    const struct {
        const char* name;
        std::string body;
        const char* fault;
        bool replacesStored;
    } cases[] = {
        {"fetch-404.txt", kManifest, "status404", false},
        {"fetch-503.txt", kManifest, "status503", false},
        {"fetch-page.txt", "<html><body>[INSTALLER] 9.9.9.9 maintenance</body></html>\n", "", true},
        {"fetch-noplayer.txt", "[INSTALLER]\n9.9.9.9\n[LAUNCHER]\n9.9.9.9\n10002 x.zip\n", "", true},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        writeWholeFile(folder.file("update.dat"), "[PLAYER]\n10009 old.zip\n");
        resetManifestFields(10001);
        snprintf(gState.latestLauncherVersion, sizeof gState.latestLauncherVersion, "%s", "0.0.0.4");
        serveManifest(c.name, c.body, c.fault);
        EXPECT_EQ(fetchManifest(), 0) << c.name;
        EXPECT_EQ(gState.serverGameVersion, 0) << c.name;
        EXPECT_EQ(gState.versionSteps[0].version, 0) << c.name;
        EXPECT_STREQ(gState.latestLauncherVersion, "0.0.0.4") << c.name;
        EXPECT_STREQ(gState.latestInstallerVersion, "") << c.name;
        EXPECT_EQ(readWholeFile(folder.file("update.dat")) == c.body, c.replacesStored) << c.name;
    }
}

// A manifest counts as read only when its end is known: a length (from HEAD or the GET) that was met.
// A body that ends when the connection closes may be cut anywhere, here right after a step number,
// which would record that version with none of its files; WinINet reads a chunked body broken off
// inside a chunk to a clean end as well, so without a length no body is taken.
TEST(FetchManifest, AManifestIsReadOnlyWhenItsEndIsKnown) {
    const std::string manifest = "[INSTALLER]\n1.0.0.3\n[PLAYER]\n10002 a.zip\n10003 b.zip\n";
    const size_t afterStepNumber = manifest.find("10003") + 5;
    const std::string cut = std::to_string(afterStepNumber);
    const struct {
        const char* name;
        std::string fault;
        int fetched;
    } cases[] = {
        {"end-length.txt", "", 1},
        {"end-get-length.txt", "no-head", 1},
        {"end-close-whole.txt", "no-length", 0},
        {"end-chunked-whole.txt", "chunked", 0},
        {"end-close-cut.txt", "no-length drop-at:" + cut, 0},
        {"end-chunked-cut.txt", "chunked drop-at:" + cut, 0},
        {"end-no-head-cut.txt", "no-head drop-at:" + cut, 0},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        resetManifestFields(10001);
        serveManifest(c.name, manifest, c.fault);
        EXPECT_EQ(fetchManifest(), c.fetched) << c.name;
        EXPECT_EQ(gState.serverGameVersion, c.fetched ? 10003 : 0) << c.name;
        EXPECT_EQ(gState.versionSteps[1].version, c.fetched ? 10003 : 0) << c.name;
        EXPECT_EQ(gState.versionSteps[1].fileCount, c.fetched ? 1 : 0) << c.name;
    }
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
