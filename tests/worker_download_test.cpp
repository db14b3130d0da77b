// The update worker against the local HTTPS patch server: version steps with and without files,
// server faults (404, 206, dropped body, no length), certificate checks, names that leave the folder,
// archives with a delete list, bounded progress, and the unpacking failure that ends the launcher.
#include <gtest/gtest.h>

#include <process.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/launcher_state.h"
#include "settings/config_file.h"
#include "settings/launcher_settings.h"
#include "support/dialog_watcher.h"
#include "support/temp_folder.h"
#include "support/worker_fixture.h"
#include "update/patch_download.h"
#include "update/update_worker.h"
#include "formats/manifest_text.h"
#include "zip_test_archive.h"

namespace {

class Worker : public WorkerFixture {
protected:
    void serve(const std::string& leaf, const std::string& content, const char* fault = nullptr) {
        std::string path = served(leaf);
        writeWholeFile(path, content);
        if (fault != nullptr) writeWholeFile(path + ".fault", fault);
    }

    void serveArchive(const std::string& leaf, const std::vector<ZipTestEntry>& entries) {
        ASSERT_TRUE(writeZipArchive(served(leaf), entries));
    }

    static std::string status() { return gState.statusText; }
};

TEST_F(Worker, StepsWithoutFilesAreRecordedInOrder) {
    addStep(10006, {});
    addStep(10007, {});
    EXPECT_EQ(updateWorker(nullptr), 1u);
    EXPECT_EQ(status(), "Ready to start the game. [Version: 10007]");
    EXPECT_EQ(gState.buttonState[0], 0);
    EXPECT_EQ(gState.fileProgress, 100);
    EXPECT_EQ(gState.totalProgress, 100);
    EXPECT_EQ(recordedVersion(), 10007);
}

// A player further behind than the step table holds: every step is applied, those past the table in
// a further pass over the stored manifest, and the game is ready only at the manifest's last version.
TEST_F(Worker, MoreStepsThanTheTableHoldsAreAllAppliedBeforeReady) {
    serve("early.dat", "early");
    serve("late.dat", "late");
    std::string manifest = "[INSTALLER]\n1.0.0.0\n[LAUNCHER]\n0.0.0.5\n[PLAYER]\n10005 installed.zip\n";
    for (int v = 10006; v <= 10155; ++v) {
        manifest += std::to_string(v);
        if (v == 10006) manifest += " " + name("early.dat");
        if (v == 10140) manifest += " " + name("late.dat");
        manifest += "\n";
    }
    writeWholeFile(folder.file("update.dat"), manifest);
    FILE* stored = fopen("update.dat", "r");
    ASSERT_NE(stored, nullptr);
    readManifestFile(stored, ManifestTargets{gState.latestInstallerVersion, gState.latestLauncherVersion,
                                             &gState.serverGameVersion, gState.versionSteps, &gState.totalFileCount,
                                             &gState.stepTableCut, nullptr, nullptr},
                     gState.localGameVersion);
    fclose(stored);

    EXPECT_EQ(updateWorker(nullptr), 1u);
    EXPECT_EQ(status(), "Ready to start the game. [Version: 10155]");
    EXPECT_EQ(recordedVersion(), 10155);
    EXPECT_EQ(readWholeFile(local("early.dat")), "early");
    EXPECT_EQ(readWholeFile(local("late.dat")), "late");
}

TEST_F(Worker, NoFilesAnywhereFetchesNothingButRecordsEveryStep) {
    addStep(10006, {name("never.bin")});
    addStep(10007, {name("never2.bin")});
    gState.totalFileCount = 0;
    EXPECT_EQ(updateWorker(nullptr), 1u);
    EXPECT_FALSE(exists(local("never.bin")));
    EXPECT_EQ(recordedVersion(), 10007);
}

TEST_F(Worker, PlainFilesArchivesAndTheDeleteListEndReady) {
    serve("Data/table.dat", std::string(70000, 't'));
    serveArchive("pack.ZIP", {{prefix + "/d1/d2/deep.txt", "deep", false},
                              {prefix + "/", "", false},
                              {"delete.txt", prefix + "/retired.dat\n" + prefix + "/../outside.dat\n", false}});
    serve("Norvane.exe", "new game");
    CreateDirectoryA(folder.file(prefix).c_str(), nullptr);
    writeWholeFile(local("retired.dat"), "old");
    writeWholeFile(folder.file("outside.dat"), "keep");
    writeWholeFile(local("Norvane.exe"), "old game");
    SetFileAttributesA(local("Norvane.exe").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    writeWholeFile(folder.file("Norvane.exe"), "game");
    serveArchive("empty.zip", {});

    addStep(10006, {name("Data/table.dat"), name("pack.ZIP")});
    addStep(10007, {name("Norvane.exe"), name("empty.zip")});
    EXPECT_EQ(updateWorker(nullptr), 1u);
    EXPECT_EQ(status(), "Ready to start the game. [Version: 10007]");
    EXPECT_EQ(readWholeFile(local("Data\\table.dat")), std::string(70000, 't'));
    EXPECT_EQ(readWholeFile(local("d1\\d2\\deep.txt")), "deep");
    EXPECT_FALSE(exists(local("pack.ZIP")));
    EXPECT_FALSE(exists(local("empty.zip")));
    EXPECT_FALSE(exists(local("retired.dat")));
    EXPECT_FALSE(exists(folder.file("delete.txt")));
    EXPECT_EQ(readWholeFile(folder.file("outside.dat")), "keep");
    EXPECT_EQ(readWholeFile(local("Norvane.exe")), "new game");
    EXPECT_EQ(GetFileAttributesA(folder.file("Norvane.exe").c_str()) &
                  (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(exists(local("Data\\table.dat.download")));
    EXPECT_EQ(recordedVersion(), 10007);
}

TEST_F(Worker, NotFoundOnTheSecondStepKeepsTheFirstAndTheOldFile) {
    serve("one.dat", "first");
    CreateDirectoryA(folder.file(prefix).c_str(), nullptr);
    writeWholeFile(local("two.dat"), "installed");
    addStep(10006, {name("one.dat")});
    addStep(10007, {name("two.dat")});
    EXPECT_EQ(updateWorker(nullptr), 0u);
    EXPECT_EQ(status(), "Downloading failed [404] (" + name("two.dat") + ")");
    EXPECT_EQ(gState.buttonState[0], 3);
    EXPECT_EQ(gState.totalProgress, 50);
    EXPECT_EQ(gState.localGameVersion, 10006);
    EXPECT_EQ(readWholeFile(local("one.dat")), "first");
    EXPECT_EQ(readWholeFile(local("two.dat")), "installed");
    EXPECT_EQ(recordedVersion(), 10006);
}

struct FaultCase {
    const char* fault;
    const char* pattern;  // status text with %s for the file name; empty: success
};

TEST_F(Worker, ServerFaultsFailWithTheirTextAndKeepTheOldFile) {
    const FaultCase cases[] = {
        {"status206", ""},
        {"drop-once", ""},  // a dropped connection is tried again in the same run
        {"no-length", "Downloading failed - query_size (%s)"},
        {"drop-half", "Downloading failed - read (%s)"},
        {"status404", "Downloading failed [404] (%s)"},
    };
    CreateDirectoryA(folder.file(prefix).c_str(), nullptr);
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.fault);
        std::string leaf = std::string(c.fault) + ".bin";
        std::string body(300000, 'n');
        serve(leaf, body, c.fault);
        writeWholeFile(local(leaf), "old");
        gState.buttonState[0] = 0;
        int result = downloadPatchFile(name(leaf).c_str(), "/Player/");
        EXPECT_FALSE(exists(local(leaf + ".download")));
        if (c.pattern[0] == '\0') {
            EXPECT_EQ(result, 1);
            EXPECT_EQ(readWholeFile(local(leaf)), body);
            continue;
        }
        char expected[512];
        snprintf(expected, sizeof expected, c.pattern, name(leaf).c_str());
        EXPECT_EQ(result, 0);
        EXPECT_EQ(status(), expected);
        EXPECT_EQ(gState.buttonState[0], 3);
        EXPECT_EQ(readWholeFile(local(leaf)), "old");
    }
}

TEST_F(Worker, NamesLeavingTheFolderAreNeverRequested) {
    CreateDirectoryA(folder.file("game").c_str(), nullptr);
    SetCurrentDirectoryA(folder.file("game").c_str());
    serve("escape.bin", "payload");
    const std::string names[] = {"../" + name("escape.bin"), "..\\escape.bin", "C:/escape.bin",
                                 "/escape.bin", "\\\\127.0.0.1\\share\\escape.bin", "escape.bin:ads",
                                 name("a/../../escape.bin"), name("folder/")};
    for (const std::string& bad : names) {
        SCOPED_TRACE(bad);
        gState.buttonState[0] = 0;
        EXPECT_EQ(downloadPatchFile(bad.c_str(), "/Player/"), 0);
        EXPECT_EQ(status(), "Creating file failed. (" + bad + ")");
        EXPECT_EQ(gState.buttonState[0], 3);
    }
    EXPECT_FALSE(exists(folder.file(prefix)));
    EXPECT_FALSE(exists(folder.file("escape.bin")));
    SetCurrentDirectoryA(folder.path().c_str());
}

// The neighbouring ports present a certificate for another host name and an expired one: the
// worker checks certificates in full, so both fail to open.
TEST_F(Worker, CertificatesAreCheckedInFull) {
    serve("cert.bin", "payload");
    const int port = atoi(getenv("VYR_TEST_PORT"));
    for (int offset : {1, 2}) {
        char base[kSettingTextSize];
        snprintf(base, sizeof base, "https://127.0.0.1:%d/Setup/live/StandaloneWindows64", port + offset);
        setBaseUrl(base);
        SCOPED_TRACE(base);
        EXPECT_EQ(downloadPatchFile(name("cert.bin").c_str(), "/Player/"), 0);
        EXPECT_EQ(status(), "Downloading failed - open (" + name("cert.bin") + ")");
        EXPECT_FALSE(exists(local("cert.bin")));
    }
    setBaseUrl(savedBase);
    EXPECT_EQ(downloadPatchFile(name("cert.bin").c_str(), "/Player/"), 1);
}

unsigned __stdcall runWorker(void* result) {
    *static_cast<std::atomic<unsigned>*>(result) = updateWorker(nullptr);
    return 0;
}

// Sampled from another thread the way the window's timer reads them: both bars stay within 0..100,
// the file bar moves during a slow body, and the total bar shows k * 100 / n for the k-th file.
TEST_F(Worker, ProgressStaysBoundedAndMovesDuringASlowFile) {
    serve("a.bin", std::string(200000, 'a'), "slow");
    serve("b.bin", std::string(200000, 'b'), "slow");
    serve("c.bin", "c");
    addStep(10006, {name("a.bin"), name("b.bin")});
    addStep(10007, {name("c.bin")});
    std::atomic<unsigned> result{99};
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, runWorker, &result, 0, nullptr));
    ASSERT_NE(thread, nullptr);
    std::vector<int> fileValues, totalValues;
    while (WaitForSingleObject(thread, 20) == WAIT_TIMEOUT) {
        fileValues.push_back(static_cast<int>(gState.fileProgress));
        totalValues.push_back(static_cast<int>(gState.totalProgress));
    }
    CloseHandle(thread);
    EXPECT_EQ(result.load(), 1u);
    bool sawPartialFile = false, sawSecondFileTotal = false;
    for (int v : fileValues) {
        EXPECT_GE(v, 0);
        EXPECT_LE(v, 100);
        sawPartialFile = sawPartialFile || (v > 0 && v < 100);
    }
    for (int v : totalValues) {
        EXPECT_TRUE(v == 0 || v == 33 || v == 66 || v == 100) << v;
        sawSecondFileTotal = sawSecondFileTotal || v == 33;
    }
    EXPECT_TRUE(sawPartialFile);
    EXPECT_TRUE(sawSecondFileTotal);
}

// Something that is not an archive can never unpack: it fails at once with its message, Start
// disabled, no dialog and no retries; the archive stays for the next start.
TEST_F(Worker, ArchiveThatCanNeverUnpackFailsAtOnce) {
    serve("broken.zip", "this is not a zip archive");
    addStep(10006, {name("broken.zip")});
    DialogWatcher watcher;
    DWORD started = GetTickCount();
    EXPECT_EQ(updateWorker(nullptr), 0u);
    EXPECT_LT(GetTickCount() - started, 5000u);
    EXPECT_EQ(gState.quitRequested, 0);
    EXPECT_EQ(gState.buttonState[0], 3);
    EXPECT_EQ(status(), "Extracting " + name("broken.zip") + " - error in opening file.");
    EXPECT_EQ(readWholeFile(local("broken.zip")), "this is not a zip archive");
    EXPECT_TRUE(watcher.seen().empty());
    EXPECT_EQ(recordedVersion(), -1);
}

}  // namespace
