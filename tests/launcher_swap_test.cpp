// The hand-over of the launcher's backup between Updater and the new launcher's start-up.
#include <gtest/gtest.h>
#include <windows.h>

#include "support/temp_folder.h"
#include "update/launcher_swap.h"
#include "updater/updater_texts.h"

// While Updater watches the new launcher start, the launcher's tidying must not take the backup that
// Updater would put back if the new launcher fails after its start-up began; once Updater lets go,
// a leftover backup and download are tidied.
TEST(LauncherSwap, StartUpLeavesTheBackupUpdaterHoldsAndTidiesItOtherwise) {
    TempFolder folder;
    std::string backup = folder.file(updater_file::kLauncherBackup);
    std::string download = folder.file(updater_file::kLauncherDownload);
    writeWholeFile(backup, "old launcher");
    writeWholeFile(download, "part");
    // A payload left by a killed Updater, with the resume files a transfer names beside it.
    const char* const deltaLeftovers[] = {updater_file::kLauncherDelta, updater_file::kLauncherDeltaDownload,
                                          updater_file::kLauncherDeltaValidator};
    for (const char* name : deltaLeftovers) writeWholeFile(folder.file(name), "payload");

    HANDLE held = holdAgainstDeletion(backup.c_str());
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    removeLauncherSwapLeftovers(folder.path().c_str());
    CloseHandle(held);
    EXPECT_EQ(readWholeFile(backup), "old launcher");
    EXPECT_EQ(GetFileAttributesA(download.c_str()), INVALID_FILE_ATTRIBUTES);
    for (const char* name : deltaLeftovers)
        EXPECT_EQ(GetFileAttributesA(folder.file(name).c_str()), INVALID_FILE_ATTRIBUTES) << name;

    removeLauncherSwapLeftovers(folder.path().c_str());
    EXPECT_EQ(GetFileAttributesA(backup.c_str()), INVALID_FILE_ATTRIBUTES);
}
