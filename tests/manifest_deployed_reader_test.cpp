// Launchers already on players' machines read the manifest with the reader kept in
// support/deployed_manifest_text: a mirror list must leave what they read unchanged, and the current
// reader must read the other sections exactly as they do.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "formats/manifest_text.h"
#include "support/deployed_manifest_text.h"

namespace {

struct Fields {
    char installerVersion[kVersionTextSize] = {};
    char launcherVersion[kVersionTextSize] = {};
    int serverGameVersion = 0;
    VersionStep steps[kMaxVersionSteps] = {};
    int totalFileCount = 0;
    int stepTableCut = 0;

    bool operator==(const Fields& other) const {
        return strcmp(installerVersion, other.installerVersion) == 0 &&
               strcmp(launcherVersion, other.launcherVersion) == 0 && serverGameVersion == other.serverGameVersion &&
               memcmp(steps, other.steps, sizeof steps) == 0 && totalFileCount == other.totalFileCount &&
               stepTableCut == other.stepTableCut;
    }
};

FILE* fileWith(const std::string& text) {
    FILE* file = tmpfile();
    if (file == nullptr) return nullptr;
    fwrite(text.data(), 1, text.size(), file);
    rewind(file);
    return file;
}

Fields readDeployed(const std::string& text, int localGameVersion) {
    Fields f;
    FILE* file = fileWith(text);
    if (file == nullptr) return f;
    deployed_reader::ManifestTargets targets{f.installerVersion, f.launcherVersion, &f.serverGameVersion,
                                             f.steps, &f.totalFileCount, &f.stepTableCut};
    deployed_reader::readManifestFile(file, targets, localGameVersion);
    fclose(file);
    return f;
}

Fields readCurrent(const std::string& text, int localGameVersion, int* mirrorCount) {
    Fields f;
    char mirrors[kMaxMirrors][kMirrorUrlSize];
    FILE* file = fileWith(text);
    if (file == nullptr) return f;
    ManifestTargets targets{f.installerVersion, f.launcherVersion, &f.serverGameVersion, f.steps,
                            &f.totalFileCount, &f.stepTableCut, mirrors, mirrorCount};
    readManifestFile(file, targets, localGameVersion);
    fclose(file);
    return f;
}

const char kMirrorSection[] = "[MIRRORS]\nhttps://cdn-a.example/live/\nhttps://cdn-b.example:8443/x/\n";

// Manifests as the studio tool writes them, and some edges of the step table.
std::string manifestBody(int variant) {
    std::string steps;
    switch (variant) {
        case 0: steps = "10001 Patch10001.zip\n10002 Patch10002_a.zip Data/Table.dat\n10003\n"; break;
        case 1:
            for (int v = 10001; v <= 10000 + kMaxVersionSteps + 7; ++v) steps += std::to_string(v) + " P.zip\n";
            break;
        default: steps = "10001 a.zip\n10002 " + std::string(kStepFileNameSize, 'n') + "\n10003 c.zip\n"; break;
    }
    return "[INSTALLER]\n1.0.0.3\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n" + steps;
}

TEST(DeployedManifestReader, ReadsAManifestWithMirrorsExactlyAsTheSameManifestWithout) {
    for (int variant = 0; variant < 3; ++variant) {
        for (int local : {0, 10001, -5}) {
            std::string without = manifestBody(variant);
            std::string with = kMirrorSection + without;
            Fields deployedWithout = readDeployed(without, local);
            EXPECT_TRUE(readDeployed(with, local) == deployedWithout) << variant << " " << local;
            EXPECT_GT(deployedWithout.serverGameVersion, 10000);  // the cases do hold steps
            // The current reader agrees with the deployed one on everything but the mirrors.
            int mirrorCount = -1;
            EXPECT_TRUE(readCurrent(with, local, &mirrorCount) == deployedWithout) << variant << " " << local;
            EXPECT_EQ(mirrorCount, 2);
        }
    }
}

// Why the section goes first: after "[PLAYER]" a deployed launcher is still in the step table and
// reads every line of it as a step. A line that starts with digits (a mirror written without its
// scheme, say) then becomes a step that moves the server's game version and blocks every player;
// ahead of every section the same lines are ignored.
TEST(DeployedManifestReader, AMirrorSectionAfterThePlayerStepsIsReadAsSteps) {
    const std::string careless = "[MIRRORS]\nhttps://cdn-a.example/\n10.0.0.7/live/\n";
    std::string body = manifestBody(0);
    Fields plain = readDeployed(body, 10000);
    Fields first = readDeployed(careless + body, 10000);
    Fields last = readDeployed(body + careless, 10000);
    EXPECT_TRUE(first == plain);
    EXPECT_FALSE(last == plain);
    EXPECT_EQ(plain.serverGameVersion, 10003);
    EXPECT_EQ(last.serverGameVersion, 10);  // major version 0: "Please download the installer client again."
    // A player who has not installed a step yet takes the line as a pending step too.
    Fields fresh = readDeployed(body + careless, 0);
    EXPECT_EQ(fresh.steps[3].version, 10);
    EXPECT_STREQ(fresh.steps[3].files[0], ".0.0.7/live/");

    // The current reader does not take a late section as mirrors either: it reads it as deployed ones do.
    int mirrorCount = -1;
    EXPECT_TRUE(readCurrent(body + careless, 10000, &mirrorCount) == last);
    EXPECT_EQ(mirrorCount, 0);
}

}  // namespace
