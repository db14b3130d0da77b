// A launcher built with the publisher's key patching 10005 to 10007 from releases whose delta lists
// and payloads openssl and the zstd command line made: the payloads alone rebuild the build byte for
// byte, a killed run's leftovers are used or replaced, and a step whose payloads will not do (a
// modified base, a payload the server lost, a signed target the payload does not rebuild) takes its
// archive, never putting a wrong file in place.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/launcher_state.h"
#include "settings/config_file.h"
#include "settings/launcher_settings.h"
#include "support/temp_folder.h"
#include "update/manifest.h"
#include "update/update_worker.h"

namespace {

const std::string kBase = "https://127.0.0.1:" + std::string(getenv("VYR_TEST_PORT") ? getenv("VYR_TEST_PORT") : "0") +
                          "/Setup/live/StandaloneWindows64/verify/";
const std::string kServed = std::string(VYR_TEST_WWW_DIR) + "/Setup/live/StandaloneWindows64/verify/";
const std::string kLog = std::string(VYR_TEST_WWW_DIR) + "/../patch_server.log";
const std::string kRegionMap = "Maps/r\xc3\xa9gion.map";
const std::vector<std::string> kInstalled = {"Data/table.dat", kRegionMap, "old.bin"};
const std::string kNewFile = "N\xc3\xa9o/new.dat";  // in a folder the old build lacks
const std::vector<std::string> kExpected = {"Data/table.dat", kRegionMap, kNewFile};

std::wstring widen(const std::string& utf8) {
    wchar_t wide[1024];
    return MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide, 1024) > 0 ? wide : L"";
}

