// Hostile manifests read through the file reader: ten thousand lines, lines of 5,000 characters
// with fake lines at the piece boundaries, overlong names and versions. Every field stays bounded.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/manifest_text.h"

namespace {

struct Parsed {
    char installer[kVersionTextSize] = "";
    char launcher[kVersionTextSize] = "";
    int serverGameVersion = 0;
    std::vector<VersionStep> steps = std::vector<VersionStep>(kMaxVersionSteps);
    int totalFileCount = 0;

    int storedSteps() const {
        int count = 0;
        while (count < kMaxVersionSteps && steps[count].version != 0) ++count;
        return count;
    }
};

Parsed parse(const std::string& manifest, int localGameVersion) {
    Parsed parsed;
    FILE* file = tmpfile();
    EXPECT_NE(file, nullptr);
    if (file == nullptr) return parsed;
    fwrite(manifest.data(), 1, manifest.size(), file);
    rewind(file);
    ManifestTargets targets = {parsed.installer, parsed.launcher, &parsed.serverGameVersion, parsed.steps.data(),
                               &parsed.totalFileCount, nullptr, nullptr, nullptr};
    readManifestFile(file, targets, localGameVersion);
    fclose(file);
    return parsed;
}

// Fields are terminated, counts add up and every stored name is one the manifest spelled out whole.
void expectBounded(const Parsed& parsed, const std::vector<std::string>& allowedNames) {
    EXPECT_NE(memchr(parsed.installer, '\0', kVersionTextSize), nullptr);
    EXPECT_NE(memchr(parsed.launcher, '\0', kVersionTextSize), nullptr);
    int sum = 0;
    for (int s = 0; s < parsed.storedSteps(); ++s) {
        const VersionStep& step = parsed.steps[s];
        ASSERT_GE(step.fileCount, 0);
        ASSERT_LE(step.fileCount, kMaxStepFiles);
        for (int f = 0; f < step.fileCount; ++f) {
            ASSERT_NE(memchr(step.files[f], '\0', kStepFileNameSize), nullptr);
            bool known = false;
            for (const std::string& name : allowedNames) known = known || name == step.files[f];
            EXPECT_TRUE(known) << step.files[f];
        }
        sum += step.fileCount;
    }
    EXPECT_EQ(sum, parsed.totalFileCount);
}

// A line of `length` characters whose every piece boundary (1022) starts a plausible step line, so
// that a reader which split long lines would store "99999 evil.zip" steps.
std::string longLineWithFakeLines(size_t length) {
    std::string line = "9999 ";  // below the installed version: skipped, not a cut
    while (line.size() < length) {
        size_t boundary = ((line.size() / kManifestPieceLength) + 1) * kManifestPieceLength;
        line += std::string(boundary - line.size() - 1, 'n') + " ";
        line += "99999 evil.zip ";
    }
    line.resize(length);
    return line + "\n";
}

TEST(HostileManifest, TenThousandLinesOfFiveThousandCharacters) {
    std::string manifest = "[INSTALLER]\n1.0.0.3\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n";
    for (int line = 0; line < 10000; ++line) manifest += longLineWithFakeLines(5000);
    manifest += "10002 good.zip\n";
    Parsed parsed = parse(manifest, 10000);
    EXPECT_STREQ(parsed.installer, "1.0.0.3");
    EXPECT_STREQ(parsed.launcher, "0.0.0.5");
    ASSERT_EQ(parsed.storedSteps(), 1);
    EXPECT_EQ(parsed.steps[0].version, 10002);
    EXPECT_STREQ(parsed.steps[0].files[0], "good.zip");
    EXPECT_EQ(parsed.serverGameVersion, 10002);
    expectBounded(parsed, {"good.zip"});
}

// Ten thousand short lines of every kind: the table never holds more than 100 steps, while the whole
// text is still read (the server's version is the last step, the later "[LAUNCHER]" section counts).
TEST(HostileManifest, TenThousandMixedLinesStayWithinTheTable) {
    std::string manifest = "[PLAYER]\n";
    for (int line = 1; line <= 10000; ++line) {
        manifest += std::to_string(line) + " f" + std::to_string(line) + ".zip";
        for (int extra = 0; extra < line % 20; ++extra) manifest += " x" + std::to_string(extra);
        manifest += (line % 3 == 0) ? "\r\n" : "\n";
    }
    manifest += "[LAUNCHER]\n9.9.9.9\n";
    Parsed parsed = parse(manifest, 0);
    EXPECT_EQ(parsed.storedSteps(), kMaxVersionSteps);
    EXPECT_EQ(parsed.serverGameVersion, 10000);
    EXPECT_STREQ(parsed.launcher, "9.9.9.9");
    std::vector<std::string> allowed;
    for (int line = 1; line <= kMaxVersionSteps; ++line) allowed.push_back("f" + std::to_string(line) + ".zip");
    for (int extra = 0; extra < 20; ++extra) allowed.push_back("x" + std::to_string(extra));
    expectBounded(parsed, allowed);
}

struct OverlongCase {
    const char* label;
    std::string line;
};

// Versions longer than their 31-character field and names longer than 127 are never cut into a
// different value: the version keeps its previous text, the step line is dropped whole.
TEST(HostileManifest, OverlongNamesAndVersionsAreDroppedNotCut) {
    const std::vector<OverlongCase> cases = {
        {"version of 32", "[INSTALLER]\n" + std::string(32, '7') + "\n"},
        {"version of 5000", "[LAUNCHER]\n1.0.0." + std::string(4995, '1') + "\n"},
        {"name of 128", "[PLAYER]\n10001 " + std::string(124, 'a') + ".zip\n"},
        {"name of 1000", "[PLAYER]\n10001 ok.zip " + std::string(996, 'a') + ".zip\n"},
        {"number beyond 32 bits", "[PLAYER]\n4294977297 wrapped.zip\n"},
        {"sign only", "[PLAYER]\n- minus.zip\n"},
        {"zero bytes", std::string("[PLAYER]\n10001 a\0b.zip\n", 24)},
    };
    for (const OverlongCase& c : cases) {
        SCOPED_TRACE(c.label);
        std::string manifest = "[INSTALLER]\n1.0.0.1\n[LAUNCHER]\n0.0.0.1\n" + c.line;
        Parsed parsed = parse(manifest, 10000);
        EXPECT_STREQ(parsed.installer, "1.0.0.1");
        EXPECT_STREQ(parsed.launcher, "0.0.0.1");
        for (int s = 0; s < parsed.storedSteps(); ++s)
            for (int f = 0; f < parsed.steps[s].fileCount; ++f) EXPECT_LT(strlen(parsed.steps[s].files[f]), 8u);
        expectBounded(parsed, {"a"});
    }
}

// A line without a number stores nothing, also when the installed version is negative (a config
// may hold one): a stored version-0 step would end the table and hide every later step.
TEST(HostileManifest, LinesWithoutANumberStoreNothingEvenBelowZero) {
    const int localVersions[] = {0, -12};
    for (int local : localVersions) {
        SCOPED_TRACE(local);
        Parsed parsed = parse("[PLAYER]\n\nno number here\n[player]\n10001 a.zip\n", local);
        ASSERT_EQ(parsed.storedSteps(), 1);
        EXPECT_EQ(parsed.steps[0].version, 10001);
        EXPECT_EQ(parsed.totalFileCount, 1);
    }
}

}  // namespace
