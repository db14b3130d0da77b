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

// vyr-publish writes names beyond ASCII as UTF-8; read through the ANSI code page they would name
// other files ("Ã„rger.dat" in code page 1252), which must stay. A line that is not UTF-8 was written
// in the code page, as hand-made lists were, and still means that file; the path rule holds for all
// (the "Ärger.dat" beside the game folder stays).
TEST_F(DeleteList, Utf8NamesDeleteTheFilesOfThoseCharacters) {
    const wchar_t* const listed[] = {L"\u00c4rger.dat", L"\u041a\u0430\u0440\u0442\u0430\\\u4e16\u754c.dat",
                                     L"caf\u00e9.dat"};
    const wchar_t* const kept[] = {L"\u00c3\u201erger.dat", L"..\\\u00c4rger.dat"};
    std::wstring folder(root.path().begin(), root.path().end());
    folder += L"\\game\\";
    ASSERT_TRUE(CreateDirectoryW((folder + L"\u041a\u0430\u0440\u0442\u0430").c_str(), nullptr));
    auto make = [&](const wchar_t* name) {
        HANDLE file = CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    };
    for (const wchar_t* name : listed) make(name);
    for (const wchar_t* name : kept) make(name);
    SetFileAttributesW((folder + listed[0]).c_str(), FILE_ATTRIBUTE_READONLY);
    // "caf\xe9" is caf\u00e9 in code page 1252, Wine's default here: not UTF-8, so read as the code page.
    writeWholeFile(game("delete.txt"), "\xc3\x84rger.dat\n\xd0\x9a\xd0\xb0\xd1\x80\xd1\x82\xd0\xb0/\xe4\xb8\x96\xe7\x95\x8c.dat\n"
                                       "caf\xe9.dat\n../\xc3\x84rger.dat\n");
    applyDeleteList();
    auto present = [&](const wchar_t* name) {
        return GetFileAttributesW((folder + name).c_str()) != INVALID_FILE_ATTRIBUTES;
    };
    for (const wchar_t* name : listed) EXPECT_FALSE(present(name)) << "listed name still there";
    for (const wchar_t* name : kept) {
        EXPECT_TRUE(present(name)) << "a name not listed was deleted";
        SetFileAttributesW((folder + name).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW((folder + name).c_str());
    }
    DeleteFileW((folder + listed[1]).c_str());
    RemoveDirectoryW((folder + L"\u041a\u0430\u0440\u0442\u0430").c_str());
    EXPECT_FALSE(exists(game("delete.txt")));
}

TEST_F(DeleteList, NoListDoesNothing) {
    writeWholeFile(game("file.dat"), "x");
    applyDeleteList();
    EXPECT_TRUE(exists(game("file.dat")));
}

}  // namespace