std::string local(const std::string& path) {
    std::string out = path;
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

bool existsUtf8(const std::string& path) {
    return GetFileAttributesW(widen(local(path)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string readUtf8(const std::string& path) {
    std::string content;
    FILE* file = _wfopen(widen(local(path)).c_str(), L"rb");
    if (file == nullptr) return "<missing>";
    char chunk[65536];
    size_t count;
    while ((count = fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, count);
    fclose(file);
    return content;
}

void writeUtf8(const std::string& path, const std::string& content) {
    std::string folder = local(path);
    for (size_t at = folder.find('\\', 3); at != std::string::npos; at = folder.find('\\', at + 1))
        CreateDirectoryW(widen(folder.substr(0, at)).c_str(), nullptr);
    FILE* file = _wfopen(widen(folder).c_str(), L"wb");
    ASSERT_NE(file, nullptr) << path;
    fwrite(content.data(), 1, content.size(), file);
    fclose(file);
}

// Payload paths by "<version> <target path>", as the fixture lists them.
std::map<std::string, std::string> payloadsOf(const std::string& caseName) {
    std::istringstream lines(readUtf8(kServed + caseName + "/payloads.txt"));
    std::map<std::string, std::string> payloads;
    for (std::string line; std::getline(lines, line);)
        payloads[line.substr(0, line.rfind(' '))] = line.substr(line.rfind(' ') + 1);
    return payloads;
}

// Requests of files below the case's folder ("Player/...") that the server logged since this was made.
struct Requests {
    std::string caseName;
    size_t logStart = readWholeFile(kLog).size();
    size_t since(const std::string& leaf) const {
        std::string log = readWholeFile(kLog).substr(logStart), needle = "verify/" + caseName + "/" + leaf;
        size_t count = 0;
        for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) ++count;
        return count;
    }
    size_t archivesSince(int step) const { return since("Player/Patch" + std::to_string(step) + ".zip"); }
};

struct CaseRun {
    unsigned worker;
    std::string status;
    int recorded;
};

// One start of the launcher's update path from an installed 10005 build.
CaseRun runCase(const TempFolder& folder, const std::string& caseName) {
    auto set = [](SettingText id, const std::string& text) {
        snprintf(gSettings.settingTexts[static_cast<int>(id)], kSettingTextSize, "%s", text.c_str());
    };
    set(SettingText::PatchBaseUrl, kBase + caseName);
    set(SettingText::PatchInfoUrl, kBase + caseName + "/LauncherPatchInfo.txt");
    snprintf(gState.moduleDirectory, sizeof gState.moduleDirectory, "%s", folder.path().c_str());
    memset(gState.versionSteps, 0, sizeof gState.versionSteps);
    gState.totalFileCount = 0;
    gState.stepTableCut = 0;
    gState.localGameVersion = 10005;
    gState.buttonState[0] = 3;
    writeConfig();
    setStatusText("Checking current version...");
    CaseRun run{0, "", 0};
    EXPECT_EQ(fetchManifest(), 1);
    run.worker = updateWorker(nullptr);
    run.status = gState.statusText;
    gState.localGameVersion = 0;
    run.recorded = readConfig() == 1 ? gState.localGameVersion : -1;
    return run;
}

void installOldBuild(const TempFolder& folder, const std::string& caseName) {
    for (const std::string& path : kInstalled)
        writeUtf8(folder.path() + "/" + path, readUtf8(kServed + caseName + "/Installed/" + path));
}

// The folder holds the 10007 build and nothing the run kept for itself.
void expectNewBuild(const TempFolder& folder, const std::string& caseName, const CaseRun& run) {
    EXPECT_EQ(run.worker, 1u) << run.status;
    EXPECT_EQ(run.recorded, 10007);
    for (const std::string& path : kExpected) {
        std::string expected = readUtf8(kServed + caseName + "/Expected/" + path);
        ASSERT_NE(expected, "<missing>");
        EXPECT_TRUE(readUtf8(folder.path() + "/" + path) == expected) << path << " differs";
        for (const char* suffix :
             {".vyr-delta", ".vyr-part", ".vyr-delta.download", ".vyr-delta.download.validator", ".download"})
            EXPECT_FALSE(existsUtf8(folder.path() + "/" + path + suffix)) << path << suffix;
    }
    for (const char* gone : {"old.bin", "delete.txt", "update.dlt", "update.dlm", "Patch10006.zip", "Patch10007.zip"})
        EXPECT_FALSE(existsUtf8(folder.path() + "/" + gone)) << gone;
}

TEST(WorkerDeltas, TheChainOfPayloadsAloneRebuildsTheBuildAndAKilledRunsLeftoversAreUsedOrReplaced) {
    const std::string name = "deltas";
    std::map<std::string, std::string> payloads = payloadsOf(name);
    ASSERT_EQ(payloads.size(), 5u);
    {
        TempFolder folder;
        installOldBuild(folder, name);
        Requests requests{name};
        CaseRun run = runCase(folder, name);
        expectNewBuild(folder, name, run);
        for (const auto& p : payloads) EXPECT_EQ(requests.since(p.second), 1u) << p.first;
        EXPECT_EQ(requests.since("Player/"), payloads.size());  // nothing else: no archive
    }
    {
        // Killed in 10006: new.dat was renamed into place (before its payload was removed), table.dat's
        // payload was complete, a part file of it was half written, and the map's payload was cut short.
        TempFolder folder;
        installOldBuild(folder, name);
        writeUtf8(folder.path() + "/" + kNewFile, readUtf8(kServed + name + "/Expected/" + kNewFile));
        writeUtf8(folder.path() + "/" + kNewFile + ".vyr-delta", "its payload");
        const std::string table = payloads["10006 Data/table.dat"], map = payloads["10006 " + kRegionMap];
        writeUtf8(folder.path() + "/Data/table.dat.vyr-delta", readUtf8(kServed + name + "/" + table));
        writeUtf8(folder.path() + "/Data/table.dat.vyr-part", "half a table");
        writeUtf8(folder.path() + "/" + kRegionMap + ".vyr-delta", readUtf8(kServed + name + "/" + map).substr(0, 100));
        Requests requests{name};
        CaseRun run = runCase(folder, name);
        expectNewBuild(folder, name, run);
        EXPECT_EQ(requests.since(table), 0u);
        EXPECT_EQ(requests.since(map), 1u);
        EXPECT_EQ(requests.since("Player/"), 3u);  // the map's, the delete list's and 10007's table
    }
}

TEST(WorkerDeltas, AStepWhosePayloadsWillNotDoTakesItsArchiveAndNeverPutsAWrongFileInPlace) {
    const std::string name = "deltas";
    {
        // A modified base sends 10006 to its archive; the archive leaves the base 10007's delta needs.
        // A killed delta run of 10006 left payloads, partial downloads and part files, and its marker:
        // the archive's step sweeps them, though 10007 touches only the table.
        TempFolder folder;
        installOldBuild(folder, name);
        std::string marker = "10006\n";
        for (const std::string& path : kExpected) {
            marker += path + "\n";
            for (const char* suffix : {".vyr-delta", ".vyr-part", ".vyr-delta.download", ".vyr-delta.download.validator"})
                writeUtf8(folder.path() + "/" + path + suffix, "from the killed run");
        }
        writeUtf8(folder.path() + "/update.dlm", marker);
        std::string table = readUtf8(folder.path() + "/Data/table.dat");
        table[1000] ^= 1;
        writeUtf8(folder.path() + "/Data/table.dat", table);
        Requests requests{name};
        CaseRun run = runCase(folder, name);
        expectNewBuild(folder, name, run);
        EXPECT_EQ(requests.archivesSince(10006), 1u);
        EXPECT_EQ(requests.archivesSince(10007), 0u);
    }
    {
        // A payload the server lost: the step takes its archive.
        const std::string fault = kServed + name + "/" + payloadsOf(name)["10006 " + kRegionMap] + ".fault";
        writeWholeFile(fault, "status404");
        TempFolder folder;
        installOldBuild(folder, name);
        Requests requests{name};
        CaseRun run = runCase(folder, name);
        DeleteFileA(fault.c_str());
        expectNewBuild(folder, name, run);
        EXPECT_EQ(requests.archivesSince(10006), 1u);
        EXPECT_EQ(requests.archivesSince(10007), 0u);
    }
    {
        // The list signs a target hash the table's payload does not rebuild: with the archive gone too,
        // the step fails and the installed table is untouched; with the archive back, it finishes.
        const std::string bad = "deltas-bad-target";
        const std::string fault = kServed + bad + "/Player/Patch10006.zip.fault";
        writeWholeFile(fault, "status404");
        TempFolder folder;
        installOldBuild(folder, bad);
        CaseRun failed = runCase(folder, bad);
        DeleteFileA(fault.c_str());
        EXPECT_EQ(failed.worker, 0u);
        EXPECT_EQ(failed.status, "Downloading failed [404] (Patch10006.zip)");
        EXPECT_EQ(failed.recorded, 10005);
        std::string installedTable = readUtf8(kServed + bad + "/Installed/Data/table.dat");
        EXPECT_TRUE(readUtf8(folder.path() + "/Data/table.dat") == installedTable);
        EXPECT_FALSE(existsUtf8(folder.path() + "/Data/table.dat.vyr-part"));
        Requests requests{bad};
        CaseRun finished = runCase(folder, bad);
        expectNewBuild(folder, bad, finished);
        EXPECT_EQ(requests.archivesSince(10006), 1u);
        EXPECT_EQ(requests.archivesSince(10007), 0u);
    }
}

}  // namespace
