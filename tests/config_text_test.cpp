// The configuration text: what the writer formats, how leniently a deciphered text is read, and
// files enciphered by openssl (not by our cipher) that must read back.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cipher/config_transform.h"
#include "settings/config_text.h"

namespace {

ConfigTextResult parse(const std::string& text, int32_t& version) {
    return parseConfigText(reinterpret_cast<const unsigned char*>(text.data()), text.size(), version);
}

struct FormatCase {
    int32_t version;
    const char* text;
};

TEST(ConfigText, FormatsTheVersionLine) {
    const FormatCase cases[] = {{1, "[Version] 1\n"},
                                {10005, "[Version] 10005\n"},
                                {-42, "[Version] -42\n"},
                                {0, "[Version] 0\n"},
                                {INT32_MIN, "[Version] -2147483648\n"}};
    for (const FormatCase& c : cases) {
        char out[256];
        memset(out, 0x7f, sizeof out);
        EXPECT_EQ(formatConfigText(out, sizeof out, c.version), static_cast<int>(strlen(c.text)));
        EXPECT_STREQ(out, c.text);
    }
    char small[12];
    EXPECT_EQ(formatConfigText(small, sizeof small, 1), -1);  // 12 characters need 13 bytes
    char exact[13];
    EXPECT_EQ(formatConfigText(exact, sizeof exact, 1), 12);
}

struct ParseCase {
    const char* text;
    ConfigTextResult result;
    int32_t version;  // expected when the key matched
};

TEST(ConfigText, ReadsLeniently) {
    const ParseCase cases[] = {
        {"[Version] 1\n", ConfigTextResult::Usable, 1},
        {"[VERSION] 5\n", ConfigTextResult::Usable, 5},
        {"[version] 5", ConfigTextResult::Usable, 5},
        {"[vErSiOn]\t\t  77\n", ConfigTextResult::Usable, 77},
        {"  \n[Version]\n\n10005\r\n", ConfigTextResult::Usable, 10005},
        {"[Version] 10005 [Other] 3\nmore lines\n", ConfigTextResult::Usable, 10005},
        {"[Version] -3\n", ConfigTextResult::Usable, -3},
        {"[Version] +8\n", ConfigTextResult::Usable, 8},
        {"[Version] 12abc\n", ConfigTextResult::Usable, 12},
        {"[Version] 007\n", ConfigTextResult::Usable, 7},
        {"[Version] 99999999999\n", ConfigTextResult::Usable, INT32_MAX},
        {"[Version] -99999999999\n", ConfigTextResult::Usable, INT32_MIN},
        {"[Version] 0\n", ConfigTextResult::VersionMissing, 0},
        {"[Version] abc12\n", ConfigTextResult::VersionMissing, 0},
        {"[Version] -\n", ConfigTextResult::VersionMissing, 0},
        {"[Version]\n", ConfigTextResult::VersionMissing, 0},
        {"[Version]", ConfigTextResult::VersionMissing, 0},
        {"[Version]5\n", ConfigTextResult::KeyIncorrect, 0},
        {"[Versions] 5\n", ConfigTextResult::KeyIncorrect, 0},
        {"Version 5\n", ConfigTextResult::KeyIncorrect, 0},
        {"[Versio] 5\n", ConfigTextResult::KeyIncorrect, 0},
        {"", ConfigTextResult::KeyIncorrect, 0},
        {" \t\n", ConfigTextResult::KeyIncorrect, 0},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.text);
        int32_t version = 555;
        EXPECT_EQ(parse(c.text, version), c.result);
        if (c.result != ConfigTextResult::KeyIncorrect) {
            EXPECT_EQ(version, c.version);
        }
    }
}

// The deciphered text has no terminator: only the first n bytes may be looked at.
TEST(ConfigText, ReadsOnlyTheGivenLength) {
    const char buffer[] = "[Version] 123";
    int32_t version = 0;
    EXPECT_EQ(parseConfigText(reinterpret_cast<const unsigned char*>(buffer), 11, version), ConfigTextResult::Usable);
    EXPECT_EQ(version, 1);
    EXPECT_EQ(parseConfigText(reinterpret_cast<const unsigned char*>(buffer), 5, version),
              ConfigTextResult::KeyIncorrect);
}

