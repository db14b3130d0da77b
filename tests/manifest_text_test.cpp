// The manifest parser over whole files: sections, the newer-steps table and its limits, and the
// bounds that keep overlong words and lines out of the fixed-size fields.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/manifest_text.h"

namespace {

struct Parsed {
    char installerVersion[kVersionTextSize] = {};
    char launcherVersion[kVersionTextSize] = {};
    int serverGameVersion = 0;
    VersionStep steps[kMaxVersionSteps] = {};
    int totalFileCount = 0;

    ManifestTargets targets() {
        return ManifestTargets{installerVersion, launcherVersion, &serverGameVersion, steps, &totalFileCount, nullptr,
                               nullptr, nullptr};
    }
    int storedSteps() const {
        int count = 0;
        while (count < kMaxVersionSteps && steps[count].version != 0) ++count;
        return count;
    }
};

void parse(Parsed* parsed, const std::string& text, int localGameVersion) {
    FILE* file = tmpfile();
    ASSERT_NE(file, nullptr);
    fwrite(text.data(), 1, text.size(), file);
    rewind(file);
    readManifestFile(file, parsed->targets(), localGameVersion);
    fclose(file);
}

std::string names(int count, const char* stem) {
    std::string line;
    for (int i = 0; i < count; ++i) line += " " + std::string(stem) + std::to_string(i) + ".zip";
    return line;
}

TEST(ManifestText, ReadsTheExampleManifest) {
    Parsed p;
    parse(&p,
          "[INSTALLER]\n1.0.0.3\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n10001 Patch10001.zip\n"
          "10002 Patch10002_a.zip Patch10002_b.zip\n10003 Data/Table.dat Patch10003.zip\n",
          10000);
    EXPECT_STREQ(p.installerVersion, "1.0.0.3");
    EXPECT_STREQ(p.launcherVersion, "0.0.0.5");
    EXPECT_EQ(p.serverGameVersion, 10003);
    ASSERT_EQ(p.storedSteps(), 3);
    EXPECT_EQ(p.totalFileCount, 5);
    EXPECT_EQ(p.steps[1].version, 10002);
    EXPECT_EQ(p.steps[1].fileCount, 2);
    EXPECT_STREQ(p.steps[1].files[1], "Patch10002_b.zip");
    EXPECT_STREQ(p.steps[2].files[0], "Data/Table.dat");
    EXPECT_STREQ(p.steps[2].files[2], "");
}

struct StepCase {
    const char* name;
    std::string manifest;
    int localGameVersion;
    int serverGameVersion;
    std::vector<int> storedVersions;
    std::vector<int> fileCounts;
    int totalFileCount;
};

TEST(ManifestText, StoresOnlyNewerStepsInFileOrder) {
    const StepCase cases[] = {
        {"only newer", "[PLAYER]\n10001 a\n10002 b c\n10003 d e\n10004 f\n", 10002, 10004, {10003, 10004}, {2, 1}, 3},
        {"no names", "[PLAYER]\n10005\n", 10004, 10005, {10005}, {0}, 0},
        {"last nonzero, not largest", "[PLAYER]\n10003 a\n10002 b\n0 c\nxyz d\n", 10000, 10002, {10003, 10002},
         {1, 1}, 2},
        {"seventeen names keep sixteen", "[PLAYER]\n10001" + names(17, "n") + "\n", 0, 10001, {10001}, {16}, 16},
        {"header restarts the table", "[PLAYER]\n10001 a\n10002 b\n[PLAYER]\n10003 c\n", 0, 10003, {10003}, {1}, 1},
        {"lines before any header", "10001 a\n[PLAYER]\n10002 b\n", 0, 10002, {10002}, {1}, 1},
        {"lower-case header is a step line", "[PLAYER]\n10001 a\n[installer]\n10002 b\n", 0, 10002,
         {10001, 10002}, {1, 1}, 2},
        {"words after a header are not read", "[PLAYER] 10001 a\n10002 b\n", 0, 10002, {10002}, {1}, 1},
        {"negative and none", "[PLAYER]\n-5 a\n10001 b\n", -10, 10001, {-5, 10001}, {1, 1}, 2},
        {"zero is never a step", "[PLAYER]\nxyz a\n0 b\n\n10001 c\n", -12, 10001, {10001}, {1}, 1},
        {"number out of range skipped", "[PLAYER]\n10001 a\n99999999999 b\n", 0, 10001, {10001}, {1}, 1},
        {"crlf line ends", "[PLAYER]\r\n10001 a.zip\r\n10002 b.zip\r\n", 10001, 10002, {10002}, {1}, 1},
        {"no final line feed", "[PLAYER]\n10001 a.zip", 0, 10001, {10001}, {1}, 1},
    };
    for (const StepCase& c : cases) {
        Parsed p;
        parse(&p, c.manifest, c.localGameVersion);
        EXPECT_EQ(p.serverGameVersion, c.serverGameVersion) << c.name;
        ASSERT_EQ(p.storedSteps(), static_cast<int>(c.storedVersions.size())) << c.name;
        for (size_t i = 0; i < c.storedVersions.size(); ++i) {
            EXPECT_EQ(p.steps[i].version, c.storedVersions[i]) << c.name;
            EXPECT_EQ(p.steps[i].fileCount, c.fileCounts[i]) << c.name;
        }
        EXPECT_EQ(p.totalFileCount, c.totalFileCount) << c.name;
    }
}

TEST(ManifestText, VersionTextsTakeTheLastNonBlankLineAndOtherwiseKeepTheirValue) {
    Parsed p;
    parse(&p, "[INSTALLER]\n1.0.0.1\n1.0.0.2 trailing words\n\n   \n[LAUNCHER]\n0.0.0.4\n", 0);
    EXPECT_STREQ(p.installerVersion, "1.0.0.2");
    EXPECT_STREQ(p.launcherVersion, "0.0.0.4");

    parse(&p, "[PLAYER]\n10001 a\n", 0);
    EXPECT_STREQ(p.installerVersion, "1.0.0.2");
    EXPECT_STREQ(p.launcherVersion, "0.0.0.4");

    Parsed fresh;
    parse(&fresh, "[PLAYER]\n10001 a\n", 0);
    EXPECT_STREQ(fresh.installerVersion, "");
    EXPECT_STREQ(fresh.launcherVersion, "");
}

// The table holds a hundred steps, but the manifest is read to its end: the server's version is its
// last step, whatever the installed version; the steps past the table come with the next reading from
// the hundredth, and a bad step line past a full table ends only that next reading's table.
TEST(ManifestText, AFullTableStillReadsTheWholeManifestAndTheNextReadingGoesOn) {
    std::string manifest = "[INSTALLER]\n1.0.0.1\n[PLAYER]\n";
    for (int v = 10001; v <= 10150; ++v) {
        manifest += std::to_string(v) + " p" + std::to_string(v) + ".zip\n";
        if (v == 10120) manifest += "10121 " + std::string(kStepFileNameSize, 'n') + "\n";
    }
    manifest += "[INSTALLER]\n9.9.9.9\n";
    Parsed p;
    parse(&p, manifest, 10000);
    EXPECT_EQ(p.storedSteps(), kMaxVersionSteps);
    EXPECT_EQ(p.steps[kMaxVersionSteps - 1].version, 10100);
    EXPECT_EQ(p.serverGameVersion, 10150);
    EXPECT_EQ(p.totalFileCount, 100);
    EXPECT_STREQ(p.installerVersion, "9.9.9.9");

    int cut = 0;
    ManifestTargets targets = p.targets();
    targets.stepTableCut = &cut;
    FILE* file = tmpfile();
    ASSERT_NE(file, nullptr);
    fwrite(manifest.data(), 1, manifest.size(), file);
    rewind(file);
    readManifestFile(file, targets, 10000);
    EXPECT_EQ(cut, 0);
    rewind(file);
    readManifestFile(file, targets, 10100);
    fclose(file);
    EXPECT_EQ(cut, 1);
    ASSERT_EQ(p.storedSteps(), 20);
    EXPECT_EQ(p.steps[0].version, 10101);
    EXPECT_EQ(p.steps[19].version, 10120);
    EXPECT_EQ(p.serverGameVersion, 10150);
}

TEST(ManifestText, ATenThousandLineManifestStaysWithinTheTable) {
    std::string manifest = "[PLAYER]\n";
    for (int v = 1; v <= 10000; ++v) manifest += std::to_string(v) + names(16, "f") + "\n";
    Parsed p;
    parse(&p, manifest, 9950);
    EXPECT_EQ(p.storedSteps(), 50);
    EXPECT_EQ(p.totalFileCount, 50 * 16);
    EXPECT_EQ(p.serverGameVersion, 10000);

    Parsed all;
    parse(&all, manifest, 0);
    EXPECT_EQ(all.storedSteps(), kMaxVersionSteps);
    EXPECT_EQ(all.serverGameVersion, 10000);
}

TEST(ManifestText, OverlongVersionWordsAreRefusedNotCut) {
    std::string longest(kVersionTextSize - 1, '1');
    std::string overlong(kVersionTextSize, '2');
    Parsed p;
    parse(&p, "[INSTALLER]\n" + longest + "\n[LAUNCHER]\n0.0.0.5\n" + overlong + "\n", 0);
    EXPECT_EQ(std::string(p.installerVersion), longest);
    EXPECT_STREQ(p.launcherVersion, "0.0.0.5");

    Parsed q;
    parse(&q, "[INSTALLER]\n" + overlong + "\n", 0);
    EXPECT_STREQ(q.installerVersion, "");
}

TEST(ManifestText, APendingStepThatCannotBeReadWholeEndsTheTable) {
    std::string longest(kStepFileNameSize - 1, 'a');
    std::string overlong(kStepFileNameSize, 'b');
    std::string longLine = "10003";  // its tail pieces must never read as lines, "10009" among them
    while (longLine.size() < 5000) longLine += " Data/10009x.zip";
    std::string exact = "10002 " + std::string(kStepFileNameSize - 1, 'e') +
                        std::string(kManifestPieceLength - 6 - (kStepFileNameSize - 1), ' ');
    const struct {
        const char* what;
        std::string badLine;
    } kBadLines[] = {
        {"a name of 128 characters", "10003 ok.zip " + overlong + " more.zip"},
        {"a number beyond 32 bits", "4294977296 x.zip"},
        {"a line longer than one piece", longLine},
        {"a NUL byte", std::string("10003 a", 7) + '\0' + "b.zip"},
    };
    for (const auto& c : kBadLines) {
        Parsed p;
        int cut = 0;
        ManifestTargets targets = p.targets();
        targets.stepTableCut = &cut;
        std::string manifest = "[PLAYER]\n10001 " + longest + "\n" + exact + "\n" + c.badLine + "\n10004 c.zip\n" +
                               "10005" + names(16, "g") + " " + overlong + "\n";
        FILE* file = tmpfile();
        fwrite(manifest.data(), 1, manifest.size(), file);
        rewind(file);
        readManifestFile(file, targets, 0);
        fclose(file);
        ASSERT_EQ(p.storedSteps(), 2) << c.what;  // nothing after the unreadable step
        EXPECT_EQ(std::string(p.steps[0].files[0]), longest) << c.what;
        EXPECT_EQ(p.steps[1].fileCount, 1) << c.what;  // a line of exactly one piece is read whole
        EXPECT_EQ(cut, 1) << c.what;
        EXPECT_EQ(p.serverGameVersion, 10005) << c.what;  // the line after a NUL byte is not lost

        // At or below the installed version the same line is merely skipped.
        Parsed q;
        int notCut = 0;
        targets = q.targets();
        targets.stepTableCut = &notCut;
        FILE* again = tmpfile();
        fwrite(manifest.data(), 1, manifest.size(), again);
        rewind(again);
        readManifestFile(again, targets, 10003);
        fclose(again);
        bool hugeNumber = c.badLine[0] == '4';
        EXPECT_EQ(notCut, hugeNumber ? 1 : 0) << c.what;  // beyond 32 bits may be newer than anything
        EXPECT_EQ(q.storedSteps(), hugeNumber ? 0 : 2) << c.what;  // 10004, and 10005 with its first 16 names
    }
}

TEST(ManifestText, VersionTextsHoldOnlyDigitsAndDots) {
    Parsed p;
    parse(&p, "[INSTALLER]\n1.0.0.4\n1.0.0.5\" x\n[LAUNCHER]\n0.0.0.6\n0.0.0.7-beta\n", 0);
    EXPECT_STREQ(p.installerVersion, "1.0.0.4");
    EXPECT_STREQ(p.launcherVersion, "0.0.0.6");
}

TEST(ManifestText, HeaderLinesAreHandledLineByLine) {
    Parsed p;
    ManifestReader reader;
    beginManifest(&reader, p.targets(), 0);
    readManifestLine(&reader, "[LAUNCHER]");
    readManifestLine(&reader, "0.0.0.7\n");
    readManifestLine(&reader, "[PLAYER]\n");
    for (int v = 1; v <= kMaxVersionSteps + 1; ++v) readManifestLine(&reader, std::to_string(v).c_str());
    EXPECT_EQ(p.storedSteps(), kMaxVersionSteps);
    EXPECT_EQ(p.serverGameVersion, kMaxVersionSteps + 1);
    readManifestLine(&reader, "[PLAYER]");  // a header still restarts the table
    EXPECT_EQ(p.storedSteps(), 0);
    EXPECT_STREQ(p.launcherVersion, "0.0.0.7");
}

// Only a text with a "[PLAYER]" header line is a manifest; an error page, an empty body or a header
// in other letters or cut inside an overlong line is not.
TEST(ManifestText, OnlyATextWithAPlayerHeaderIsAManifest) {
    const struct {
        std::string text;
        bool manifest;
    } cases[] = {
        {"[PLAYER]\n", true},
        {"[INSTALLER]\n1.0.0.3\n  [PLAYER]  10001 a.zip\r\n", true},
        {"", false},
        {"<html><head><title>404 Not Found</title></head><body>[PLAYER]</body></html>\n", false},
        {"[INSTALLER]\n1.0.0.3\n[LAUNCHER]\n0.0.0.5\n[player]\n10001 a.zip\n", false},
        {std::string(kManifestPieceLength, ' ') + "[PLAYER]\n", false},
    };
    for (const auto& c : cases) {
        FILE* file = tmpfile();
        ASSERT_NE(file, nullptr);
        fwrite(c.text.data(), 1, c.text.size(), file);
        rewind(file);
        EXPECT_EQ(hasPlayerSection(file), c.manifest) << c.text.substr(0, 80);
        fclose(file);
    }
}

// The publishing side's writer: what it writes, the launcher's reader reads back field for field, and
// whatever it cannot write that way is refused rather than written differently.
ManifestContents contentsWithStep(int version, std::vector<std::string> files) {
    ManifestContents contents{};
    snprintf(contents.launcherVersion, sizeof contents.launcherVersion, "%s", "0.0.0.5");
    VersionStep step{};
    step.version = version;
    for (const std::string& f : files) snprintf(step.files[step.fileCount++], kStepFileNameSize, "%s", f.c_str());
    contents.steps.push_back(step);
    return contents;
}

bool readsBackTheSame(const ManifestContents& written, const std::string& text) {
    FILE* file = tmpfile();
    fwrite(text.data(), 1, text.size(), file);
    rewind(file);
    ManifestContents readBack;
    readManifestContents(file, &readBack);
    fclose(file);
    return sameManifestContents(written, readBack);
}

TEST(ManifestText, TheWriterReadsBackThroughTheLaunchersReaderAndRefusesWhatItCannotWrite) {
    ManifestContents contents = contentsWithStep(10002, {"Patch10002.zip", "Data\\Table.dat", std::string(127, 'n')});
    for (int v = 10003; v < 10003 + 2 * kMaxVersionSteps; ++v) contents.steps.push_back(contentsWithStep(v, {}).steps[0]);
    std::string text, problem;
    ASSERT_TRUE(formatManifest(contents, &text, &problem)) << problem;
    EXPECT_EQ(text.compare(0, 40, "[INSTALLER]\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n"), 0);
    EXPECT_TRUE(readsBackTheSame(contents, text));  // beyond the launcher's window of 100 steps too
    // A later "[PLAYER]" header empties the table, as it does in the launcher.
    EXPECT_FALSE(readsBackTheSame(contents, text + "[PLAYER]\n"));

    for (const char* name : {"a b.zip", "tab\t.zip", "..\\up.zip", "Data/", "NUL.zip"})
        EXPECT_FALSE(formatManifest(contentsWithStep(5, {name}), &text, &problem)) << name;
    EXPECT_FALSE(isManifestFileName(std::string(128, 'n').c_str()));  // one more than a step's field holds
    ManifestContents seventeen = contentsWithStep(5, {});
    seventeen.steps[0].fileCount = kMaxStepFiles + 1;
    EXPECT_FALSE(formatManifest(seventeen, &text, &problem));
    EXPECT_FALSE(formatManifest(contentsWithStep(0, {}), &text, &problem));
    std::vector<std::string> longLine(kMaxStepFiles, std::string(100, 'n'));  // 16 fitting names, 1,600 characters
    EXPECT_FALSE(formatManifest(contentsWithStep(5, longLine), &text, &problem));
    for (const char* version : {"1.2.3", "1.2.3.4.5", "1..3.4", "1.2.3.x", "2147483648.0.0.0", "1.2.3.4 "}) {
        ManifestContents odd = contentsWithStep(5, {});
        snprintf(odd.installerVersion, sizeof odd.installerVersion, "%s", version);
        EXPECT_FALSE(formatManifest(odd, &text, &problem)) << version;
    }
}


// The mirror list: read only ahead of every other section, only URLs the worker can append a path to,
// at most kMaxMirrors, emptied by every reading; what the writer puts there reads back the same.
struct MirrorParse {
    char mirrors[kMaxMirrors][kMirrorUrlSize] = {};
    int mirrorCount = -1;
    Parsed fields;

