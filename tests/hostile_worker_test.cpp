// A hostile manifest driven through the real update worker: every file name that could leave the
// launcher's folder stops the worker with a report before any file is opened or requested.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/launcher_state.h"
#include "support/temp_folder.h"
#include "formats/manifest_text.h"
#include "update/update_worker.h"

namespace {

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void readManifestIntoState(const std::string& manifest, int localGameVersion) {
    FILE* file = tmpfile();
    ASSERT_NE(file, nullptr);
    fwrite(manifest.data(), 1, manifest.size(), file);
    rewind(file);
    ManifestTargets targets = {gState.latestInstallerVersion, gState.latestLauncherVersion, &gState.serverGameVersion,
                               gState.versionSteps, &gState.totalFileCount, &gState.stepTableCut, nullptr, nullptr};
    readManifestFile(file, targets, localGameVersion);
    fclose(file);
}

TEST(HostileWorker, ManifestNamesLeavingTheFolderStopTheWorkerWithAReport) {
    const std::vector<std::string> names = {
        "../escape.zip",          "..\\escape.dll",         "sub/../../escape.dll",      "C:\\vyr_hostile_escape.dll",
        "C:vyr_hostile_escape.dll", "/vyr_hostile_escape.dll", "\\\\127.0.0.1\\c$\\escape.dll", "Norvane.exe:stream",
        "sub/.../../escape.dll",   "nul.zip",                "COM\xb9.zip",               "lpt\xb2.dll",
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        TempFolder outer;
        std::string game = outer.file("game");
        CreateDirectoryA(game.c_str(), nullptr);
        SetCurrentDirectoryA(game.c_str());
        snprintf(gState.moduleDirectory, sizeof gState.moduleDirectory, "%s", game.c_str());
        gState.buttonState[0] = 0;
        gState.localGameVersion = 10000;
        readManifestIntoState("[PLAYER]\n10001 " + name + "\n10002 later.zip\n", 10000);
        ASSERT_EQ(gState.versionSteps[0].fileCount, 1);

        EXPECT_EQ(updateWorker(nullptr), 0u);
        EXPECT_EQ(std::string(gState.statusText), "Creating file failed. (" + name + ")");
        EXPECT_EQ(gState.buttonState[0], 3);
        EXPECT_EQ(gState.localGameVersion, 10000);
        EXPECT_FALSE(exists(outer.file("escape.zip")));
        EXPECT_FALSE(exists(outer.file("escape.dll")));
        EXPECT_FALSE(exists("C:\\vyr_hostile_escape.dll"));
        EXPECT_FALSE(exists(outer.file("escape.zip.download")));
        SetCurrentDirectoryA(outer.path().c_str());
        TempFolder::removeTree(game);
    }
}

}  // namespace
