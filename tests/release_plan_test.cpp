// The release planner's refusals on real build folders: names the launcher keeps for itself, links,
// case clashes and file/folder changes with empty folders among them; and what an acceptable pair of
// builds ships, creates and deletes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "publish/release_plan.h"

namespace fs = std::filesystem;

namespace {

// A build written from a list: "name" is a file holding its own name, "name/" an empty folder.
class Builds : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vyr-plan-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        base_ = pattern;
    }
    void TearDown() override { fs::remove_all(base_); }

    std::string build(const std::string& name, const std::vector<std::string>& entries) {
        std::string root = base_ + "/" + name;
        fs::create_directories(root);
        for (const std::string& entry : entries) {
            fs::path path = fs::path(root) / entry;
            if (entry.back() == '/') {
                fs::create_directories(path);
                continue;
            }
            fs::create_directories(path.parent_path());
            std::ofstream(path, std::ios::binary) << entry;
        }
        return root;
    }

    // The problems of releasing `from` -> `to`, joined; empty when the release is accepted.
    std::string problemsOf(const std::vector<std::string>& from, const std::vector<std::string>& to,
                           ReleasePlan* plan = nullptr) {
        BuildTree oldTree, newTree;
        std::vector<std::string> problems;
        std::string oldRoot = build("old" + std::to_string(++count_), from);
        std::string newRoot = build("new" + std::to_string(count_), to);
        bool scanned = scanBuild(oldRoot, &oldTree, &problems);
        scanned = scanBuild(newRoot, &newTree, &problems) && scanned;
        ReleasePlan local;
        bool planned = scanned && planRelease(oldTree, newTree, {"Patch10002.zip"}, plan ? plan : &local, &problems);
        std::string joined;
        for (const std::string& problem : problems) joined += problem + "\n";
        EXPECT_EQ(planned, problems.empty()) << joined;
        return joined;
    }

    std::string base_;
    int count_ = 0;
};

TEST_F(Builds, AcceptedReleaseShipsChangesCreatesNewEmptyFoldersAndDeletesRemovedFiles) {
    ReleasePlan plan;
    EXPECT_EQ(problemsOf({"Data/a.txt", "gone.dat", "Old Empty/", "Sub/config", "keep/"},
                         {"Data/a.txt", "Data/new.txt", "Old Empty/", "New Empty/", "Sub/config", "keep/now.txt"},
                         &plan),
              "");
    EXPECT_EQ(plan.shipped, (std::vector<std::string>{"Data/new.txt", "keep/now.txt"}));
    EXPECT_EQ(plan.newFolders, (std::vector<std::string>{"New Empty/"}));
    EXPECT_EQ(plan.deleted, (std::vector<std::string>{"gone.dat"}));
}

TEST_F(Builds, NamesTheLauncherAndUpdaterKeepForThemselvesAreRefusedByName) {
    const char* const own[] = {"config", "CONFIG.TMP", "update.dat", "Update.idx", "VYRLauncher.exe", "Updater.exe",
                               "VYRLauncher.old.exe", "VYRLauncher.download.exe", "NorvaneSetup.download.exe",
                               "PatchIndex.download.txt", "Maps/big.map.download", "Maps/big.map.DOWNLOAD.validator",
                               "Deep/er/table.dat.vyr-part", "Verify.DAT", "verify.tmp",
                               "Bin/engine.dll.VYR-DELTA", "update.dlt", "Update.DLM"};
    for (const char* name : own) {
        SCOPED_TRACE(name);
        EXPECT_NE(problemsOf({"game.dat"}, {"game.dat", name}).find(name), std::string::npos);
        // In the old build too: the delete list would otherwise retire the launcher's file.
        EXPECT_NE(problemsOf({"game.dat", name}, {"game.dat"}).find(name), std::string::npos);
    }
}

