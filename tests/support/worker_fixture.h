// What the worker's suites share: a game folder of the test's own, served files below a folder of the
// test's own (so runs never see each other's files), the base URL put back afterwards, step tables.
#pragma once
#include <gtest/gtest.h>

#include <windows.h>

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/launcher_state.h"
#include "settings/config_file.h"
#include "settings/launcher_settings.h"
#include "update/patch_download.h"
#include "support/temp_folder.h"

const std::string kPlayerDir = std::string(VYR_TEST_WWW_DIR) + "/Setup/live/StandaloneWindows64/Player/";

// nginx's ETag of a static file, which the test server's "etag" and "short206" modes copy:
// modification time and size in hex.
inline std::string nginxStyleEtag(const std::string& path) {
    struct _stat64 info;
    if (_stat64(path.c_str(), &info) != 0) return "";
    char etag[64];
    snprintf(etag, sizeof etag, "\"%llx-%llx\"", static_cast<unsigned long long>(info.st_mtime),
             static_cast<unsigned long long>(info.st_size));
    return etag;
}

inline bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline void makeServerDirectories(const std::string& path) {
    for (size_t at = path.find_first_of("/\\", 3); at != std::string::npos; at = path.find_first_of("/\\", at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
}

// One patch file fetched on a thread of its own, so a test can act (pause, quit) while it runs.
struct Download {
    std::string name;
    std::atomic<int> result{-1};
};

inline unsigned __stdcall runDownload(void* context) {
    Download* d = static_cast<Download*>(context);
    d->result = downloadPatchFile(d->name.c_str(), "/Player/");
    return 0;
}

class WorkerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        char unique[64];
        snprintf(unique, sizeof unique, "wk%lu-%lu", GetCurrentProcessId(), GetTickCount());
        prefix = unique;
        snprintf(gState.moduleDirectory, sizeof gState.moduleDirectory, "%s", folder.path().c_str());
        memset(gState.versionSteps, 0, sizeof gState.versionSteps);
        gState.totalFileCount = 0;
        gState.buttonState[0] = 3;
        gState.quitRequested = 0;
        gState.fileProgress = gState.totalProgress = 0;
        gState.localGameVersion = 10005;
        setStatusText("Checking current version...");
        snprintf(savedBase, sizeof savedBase, "%s", settingText(SettingText::PatchBaseUrl));
    }
    void TearDown() override { setBaseUrl(savedBase); }

    static void setBaseUrl(const char* url) {
        snprintf(gSettings.settingTexts[static_cast<int>(SettingText::PatchBaseUrl)], kSettingTextSize, "%s", url);
    }
    static void useNginxPort(int port) {
        char base[kSettingTextSize];
        snprintf(base, sizeof base, "https://127.0.0.1:%d/Setup/live/StandaloneWindows64", port);
        setBaseUrl(base);
    }

    // A name below this test's own folder, as the manifest would list it, and where it lands locally.
    std::string name(const std::string& leaf) const { return prefix + "/" + leaf; }
    std::string local(const std::string& leaf) const { return folder.file(prefix + "\\" + leaf); }
    std::string served(const std::string& leaf) const {
        std::string path = kPlayerDir + name(leaf);
        makeServerDirectories(path);
        return path;
    }

    // A step of manifest names (already below the test's folder).
    void addStep(int version, const std::vector<std::string>& files) {
        int slot = 0;
        while (gState.versionSteps[slot].version != 0) ++slot;
        VersionStep& step = gState.versionSteps[slot];
        step.version = version;
        step.fileCount = static_cast<int>(files.size());
        for (size_t i = 0; i < files.size(); ++i)
            snprintf(step.files[i], sizeof step.files[i], "%s", files[i].c_str());
        gState.totalFileCount += step.fileCount;
    }

    static int recordedVersion() {
        gState.localGameVersion = 0;
        return readConfig() == 1 ? gState.localGameVersion : -1;
    }

    TempFolder folder;
    std::string prefix;
    char savedBase[kSettingTextSize];
};
