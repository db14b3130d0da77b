// The delete list: named files go, the list ends at a short line, unsafe or overlong names are
// skipped, and the list itself is removed.
#include <gtest/gtest.h>

#include <string>

#include "app/launcher_state.h"
#include "support/temp_folder.h"
#include "update/delete_list.h"

namespace {

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class DeleteList : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDirectoryA(root.file("game").c_str(), nullptr);
        snprintf(gState.moduleDirectory, sizeof gState.moduleDirectory, "%s", root.file("game").c_str());
    }
    std::string game(const std::string& name) { return root.file("game\\" + name); }
    TempFolder root;
};

TEST_F(DeleteList, DeletesListedFilesUpToTheEndLineAndRemovesTheList) {
    CreateDirectoryA(game("Data").c_str(), nullptr);
    for (const char* name : {"old1.dat", "Data\\old2.dat", "keep.dat", "after.dat", "Norvane.exe"})
        writeWholeFile(game(name), "x");
    SetFileAttributesA(game("Norvane.exe").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    writeWholeFile(game("delete.txt"), "old1.dat\nData/old2.dat\nNorvane.exe\nmissing.dat\nend\nafter.dat\n");
    applyDeleteList();
    EXPECT_FALSE(exists(game("old1.dat")));
    EXPECT_FALSE(exists(game("Data\\old2.dat")));
    EXPECT_FALSE(exists(game("Norvane.exe")));
    EXPECT_TRUE(exists(game("keep.dat")));
    EXPECT_TRUE(exists(game("after.dat")));  // below the short line that ends the list
    EXPECT_FALSE(exists(game("delete.txt")));
}

TEST_F(DeleteList, NamesLeavingTheFolderAreSkipped) {
    writeWholeFile(root.file("outside.dat"), "x");
    writeWholeFile(game("inside.dat"), "x");
    writeWholeFile(game("delete.txt"), "../outside.dat\n..\\outside.dat\n" + root.file("outside.dat") +
                                           "\ninside.dat\n");
    applyDeleteList();
    EXPECT_TRUE(exists(root.file("outside.dat")));
    EXPECT_FALSE(exists(game("inside.dat")));
}

TEST_F(DeleteList, LastLineWithoutLineFeedAndCarriageReturnsCount) {
    writeWholeFile(game("crlf.dat"), "x");
    writeWholeFile(game("last.dat"), "x");
    writeWholeFile(game("delete.txt"), "crlf.dat\r\nlast.dat");
    applyDeleteList();
    EXPECT_FALSE(exists(game("crlf.dat")));
    EXPECT_FALSE(exists(game("last.dat")));
}

// A line too long for one read is skipped whole; its tail is not taken for a name of its own.
TEST_F(DeleteList, OverlongLineIsSkippedWhole) {
    const std::string tail = "tail.dat";
    writeWholeFile(game(tail), "x");
    writeWholeFile(game("next.dat"), "x");
    writeWholeFile(game("delete.txt"), std::string(254, 'p') + tail + "\nnext.dat\n");
    applyDeleteList();
    EXPECT_TRUE(exists(game(tail)));
    EXPECT_FALSE(exists(game("next.dat")));
}

TEST_F(DeleteList, NoListDoesNothing) {
    writeWholeFile(game("file.dat"), "x");
    applyDeleteList();
    EXPECT_TRUE(exists(game("file.dat")));
}

}  // namespace
