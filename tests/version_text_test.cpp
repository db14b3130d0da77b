// Version texts as the manifest and registry hold them: reading with stop-at-first-mismatch, the
// signed comparison with its symmetry, and the Updater command lines with their 256-byte limit.
#include <gtest/gtest.h>

#include <string>

#include "formats/version_text.h"

namespace {

struct ReadCase {
    const char* text;
    VersionQuad expected;
};

TEST(VersionText, ReadsFourNumbersAndStopsAtTheFirstMismatch) {
    const ReadCase cases[] = {
        {"1.0.0.3", {{1, 0, 0, 3}}},
        {"0.0.0.5", {{0, 0, 0, 5}}},
        {"1.2", {{1, 2, 0, 0}}},
        {"1.0.1", {{1, 0, 1, 0}}},
        {"", {{0, 0, 0, 0}}},
        {"beta", {{0, 0, 0, 0}}},
        {"v1.2.3.4", {{0, 0, 0, 0}}},
        {"1.-1.0.0", {{1, -1, 0, 0}}},
        {"1.2.3.4.5", {{1, 2, 3, 4}}},
        {"1.2x.3.4", {{1, 2, 0, 0}}},
        {"1..3.4", {{1, 0, 0, 0}}},
        {"1,2,3,4", {{1, 0, 0, 0}}},
        {"  7.8.9.10", {{7, 8, 9, 10}}},
        {"1. 2.3.4", {{1, 2, 3, 4}}},       // like "%d", a number may follow white space
        {"1 .2.3.4", {{1, 0, 0, 0}}},       // but the dot must follow the number at once
        {"+1.2.3.4", {{1, 2, 3, 4}}},
        {"2147483647.0.0.1", {{2147483647, 0, 0, 1}}},
        {"-2147483648.0.0.1", {{-2147483647 - 1, 0, 0, 1}}},
        {"1.2147483648.0.1", {{1, 0, 0, 0}}},   // out of range ends the scan
        {"99999999999999999999.1.1.1", {{0, 0, 0, 0}}},
    };
    for (const ReadCase& c : cases) {
        VersionQuad v = readVersionText(c.text);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(v.component[i], c.expected.component[i]) << c.text << " #" << i;
    }
    VersionQuad none = readVersionText(nullptr);
    for (int part : none.component) EXPECT_EQ(part, 0);
}

struct CompareCase {
    const char* a;
    const char* b;
    int expected;
};

TEST(VersionText, ComparesNumbersNotTextAndIsSymmetric) {
    const CompareCase cases[] = {
        {"1.0.0.10", "1.0.0.9", 1},
        {"1.0.0.3", "1.0.1", -1},
        {"1.0.0.0", "1.-1.0.0", 1},
        {"0.0.0.5", "0.0.0.6", -1},
        {"0.0.0.5", "0.0.0.5", 0},
        {"0.0.0.5", "", 1},
        {"", "0.0.0.0", 0},
        {"2.0.0.0", "1.99.99.99", 1},
        {"1.2.0.0", "1.2", 0},
        {"-1.0.0.0", "0.0.0.0", -1},
        {"2147483647.0.0.0", "-2147483648.0.0.0", 1},
        {"1.0.0.1", "1.0.0.0", 1},
        {"1.0.1.0", "1.0.0.9", 1},
    };
    for (const CompareCase& c : cases) {
        VersionQuad a = readVersionText(c.a);
        VersionQuad b = readVersionText(c.b);
        EXPECT_EQ(compareVersions(a, b), c.expected) << c.a << " vs " << c.b;
        EXPECT_EQ(compareVersions(b, a), -c.expected) << c.b << " vs " << c.a;
        EXPECT_EQ(compareVersions(a, a), 0) << c.a;
    }
}

TEST(VersionText, FormatsTheUpdaterCommandLines) {
    char buffer[256];
    const char* base = "https://patch.norvane.example/Setup/live/StandaloneWindows64";
    ASSERT_TRUE(formatUpdaterCommandLine(buffer, sizeof buffer, HandOff::Installer, 0, "1.0.0.4", base));
    EXPECT_STREQ(buffer, "Updater Installer 0 1.0.0.4 https://patch.norvane.example/Setup/live/StandaloneWindows64");
    ASSERT_TRUE(formatUpdaterCommandLine(buffer, sizeof buffer, HandOff::Launcher, 4242, "0.0.0.6", base));
    EXPECT_STREQ(buffer, "Updater Launcher 4242 0.0.0.6 https://patch.norvane.example/Setup/live/StandaloneWindows64");
}

TEST(VersionText, ReportsACommandLineThatDoesNotFit) {
    char buffer[256];
    std::string prefix = "Updater Launcher 7 0.0.0.6 ";
    std::string fits(sizeof buffer - 1 - prefix.size(), 'u');
    ASSERT_TRUE(formatUpdaterCommandLine(buffer, sizeof buffer, HandOff::Launcher, 7, "0.0.0.6", fits.c_str()));
    EXPECT_EQ(std::string(buffer), prefix + fits);
    std::string overlong = fits + "u";
    EXPECT_FALSE(formatUpdaterCommandLine(buffer, sizeof buffer, HandOff::Launcher, 7, "0.0.0.6", overlong.c_str()));
    EXPECT_EQ(buffer[sizeof buffer - 1], '\0');
}

}  // namespace
