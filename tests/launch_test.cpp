// Starting the game for real: a stub game records what it received, real failures pick their message.
#include <gtest/gtest.h>

#include <string>

#include "app/launcher_state.h"
#include "launch/game_launch.h"
#include "settings/launcher_settings.h"
#include "support/dialog_watcher.h"
#include "support/temp_folder.h"

namespace {

class GameLaunch : public ::testing::Test {
protected:
    void SetUp() override {
        snprintf(gState.moduleDirectory, sizeof gState.moduleDirectory, "%s", folder.path().c_str());
        memset(&gState.gameLaunchInfo, 0, sizeof gState.gameLaunchInfo);
        gState.gameLaunchInfo.cbSize = sizeof gState.gameLaunchInfo;
        gState.mainWindow = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                            nullptr, nullptr);
    }
    void TearDown() override { DestroyWindow(gState.mainWindow); }

    std::string gamePath() const { return folder.file("Norvane.exe"); }
    void installStubGame() const { ASSERT_TRUE(CopyFileA(VYR_STUB_RECORDER, gamePath().c_str(), FALSE)); }
    std::string recordedCommandLine() const {
        std::string record = gamePath() + ".args.txt";
        EXPECT_TRUE(waitForFile(record, 10000)) << "the stub game did not run";
        return readWholeFile(record);
    }

    TempFolder folder;
};

// The shell hands the parameters over after the quoted program path.
std::string parametersOf(const std::string& commandLine) {
    size_t end = commandLine.find(".exe\"");
    if (end == std::string::npos) end = commandLine.find(".exe");
    std::string rest = commandLine.substr(commandLine.find(".exe") + (commandLine[end + 4] == '"' ? 5 : 4));
    return rest.empty() || rest[0] != ' ' ? rest : rest.substr(1);
}

}  // namespace

TEST_F(GameLaunch, StartsTheGameWithTheCommandLineUnchanged) {
    installStubGame();
    DialogWatcher watcher;
    EXPECT_EQ(launchGame("-server th %d %s 100% \"two words\""), 1);
    EXPECT_EQ(parametersOf(recordedCommandLine()), "-server th %d %s 100% \"two words\"");
    EXPECT_TRUE(watcher.seen().empty());
}

TEST_F(GameLaunch, AnEmptyCommandLineGivesNoParameters) {
    installStubGame();
    EXPECT_EQ(launchGame(""), 1);
    EXPECT_EQ(parametersOf(recordedCommandLine()), "");
}

TEST_F(GameLaunch, AMissingGameExplainsItselfOwnedByTheLauncherWindow) {
    DialogWatcher watcher;
    EXPECT_EQ(launchGame("x"), 0);
    std::vector<SeenDialog> seen = watcher.seen();
    ASSERT_FALSE(seen.empty());
    // The shell may have shown a dialog of its own first; ours is the last one.
    EXPECT_EQ(seen.back().title, "Error");
    EXPECT_EQ(seen.back().text, "Executable file not found. Please reinstall the program.");
    EXPECT_EQ(seen.back().owner, gState.mainWindow);
}

TEST_F(GameLaunch, AFileThatIsNotAProgramIsCalledCorrupted) {
    writeWholeFile(gamePath(), "this is not a program\r\n");
    DialogWatcher watcher;
    EXPECT_EQ(launchGame(""), 0);
    std::vector<SeenDialog> seen = watcher.seen();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back().text,
              "The executable file or DirectX is corrupted. Please run a disk check and reinstall the program.");
}

TEST_F(GameLaunch, AGamePathTooLongForItsBufferIsRefusedNotCut) {
    installStubGame();
    // 250 characters of folder: the path with "\Norvane.exe" no longer fits 256 bytes.
    std::string longFolder = folder.path() + "\\" + std::string(250 - folder.path().size() - 1, 'd');
    snprintf(gState.moduleDirectory, sizeof gState.moduleDirectory, "%s", longFolder.c_str());
    DialogWatcher watcher;
    EXPECT_EQ(launchGame(""), 0);
    std::vector<SeenDialog> seen = watcher.seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "Failed to run due to error code: 206. Please contact customer support.");
    EXPECT_EQ(seen[0].owner, nullptr);
    Sleep(500);
    EXPECT_EQ(readWholeFile(gamePath() + ".args.txt"), "") << "a cut path must not start anything";
}