    void parse(const std::string& text) {
        ManifestTargets targets = fields.targets();
        targets.mirrors = mirrors;
        targets.mirrorCount = &mirrorCount;
        FILE* file = tmpfile();
        ASSERT_NE(file, nullptr);
        fwrite(text.data(), 1, text.size(), file);
        rewind(file);
        readManifestFile(file, targets, 10000);
        fclose(file);
    }
    std::vector<std::string> list() const { return std::vector<std::string>(mirrors, mirrors + mirrorCount); }
};

const char kSteps[] = "[INSTALLER]\n1.0.0.3\n[PLAYER]\n10001 Patch10001.zip\n";

TEST(ManifestText, MirrorsAreReadOnlyAheadOfTheOtherSectionsAndOnlyAsHttpsBaseUrls) {
    const std::string tooLong = "https://m.example/" + std::string(kMirrorUrlSize - 19, 'p') + "/";
    const std::string longest = "https://m.example/" + std::string(kMirrorUrlSize - 20, 'p') + "/";
    struct Case {
        const char* name;
        std::string manifest;
        std::vector<std::string> mirrors;
    } cases[] = {
        {"two, in order", "[MIRRORS]\nhttps://a.example/live/\n  https://b.example:8443/ extra\n\n" + std::string(kSteps),
         {"https://a.example/live/", "https://b.example:8443/"}},
        {"refused forms",
         "[MIRRORS]\nhttp://a.example/\nhttps://a.example\nhttps://a.example/?x=/\nhttps://a.example/#/\n"
         "https:///\nhttps://a.ex\\ample/\nHTTPS://a.example/\nftp://a.example/\n" + tooLong + "\n" + longest + "\n" +
             kSteps,
         {longest}},
        {"after another section", std::string(kSteps) + "[MIRRORS]\nhttps://a.example/\n", {}},
        {"after the installer", "[INSTALLER]\n[MIRRORS]\nhttps://a.example/\n[PLAYER]\n10001 a.zip\n", {}},
        {"header in other case", "[mirrors]\nhttps://a.example/\n" + std::string(kSteps), {}},
        {"none", kSteps, {}},
    };
    for (const Case& c : cases) {
        MirrorParse p;
        p.parse(c.manifest);
        EXPECT_EQ(p.list(), c.mirrors) << c.name;
        // The sections after it read as they always have.
        EXPECT_EQ(p.fields.serverGameVersion, 10001) << c.name;
        EXPECT_EQ(p.fields.storedSteps(), 1) << c.name;
    }

    std::string many = "[MIRRORS]\n";
    for (int i = 0; i < kMaxMirrors + 3; ++i) many += "https://m" + std::to_string(i) + ".example/\n";
    MirrorParse p;
    p.parse(many + kSteps);
    ASSERT_EQ(p.mirrorCount, kMaxMirrors);
    EXPECT_STREQ(p.mirrors[kMaxMirrors - 1], ("https://m" + std::to_string(kMaxMirrors - 1) + ".example/").c_str());
    p.parse(kSteps);  // a manifest without the section leaves no mirror of the one before
    EXPECT_EQ(p.mirrorCount, 0);
}

TEST(ManifestText, TheWriterPutsMirrorsFirstAndTheCheckNamesWhatIsWrong) {
    ManifestContents contents = contentsWithStep(10002, {"Patch10002.zip"});
    contents.mirrors = {"https://a.example/live/", "https://b.example/"};
    std::string text, problem;
    ASSERT_TRUE(formatManifest(contents, &text, &problem)) << problem;
    const std::string head = "[MIRRORS]\nhttps://a.example/live/\nhttps://b.example/\n[INSTALLER]\n";
    EXPECT_EQ(text.compare(0, head.size(), head), 0) << text;
    EXPECT_TRUE(readsBackTheSame(contents, text));
    ManifestContents without = contents;
    without.mirrors.clear();
    EXPECT_FALSE(readsBackTheSame(without, text));
    for (const char* url : {"http://a.example/", "https://a.example", "https://a.example/ b/"}) {
        ManifestContents odd = contents;
        odd.mirrors.push_back(url);
        EXPECT_FALSE(formatManifest(odd, &text, &problem)) << url;
    }
    ManifestContents many = contents;
    many.mirrors.assign(kMaxMirrors + 1, "https://a.example/");
    EXPECT_FALSE(formatManifest(many, &text, &problem));

    auto problemsOf = [](const std::string& manifest) {
        FILE* file = tmpfile();
        fwrite(manifest.data(), 1, manifest.size(), file);
        rewind(file);
        std::vector<std::string> problems = mirrorSectionProblems(file);
        fclose(file);
        return problems;
    };
    EXPECT_TRUE(problemsOf("[MIRRORS]\nhttps://a.example/\n\n" + std::string(kSteps)).empty());
    EXPECT_TRUE(problemsOf(kSteps).empty());
    std::vector<std::string> late = problemsOf(std::string(kSteps) + "[MIRRORS]\nhttps://a.example/\n");
    ASSERT_EQ(late.size(), 1u);
    EXPECT_NE(late[0].find("before every other section"), std::string::npos) << late[0];
    std::vector<std::string> bad = problemsOf("[MIRRORS]\nhttp://a.example/\nhttps://b.example\n" + std::string(kSteps));
    ASSERT_EQ(bad.size(), 2u);
    EXPECT_NE(bad[0].find("\"http://a.example/\""), std::string::npos) << bad[0];
    EXPECT_NE(bad[1].find("\"https://b.example\""), std::string::npos) << bad[1];
    std::string nine = "[MIRRORS]\n";
    for (int i = 0; i <= kMaxMirrors; ++i) nine += "https://a.example/\n";
    EXPECT_EQ(problemsOf(nine + kSteps).size(), 1u);
}

}  // namespace
