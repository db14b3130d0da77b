// A launcher built with the publisher's key against releases signed by openssl: a good release is
// applied; a spoiled manifest, index, signature or key fails the manifest fetch before anything is
// downloaded; a spoiled or unlisted file fails its download with "verify", keeping the old file.
#include <gtest/gtest.h>

#include <process.h>

#include <string>

#include "app/launcher_state.h"
#include "settings/config_file.h"
#include "settings/launcher_settings.h"
#include "support/temp_folder.h"
#include "update/manifest.h"
#include "update/update_worker.h"

namespace {

const std::string kBase = "https://127.0.0.1:" + std::string(getenv("VYR_TEST_PORT") ? getenv("VYR_TEST_PORT") : "0") +
                          "/Setup/live/StandaloneWindows64/verify/";

void setSetting(SettingText id, const std::string& text) {
    snprintf(gSettings.settingTexts[static_cast<int>(id)], kSettingTextSize, "%s", text.c_str());
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

struct CaseRun {
    int fetched;
    unsigned worker;
    std::string status;
    int recorded;
};

// One start of the launcher's update path against the case's folder, from an installed 10005 that
// holds an old table.dat.
CaseRun runCase(const TempFolder& folder, const std::string& name) {
    setSetting(SettingText::PatchBaseUrl, kBase + name);
    setSetting(SettingText::PatchInfoUrl, kBase + name + "/LauncherPatchInfo.txt");
    snprintf(gState.moduleDirectory, sizeof gState.moduleDirectory, "%s", folder.path().c_str());
    memset(gState.versionSteps, 0, sizeof gState.versionSteps);
    gState.totalFileCount = 0;
    gState.stepTableCut = 0;
    gState.localGameVersion = 10005;
    gState.buttonState[0] = 3;
    writeConfig();
    CreateDirectoryA(folder.file("Data").c_str(), nullptr);
    writeWholeFile(folder.file("Data\\table.dat"), "old table");
    setStatusText("Checking current version...");
    CaseRun run{fetchManifest(), 0, "", 0};
    if (run.fetched) run.worker = updateWorker(nullptr);
    run.status = gState.statusText;
    gState.localGameVersion = 0;
    run.recorded = readConfig() == 1 ? gState.localGameVersion : -1;
    return run;
}

TEST(WorkerVerify, OnlyWhatThePublisherSignedReachesTheGameFolder) {
    const std::string good = "good";
    {
        TempFolder folder;
        CaseRun run = runCase(folder, good);
        EXPECT_EQ(run.fetched, 1);
        EXPECT_EQ(run.worker, 1u) << run.status;
        EXPECT_EQ(run.recorded, 10006);
        EXPECT_EQ(readWholeFile(folder.file("Data\\table.dat")).size(), 300000u);
        EXPECT_EQ(readWholeFile(folder.file("Maps\\region.map")).size(), 35000u);
        EXPECT_FALSE(exists(folder.file("update.idx")));
    }
    for (const char* spoiled : {"flipped-manifest", "flipped-index", "flipped-signature", "wrong-key", "no-index"}) {
        TempFolder folder;
        CaseRun run = runCase(folder, spoiled);
        EXPECT_EQ(run.fetched, 0) << spoiled;
        EXPECT_EQ(gState.versionSteps[0].version, 0) << spoiled;  // nothing of the manifest was taken
        EXPECT_EQ(run.recorded, 10005) << spoiled;
        EXPECT_EQ(readWholeFile(folder.file("Data\\table.dat")), "old table") << spoiled;
    }
    const struct {
        const char* name;
        const char* failedFile;
    } kBadFiles[] = {{"flipped-file", "Data/table.dat"}, {"unlisted", "extra.bin"}};
    for (const auto& c : kBadFiles) {
        TempFolder folder;
        CaseRun run = runCase(folder, c.name);
        EXPECT_EQ(run.fetched, 1) << c.name;
        EXPECT_EQ(run.worker, 0u) << c.name;
        EXPECT_EQ(run.status, std::string("Downloading failed - verify (") + c.failedFile + ")") << c.name;
        EXPECT_EQ(gState.buttonState[0], 3) << c.name;
        EXPECT_EQ(run.recorded, 10005) << c.name;
        if (std::string(c.name) == "flipped-file") {
            EXPECT_EQ(readWholeFile(folder.file("Data\\table.dat")), "old table");
            EXPECT_FALSE(exists(folder.file("Data\\table.dat.download")));
        }
    }
}

// A cache or CDN edge can serve the manifest of one moment of a release and the index of another: the
// pair that does not match is fetched once more after a short pause, and the release then applies.
// Here the served manifest is an older one until the launcher has asked for the index.
struct LaggingCache {
    std::string manifestPath;
    std::string current;
    std::string logPath;
    size_t indexRequestsBefore;
    bool caughtUp = false;
};

size_t indexRequests(const std::string& logPath) {
    std::string log = readWholeFile(logPath);
    size_t count = 0;
    for (size_t at = log.find("verify/cache-lag/PatchIndex.txt"); at != std::string::npos;
         at = log.find("verify/cache-lag/PatchIndex.txt", at + 1))
        ++count;
    return count;
}

unsigned __stdcall catchUpAfterTheIndexRequest(void* context) {
    LaggingCache* cache = static_cast<LaggingCache*>(context);
    for (int wait = 0; wait < 300 && indexRequests(cache->logPath) == cache->indexRequestsBefore; ++wait) Sleep(10);
    writeWholeFile(cache->manifestPath, cache->current);
    cache->caughtUp = true;
    return 0;
}

TEST(WorkerVerify, AManifestAndIndexOfTwoMomentsAreFetchedOnceMoreBeforeTheyCountAsRefused) {
    const std::string caseDir = std::string(VYR_TEST_WWW_DIR) + "/Setup/live/StandaloneWindows64/verify/cache-lag/";
    LaggingCache cache;
    cache.manifestPath = caseDir + "LauncherPatchInfo.txt";
    cache.current = readWholeFile(cache.manifestPath);
    ASSERT_FALSE(cache.current.empty());
    cache.logPath = std::string(VYR_TEST_WWW_DIR) + "/../patch_server.log";
    cache.indexRequestsBefore = indexRequests(cache.logPath);
    writeWholeFile(cache.manifestPath, "[INSTALLER]\n1.0.0.0\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n10005 Data/table.dat\n");
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, catchUpAfterTheIndexRequest, &cache, 0, nullptr));
    ASSERT_NE(thread, nullptr);
    TempFolder folder;
    CaseRun run = runCase(folder, "cache-lag");
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    writeWholeFile(cache.manifestPath, cache.current);
    EXPECT_TRUE(cache.caughtUp);
    EXPECT_GT(indexRequests(cache.logPath), cache.indexRequestsBefore + 1);
    EXPECT_EQ(run.fetched, 1);
    EXPECT_EQ(run.worker, 1u) << run.status;
    EXPECT_EQ(run.recorded, 10006);
    EXPECT_EQ(readWholeFile(folder.file("Data\\table.dat")).size(), 300000u);
}

}  // namespace
