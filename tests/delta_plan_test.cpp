// Planning a step from the delta list: a chain of steps is planned against what the step before left,
// a run killed after a rename is not sent to the archive, and anything that does not tie the block to
// the installed files and to the step's archive, or that saves nothing, keeps the archive.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "update/delta_plan.h"

namespace {

// Installed files by target path; a file's digest is its one-byte state repeated.
struct Installed {
    std::map<std::string, std::pair<uint8_t, uint64_t>> files;
    std::map<std::string, int> hashed;
};

bool hashOf(void* context, const char* path, uint8_t digest[kSha256Size], uint64_t* size) {
    Installed* installed = static_cast<Installed*>(context);
    ++installed->hashed[path];
    auto found = installed->files.find(path);
    if (found == installed->files.end()) return false;
    memset(digest, found->second.first, kSha256Size);
    *size = found->second.second;
    return true;
}

DeltaEntry entry(const char* target, int base, uint8_t state, uint64_t size, uint64_t payloadSize) {
    DeltaEntry e = {};
    e.hasBase = base >= 0;
    memset(e.baseSha256, base, kSha256Size);
    memset(e.targetSha256, state, kSha256Size);
    e.targetSize = size;
    memset(e.payloadSha256, state ^ 0x80, kSha256Size);
    e.payloadSize = payloadSize;
    snprintf(e.payloadPath, sizeof e.payloadPath, "Player/Deltas/%02x.zst", state);
    snprintf(e.targetPath, sizeof e.targetPath, "%s", target);
    return e;
}

DeltaStep block(uint32_t version, uint8_t archiveState, std::vector<DeltaEntry> entries) {
    DeltaStep step = {};
    step.version = version;
    memset(step.archiveSha256, archiveState, kSha256Size);
    snprintf(step.archiveName, sizeof step.archiveName, "Patch%u.zip", version);
    step.entries = std::move(entries);
    return step;
}

VersionStep manifestStep(int version, std::vector<std::string> files) {
    VersionStep step = {};
    step.version = version;
    step.fileCount = static_cast<int>(files.size());
    for (size_t i = 0; i < files.size(); ++i) snprintf(step.files[i], sizeof step.files[i], "%s", files[i].c_str());
    return step;
}

PatchIndexFile archiveLine(uint32_t version, uint8_t state, uint64_t size) {
    PatchIndexFile line = {};
    memset(line.sha256, state, kSha256Size);
    line.size = size;
    snprintf(line.path, sizeof line.path, "Player/Patch%u.zip", version);
    return line;
}

std::vector<EntryWork> worksOf(const DeltaStepPlan& plan) {
    std::vector<EntryWork> works;
    for (const PlannedEntry& planned : plan.entries) works.push_back(planned.work);
    return works;
}

// 10006 changes a.dat (1 -> 2) and ships its delete list whole; 10007 changes a.dat again (2 -> 3)
// and b.dat (5 -> 6).
DeltaList chainList() {
    DeltaList list = {};
    list.steps.push_back(
        block(10006, 0xA6, {entry("Data/a.dat", 1, 2, 9000, 100), entry("delete.txt", -1, 9, 20, 10)}));
    list.steps.push_back(
        block(10007, 0xA7, {entry("Data/a.dat", 2, 3, 9000, 100), entry("Data/b d/ü.dat", 5, 6, 500, 50)}));
    return list;
}

TEST(DeltaPlan, AChainIsPlannedStepByStepAgainstWhatTheStepBeforeLeft) {
    DeltaList list = chainList();
    Installed installed;
    installed.files = {{"Data/a.dat", {1, 8000}}, {"Data/b d/ü.dat", {5, 400}}};
    const VersionStep step6 = manifestStep(10006, {"Patch10006.zip"}), step7 = manifestStep(10007, {"Patch10007.zip"});
    const PatchIndexFile archive6 = archiveLine(10006, 0xA6, 1 << 20), archive7 = archiveLine(10007, 0xA7, 1 << 20);
    DeltaStepPlan plan;

    // Before 10006 is in place, 10007's delta of a.dat has no base: that step would take its archive.
    EXPECT_FALSE(planDeltaStep(list, step7, &archive7, hashOf, &installed, &plan));
    ASSERT_TRUE(planDeltaStep(list, step6, &archive6, hashOf, &installed, &plan));
    EXPECT_EQ(worksOf(plan), (std::vector<EntryWork>{EntryWork::Delta, EntryWork::Whole}));
    EXPECT_EQ(plan.payloadBytes, 110u);
    EXPECT_EQ(plan.entries[0].entry, &list.steps[0].entries[0]);

    installed.files["Data/a.dat"] = {2, 9000};
    installed.files["delete.txt"] = {9, 20};
    installed.hashed.clear();
    ASSERT_TRUE(planDeltaStep(list, step7, &archive7, hashOf, &installed, &plan));
    EXPECT_EQ(worksOf(plan), (std::vector<EntryWork>{EntryWork::Delta, EntryWork::Delta}));
    EXPECT_EQ(plan.payloadBytes, 150u);
    EXPECT_EQ(installed.hashed, (std::map<std::string, int>{{"Data/a.dat", 1}, {"Data/b d/ü.dat", 1}}));

    // Killed after a.dat was renamed into place: that file is done, not a reason for the archive.
    installed.files["Data/a.dat"] = {3, 9000};
    ASSERT_TRUE(planDeltaStep(list, step7, &archive7, hashOf, &installed, &plan));
    EXPECT_EQ(worksOf(plan), (std::vector<EntryWork>{EntryWork::InPlace, EntryWork::Delta}));
    EXPECT_EQ(plan.payloadBytes, 50u);
    // The target's hash with another size is not the target.
    installed.files["Data/a.dat"] = {3, 8999};
    EXPECT_FALSE(planDeltaStep(list, step7, &archive7, hashOf, &installed, &plan));
}

// What one case starts from: 10006 as served, over an installed 10005.
struct Served {
    DeltaList list = chainList();
    VersionStep step = manifestStep(10006, {"Patch10006.zip"});
    PatchIndexFile archive = archiveLine(10006, 0xA6, 1 << 20);
    Installed installed;
    Served() { installed.files = {{"Data/a.dat", {1, 8000}}}; }
    DeltaEntry& entry(size_t i) { return list.steps[0].entries[i]; }
};

void setPath(char* field, const char* path) { snprintf(field, kIndexPathSize, "%s", path); }

TEST(DeltaPlan, AnythingNotTiedToTheInstalledFilesAndTheArchiveOrSavingNothingKeepsTheArchive) {
    const struct {
        const char* what;
        bool planned;
        std::function<void(Served&)> change;
    } kCases[] = {
        {"as served", true, [](Served&) {}},
        // Two payloads of 100 and 10 bytes, each a request of its own.
        {"archive a byte above them", true, [](Served& c) { c.archive.size = 110 + 2 * kPayloadRequestCost + 1; }},
        {"archive as large as the payloads", false, [](Served& c) { c.archive.size = 110 + 2 * kPayloadRequestCost; }},
        {"archive of another release", false, [](Served& c) { c.archive.sha256[31] ^= 1; }},
        {"another archive name", false, [](Served& c) { setPath(c.list.steps[0].archiveName, "patch10006.zip"); }},
        {"no block for the version", false, [](Served& c) { c.list.steps[0].version = 10005; }},
        {"two manifest files", false, [](Served& c) { c.step = manifestStep(10006, {"Patch10006.zip", "x.zip"}); }},
        {"a plain file step", false,
         [](Served& c) {
             c.step = manifestStep(10006, {"Patch10006.dat"});
             setPath(c.list.steps[0].archiveName, "Patch10006.dat");
         }},
        {"modified base", false, [](Served& c) { c.installed.files["Data/a.dat"] = {7, 8000}; }},
        {"missing base", false, [](Served& c) { c.installed.files.erase("Data/a.dat"); }},
        {"target leaving the folder", false, [](Served& c) { setPath(c.entry(1).targetPath, "../delete.txt"); }},
        {"target named like the launcher's own", false, [](Served& c) { setPath(c.entry(1).targetPath, "config"); }},
        {"payload path leaving the base", false, [](Served& c) { setPath(c.entry(0).payloadPath, "Player/../../x"); }},
        {"payload sizes wrapping around", false, [](Served& c) { c.entry(1).payloadSize = UINT64_MAX - 50; }},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        Served served;
        c.change(served);
        DeltaStepPlan plan;
        bool planned = planDeltaStep(served.list, served.step, &served.archive, hashOf, &served.installed, &plan);
        EXPECT_EQ(planned, c.planned);
        for (const auto& count : served.installed.hashed) EXPECT_EQ(count.second, 1) << count.first;
    }
    Served served;
    DeltaStepPlan plan;
    EXPECT_FALSE(planDeltaStep(served.list, served.step, nullptr, hashOf, &served.installed, &plan));
}

}  // namespace
