// readConfig and writeConfig on real files in a fresh current directory: round trips, every
// failure with the message box it shows, and the replace-in-one-step write that keeps old content.
#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <cstring>
#include <string>

#include "app/launcher_state.h"
#include "cipher/aes_cipher.h"
#include "cipher/config_transform.h"
#include "settings/config_file.h"
#include "settings/launcher_settings.h"
#include "support/dialog_watcher.h"
#include "support/temp_folder.h"

namespace {

std::string encipheredText(const std::string& text) {
    char buffer[1024] = {};
    snprintf(buffer, sizeof buffer, "%s", text.c_str());
    int32_t length = encipherConfig(buffer, sizeof buffer);
    return std::string(buffer, length > 0 ? length : 0);
}

std::string decipheredFile(const std::string& path) {
    std::string content = readWholeFile(path);
    int32_t length = decipherConfig(reinterpret_cast<unsigned char*>(&content[0]), static_cast<uint32_t>(content.size()));
    return content.substr(0, length);
}

bool exists(const char* name) { return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; }

class ConfigFile : public ::testing::Test {
protected:
    void SetUp() override {
        owner = CreateWindowExA(0, "STATIC", "config test owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                nullptr);
        gState.mainWindow = owner;
    }
    void TearDown() override {
        gState.mainWindow = nullptr;
        DestroyWindow(owner);
    }
    TempFolder folder;
    HWND owner = nullptr;
};

TEST_F(ConfigFile, MissingFileIsReportedQuietlyAndKeepsTheVersion) {
    DialogWatcher watcher;
    gState.localGameVersion = 77;
    EXPECT_EQ(readConfig(), 0);
    EXPECT_EQ(gState.localGameVersion, 77);
    EXPECT_TRUE(watcher.seen().empty());
}

TEST_F(ConfigFile, VersionOneIsA38ByteFileThatReadsBack) {
    gState.localGameVersion = 1;
    ASSERT_EQ(writeConfig(), 1);
    EXPECT_EQ(readWholeFile("config").size(), 38u);
    EXPECT_EQ(decipheredFile("config"), "[Version] 1\n");
    EXPECT_FALSE(exists("config.tmp"));
    gState.localGameVersion = 0;
    EXPECT_EQ(readConfig(), 1);
    EXPECT_EQ(gState.localGameVersion, 1);
}

// A shorter content replaces a longer one completely: no tail of the old file survives.
TEST_F(ConfigFile, EveryVersionRoundTripsAndReplacesTheWholeFile) {
    const struct {
        int version;
        size_t fileSize;
    } cases[] = {{100000, 54}, {10005, 38}, {-10005, 54}, {INT_MAX, 54}, {INT_MIN, 54}, {7, 38}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        gState.localGameVersion = c.version;
        ASSERT_EQ(writeConfig(), 1);
        EXPECT_EQ(readWholeFile("config").size(), c.fileSize);
        gState.localGameVersion = 12345;
        EXPECT_EQ(readConfig(), 1);
        EXPECT_EQ(gState.localGameVersion, c.version);
    }
}

TEST_F(ConfigFile, AcceptsLenientTextsAndTheOpensslFixture) {
    const struct {
        const char* text;
        int version;
    } cases[] = {{"[VERSION] 5\n", 5}, {"[version]\t 12abc trailing\n", 12}, {"[Version] -4", -4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        writeWholeFile("config", encipheredText(c.text));
        EXPECT_EQ(readConfig(), 1);
        EXPECT_EQ(gState.localGameVersion, c.version);
    }
    ASSERT_TRUE(CopyFileA(VYR_TEST_DATA_DIR "/config_fixture_10005.bin", "config", FALSE));
    EXPECT_EQ(readConfig(), 1);
    EXPECT_EQ(gState.localGameVersion, 10005);
}

std::string contentUnderKey(const char* keyText, const std::string& text) {
    ByteArray message;
    encryptBytes(ByteArray(keyText, keyText + strlen(keyText)), ByteArray(text.begin(), text.end()), message);
    return std::string(message.begin(), message.end());
}

// Each unusable content shows one box on the main window and leaves the version at 0.
TEST_F(ConfigFile, UnusableContentShowsItsMessageOnTheMainWindow) {
    const std::string incorrect = settingText(SettingText::MsgConfigIncorrect);
    const std::string notFound = settingText(SettingText::MsgVersionNotFound);
    const struct {
        const char* name;
        std::string content;
        const std::string& message;
    } cases[] = {
        {"empty file", "", incorrect},
        {"shorter than the header", std::string(21, 'A'), incorrect},
        {"another key", contentUnderKey("k3y-0f-0th3r", "[Version] 10005\n"), incorrect},
        {"wrong key word", encipheredText("Version 5\n"), incorrect},
        {"plain text file", "[Version] 10005\n[Version] 10005\n[Version] 10005\n", incorrect},
        {"no value", encipheredText("[Version]\n"), notFound},
        {"zero", encipheredText("[Version] 0\n"), notFound},
        {"letters", encipheredText("[Version] abc\n"), notFound},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeWholeFile("config", c.content);
        gState.localGameVersion = 99;
        std::vector<SeenDialog> seen;
        {
            DialogWatcher watcher;
            EXPECT_EQ(readConfig(), 0);
            seen = watcher.seen();
        }
        EXPECT_EQ(gState.localGameVersion, 0);
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].text, c.message);
        EXPECT_EQ(seen[0].title, "Error");
        EXPECT_EQ(seen[0].owner, owner);
    }
}

void expectCantOpenBox(const std::vector<SeenDialog>& seen) {
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "Can't open Config");
    EXPECT_EQ(seen[0].title, "Error");
    EXPECT_EQ(seen[0].owner, nullptr);
}

// The temporary file cannot be made: the old content must survive whole.
TEST_F(ConfigFile, FailedTemporaryWriteKeepsTheOldContent) {
    gState.localGameVersion = 10005;
    ASSERT_EQ(writeConfig(), 1);
    std::string before = readWholeFile("config");
    ASSERT_TRUE(CreateDirectoryA("config.tmp", nullptr));
    gState.localGameVersion = 20001;
    std::vector<SeenDialog> seen;
    {
        DialogWatcher watcher;
        EXPECT_EQ(writeConfig(), 0);
        seen = watcher.seen();
    }
    expectCantOpenBox(seen);
    EXPECT_EQ(readWholeFile("config"), before);
    EXPECT_EQ(gState.localGameVersion, 20001);
}

// The replace step fails ("config" is a folder): reported, and no temporary file is left.
TEST_F(ConfigFile, FailedReplaceIsReportedAndCleansUp) {
    ASSERT_TRUE(CreateDirectoryA("config", nullptr));
    gState.localGameVersion = 3;
    std::vector<SeenDialog> seen;
    {
        DialogWatcher watcher;
        EXPECT_EQ(writeConfig(), 0);
        seen = watcher.seen();
    }
    expectCantOpenBox(seen);
    EXPECT_FALSE(exists("config.tmp"));
    DWORD attributes = GetFileAttributesA("config");
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
}

// A leftover temporary file from an interrupted run does not get in the way.
TEST_F(ConfigFile, StaleTemporaryFileIsOverwritten) {
    writeWholeFile("config.tmp", std::string(100, 'z'));
    gState.localGameVersion = 42;
    ASSERT_EQ(writeConfig(), 1);
    EXPECT_FALSE(exists("config.tmp"));
    EXPECT_EQ(decipheredFile("config"), "[Version] 42\n");
}

}  // namespace