TEST(ConfigText, ZeroByteEndsTheText) {
    const std::string text("[Version] 4\0" "5\n", 14);
    int32_t version = 0;
    EXPECT_EQ(parse(text, version), ConfigTextResult::Usable);
    EXPECT_EQ(version, 4);
}

// Overlong tokens are cut at 255 characters; the rest of such a token is skipped, never stored.
TEST(ConfigText, OverlongTokensAreCut) {
    ConfigTokens tokens;
    std::string longKey(300, 'K');
    std::string text = longKey + " " + std::string(400, '9') + " tail";
    memset(&tokens, 0x55, sizeof tokens);
    scanConfigTokens(reinterpret_cast<const unsigned char*>(text.data()), text.size(), tokens);
    EXPECT_EQ(std::string(tokens.key), std::string(255, 'K'));
    EXPECT_EQ(std::string(tokens.value), std::string(255, '9'));

    int32_t version = 0;
    EXPECT_EQ(parse("[Version] 12" + std::string(300, 'a') + "\n", version), ConfigTextResult::Usable);
    EXPECT_EQ(version, 12);
    EXPECT_EQ(parse("[Version]" + std::string(300, 'x') + " 5\n", version), ConfigTextResult::KeyIncorrect);
    EXPECT_EQ(parse("[Version] " + std::string(300, '7'), version), ConfigTextResult::Usable);
    EXPECT_EQ(version, INT32_MAX);
}

TEST(ConfigText, AbsentTokensAreEmpty) {
    ConfigTokens tokens;
    memset(&tokens, 'z', sizeof tokens);
    scanConfigTokens(reinterpret_cast<const unsigned char*>("only"), 4, tokens);
    EXPECT_STREQ(tokens.key, "only");
    EXPECT_STREQ(tokens.value, "");
    scanConfigTokens(reinterpret_cast<const unsigned char*>(""), 0, tokens);
    EXPECT_STREQ(tokens.key, "");
}

// Writer and reader agree: format, encipher, decipher and read give the version back.
TEST(ConfigText, EveryWrittenVersionReadsBack) {
    const struct {
        int32_t version;
        int32_t contentLength;  // 38 up to a 16-byte text, 54 up to 32
    } cases[] = {{1, 38},        {5, 38},      {10005, 38},         {99999, 38},         {100000, 54},
                 {-1, 38},       {-9999, 38},  {-10005, 54},       {INT32_MAX, 54},     {INT32_MIN, 54}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        char buffer[256] = {};
        ASSERT_GT(formatConfigText(buffer, sizeof buffer, c.version), 0);
        int32_t contentLength = encipherConfig(buffer, sizeof buffer);
        EXPECT_EQ(contentLength, c.contentLength);
        int32_t textLength = decipherConfig(reinterpret_cast<unsigned char*>(buffer), contentLength);
        int32_t readBack = 0;
        EXPECT_EQ(parseConfigText(reinterpret_cast<unsigned char*>(buffer), textLength, readBack),
                  ConfigTextResult::Usable);
        EXPECT_EQ(readBack, c.version);
    }
}

std::vector<unsigned char> readFixture(const char* name) {
    std::string path = std::string(VYR_TEST_DATA_DIR) + "/" + name;
    std::vector<unsigned char> content;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return content;
    unsigned char chunk[256];
    size_t count;
    while ((count = fread(chunk, 1, sizeof chunk, file)) > 0) content.insert(content.end(), chunk, chunk + count);
    fclose(file);
    return content;
}

struct FixtureCase {
    const char* file;
    int32_t version;
    int32_t textLength;
};

// Made by tools/make_config_fixture.sh with openssl: the file format, not just our own round trip.
TEST(ConfigText, ReadsFilesEncipheredByOpenssl) {
    const FixtureCase cases[] = {{"config_fixture_10005.bin", 10005, 16}, {"config_fixture_7.bin", 7, 12}};
    for (const FixtureCase& c : cases) {
        SCOPED_TRACE(c.file);
        std::vector<unsigned char> content = readFixture(c.file);
        ASSERT_EQ(content.size(), 38u);
        int32_t textLength = decipherConfig(content.data(), static_cast<uint32_t>(content.size()));
        ASSERT_EQ(textLength, c.textLength);
        int32_t version = 0;
        EXPECT_EQ(parseConfigText(content.data(), textLength, version), ConfigTextResult::Usable);
        EXPECT_EQ(version, c.version);
    }
}

}  // namespace
