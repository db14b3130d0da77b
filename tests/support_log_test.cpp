// The support log's writer on a real file system: rotation at the bound, writers in two processes
// appending at once across a rotation, and the fallback folder when the game folder takes no file.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "logging/support_log.h"
#include "support/temp_folder.h"

namespace {

const char kAppendMode[] = "--append-lines";
const int kLinesPerWriter = 1500;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

long long sizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// One whole line of exactly `bytes` bytes (at least 64), as an earlier run would have left it.
std::string oldLine(size_t bytes) {
    std::string line = "2026-01-01 00:00:00.000 VYRLauncher[1] step message=\"old\"";
    return line + std::string(bytes - 1 - line.size(), '.') + "\n";
}

// Appends whole old lines until the file holds exactly `total` bytes.
void fillWithOldLines(const std::string& path, long long total) {
    std::string text = readWholeFile(path);
    while (static_cast<long long>(text.size()) + 400 <= total) text += oldLine(200);
    text += oldLine(static_cast<size_t>(total - static_cast<long long>(text.size())));
    writeWholeFile(path, text);
}

void appendNumberedLines(const char* program, int count) {
    char message[256];
    for (int i = 0; i < count; ++i) {
        LogEvent event = logEvent(kLogFile);
        event.url = "https://user:pw@127.0.0.1/Player/Patch1.zip?tick=1";
        event.bytes = i;
        snprintf(message, sizeof message, "%s line %d %s", program, i, std::string(150, 'w').c_str());
        event.message = message;
        writeLogEvent(event);
    }
}

HANDLE startWriter(const std::string& folder, const char* program) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string commandLine = std::string("\"") + self + "\" " + kAppendMode + " \"" + folder + "\" " + program;
    std::vector<char> text(commandLine.begin(), commandLine.end());
    text.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

TEST(SupportLog, ALineThatWouldPassTheBoundMovesTheFileToDotOne) {
    TempFolder folder;
    ASSERT_TRUE(openSupportLogIn("VYRLauncher", folder.path().c_str(), nullptr));
    std::string log = folder.file(own_file::kSupportLog), rotated = folder.file(own_file::kSupportLogRotated);
    writeWholeFile(rotated, "a previous .1, replaced by the rotation\n");
    fillWithOldLines(log, kSupportLogLimit - 1000);

    appendNumberedLines("first", 1);  // fits under the bound
    ASSERT_GT(sizeOf(log), kSupportLogLimit - 1000);
    fillWithOldLines(log, kSupportLogLimit - 50);
    long long beforeRotation = sizeOf(log);
    ASSERT_EQ(beforeRotation, kSupportLogLimit - 50);
    appendNumberedLines("second", 2);  // would pass it

    EXPECT_EQ(sizeOf(rotated), beforeRotation);
    std::string kept = readWholeFile(rotated);
    EXPECT_EQ(kept.find("a previous"), std::string::npos);
    EXPECT_NE(kept.find("first line 0"), std::string::npos);
    EXPECT_EQ(kept.back(), '\n');
    std::vector<std::string> fresh = linesOf(readWholeFile(log));
    ASSERT_EQ(fresh.size(), 2u);
    EXPECT_NE(fresh[0].find("VYRLauncher["), std::string::npos);
    EXPECT_NE(fresh[0].find("second line 0"), std::string::npos);
    EXPECT_NE(fresh[1].find("second line 1"), std::string::npos);
}

TEST(SupportLog, TwoProcessesAppendingAcrossARotationLeaveEveryLineWhole) {
    TempFolder folder;
    std::string log = folder.file(own_file::kSupportLog), rotated = folder.file(own_file::kSupportLogRotated);
    // Close enough to the bound that the writers cross it about half way, and only once.
    fillWithOldLines(log, kSupportLogLimit - 200 * kLinesPerWriter);
    size_t oldLines = linesOf(readWholeFile(log)).size();

    HANDLE writers[] = {startWriter(folder.path(), "alpha"), startWriter(folder.path(), "beta")};
    ASSERT_NE(writers[0], nullptr);
    ASSERT_NE(writers[1], nullptr);
    ASSERT_EQ(WaitForMultipleObjects(2, writers, TRUE, 120000), WAIT_OBJECT_0);
    for (HANDLE writer : writers) {
        DWORD code = 1;
        GetExitCodeProcess(writer, &code);
        EXPECT_EQ(code, 0u);
        CloseHandle(writer);
    }

    std::string text = readWholeFile(rotated) + readWholeFile(log);
    ASSERT_FALSE(readWholeFile(rotated).empty()) << "no rotation happened";
    EXPECT_LE(sizeOf(rotated), kSupportLogLimit);
    EXPECT_LE(sizeOf(log), kSupportLogLimit);
    EXPECT_EQ(text.back(), '\n');
    std::set<std::string> seen;
    size_t old = 0;
    for (const std::string& line : linesOf(text)) {
        if (line.find("message=\"old\"") != std::string::npos) {
            ++old;
            continue;
        }
        size_t at = line.find("message=\"");
        ASSERT_NE(at, std::string::npos) << line;
        std::string end = " " + std::string(150, 'w') + "\"";
        ASSERT_TRUE(line.size() > end.size() && line.compare(line.size() - end.size(), end.size(), end) == 0) << line;
        std::string id = line.substr(at + 9, line.find(' ', line.find("line ", at) + 5) - at - 9);
        EXPECT_TRUE(seen.insert(id).second) << "twice: " << id;
    }
    EXPECT_EQ(old, oldLines);
    EXPECT_EQ(seen.size(), 2u * kLinesPerWriter);
}

TEST(SupportLog, AGameFolderThatTakesNoFileSendsTheLogToTheFallback) {
    TempFolder folder;
    // Wine lets root write into a read-only folder, so a folder that does not exist stands in for one
    // the player may not write to: both refuse the file where the launcher lies.
    std::string unwritable = folder.file("missing\\game"), fallback = folder.file("fallback");
    CreateDirectoryA(fallback.c_str(), nullptr);
    ASSERT_TRUE(openSupportLogIn("Updater", unwritable.c_str(), fallback.c_str()));
    char shown[kSupportLogPathSize];
    ASSERT_TRUE(supportLogFolder(shown, sizeof shown));
    EXPECT_EQ(std::string(shown), fallback);
    appendNumberedLines("fallen back", 1);
    EXPECT_NE(readWholeFile(fallback + "\\" + own_file::kSupportLog).find("Updater["), std::string::npos);

    EXPECT_FALSE(openSupportLogIn("Updater", unwritable.c_str(), unwritable.c_str()));
    EXPECT_FALSE(supportLogFolder(shown, sizeof shown));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], kAppendMode) == 0) {
        if (!openSupportLogIn(argv[3], argv[2], nullptr)) return 2;
        appendNumberedLines(argv[3], kLinesPerWriter);
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