TEST_F(Builds, SymbolicLinksAreRefusedAndNeverFollowed) {
    std::string outside = build("outside", {"secret.txt"});
    std::string linked = build("linked", {"game.dat"});
    ASSERT_EQ(symlink(outside.c_str(), (linked + "/Data").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/secret.txt").c_str(), (linked + "/file.txt").c_str()), 0);
    BuildTree tree;
    std::vector<std::string> problems;
    EXPECT_FALSE(scanBuild(linked, &tree, &problems));
    ASSERT_EQ(problems.size(), 2u);
    for (const std::string& problem : problems) EXPECT_NE(problem.find("symbolic link"), std::string::npos);
    EXPECT_EQ(tree.files, (std::vector<std::string>{"game.dat"}));
}

TEST_F(Builds, FilesAndFoldersOfOneNameOnWindowsAreRefusedEmptyFoldersIncluded) {
    struct Case {
        std::vector<std::string> from, to;
        const char* named;
    };
    const Case cases[] = {
        {{"a.dat"}, {"a.dat", "File.txt", "file.txt"}, "file.txt"},
        {{"a.dat"}, {"a.dat", "maps", "Maps/"}, "maps"},             // beside an empty folder
        {{"a.dat"}, {"a.dat", "maps", "Maps/x/"}, "maps"},           // above an empty folder
        {{"Xdir/"}, {"Xdir"}, "Xdir"},                                // an empty folder becomes a file
        {{"Xdir/"}, {"xdir"}, "xdir"},                                // ... of another case
        {{"thing"}, {"thing/"}, "thing"},                             // a file becomes an empty folder
        {{"thing"}, {"thing/inside.dat"}, "thing"},                   // ... or a full one
        {{"Box/in.dat"}, {"box"}, "box"},                             // a folder becomes a file
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.named);
        std::string problems = problemsOf(c.from, c.to);
        EXPECT_NE(problems.find(std::string(c.named) + ":"), std::string::npos) << problems;
    }
}

// Windows folds every letter, not only ASCII: a clash of "Ärger.dat" and "ärger.dat" would ship both
// and let the later win; a folder "Äpfel" becoming a file "äpfel" would fail every unpacking for good.
// A removed file beyond ASCII is deleted by name like any other; a name that is not UTF-8 cannot be.
TEST_F(Builds, NamesBeyondAsciiClashAsWindowsFoldsThemAndCanBeDeleted) {
    struct Case {
        std::vector<std::string> from, to;
        const char* named;
        const char* why;
    };
    const Case cases[] = {
        {{"a.dat"}, {"a.dat", "\u00c4rger.dat", "\u00e4rger.dat"}, "\u00e4rger.dat", "differs from"},
        {{"a.dat"}, {"a.dat", "\u041a\u0430\u0440\u0442\u0430.dat", "\u043a\u0430\u0440\u0442\u0430.dat"},
         "\u043a\u0430\u0440\u0442\u0430.dat", "differs from"},
        {{"a.dat"}, {"a.dat", "\u00c9t\u00e9/x.dat", "\u00e9T\u00c9"}, "\u00e9T\u00c9", "a file and"},
        {{"\u00c4pfel/x.dat"}, {"\u00e4pfel"}, "\u00e4pfel", "a folder in"},
        {{"\u039f\u03bb\u03bf"}, {"\u03bf\u03bb\u03bf/"}, "\u039f\u03bb\u03bf", "a file in"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.named);
        std::string problems = problemsOf(c.from, c.to);
        EXPECT_NE(problems.find(std::string(c.named) + ": " + c.why), std::string::npos) << problems;
    }
    // Letters that only look alike or differ by an accent are two files; one renamed only in case is
    // shipped and never deleted.
    ReleasePlan plan;
    EXPECT_EQ(problemsOf({"gone \u4e16\u754c.dat", "Data/m\u00fcll.txt", "ok.dat"},
                         {"ok.dat", "Data/M\u00dcLL.txt", "Cafe.dat", "Caf\u00e9.dat", "Apple.dat", "\u0410pple.dat"},
                         &plan),
              "");
    EXPECT_EQ(plan.shipped, (std::vector<std::string>{"Apple.dat", "Cafe.dat", "Caf\u00e9.dat", "Data/M\u00dcLL.txt",
                                                      "\u0410pple.dat"}));
    EXPECT_EQ(plan.deleted, (std::vector<std::string>{"gone \u4e16\u754c.dat"}));
    std::string refused = problemsOf({"ok.dat", "old\xff.dat"}, {"ok.dat"});
    EXPECT_NE(refused.find("old\xff.dat: the delete list cannot name"), std::string::npos) << refused;
}

}  // namespace
