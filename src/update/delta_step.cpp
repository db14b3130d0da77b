// Rebuilding a pending step from the signed delta list: each payload is downloaded beside its target,
// applied into the target's part file and renamed over it, then the step's delete list runs. A payload
// that will not do (gone from the server, not rebuilding what the list signs, a base that changed)
// sends the step to its archive; files already rebuilt are the archive's own, which it overwrites.
#include "update/delta_step.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "app/launcher_state.h"
#include "deltas/delta_apply.h"
#include "formats/own_file_names.h"
#include "formats/path_check.h"
#include "logging/support_log.h"
#include "repair/game_check.h"
#include "settings/launcher_settings.h"
#include "update/delete_list.h"
#include "update/delta_plan.h"
#include "update/patch_download.h"
#include "update/patch_progress.h"
#include "verification/delta_verify.h"
#include "verification/patch_verify.h"

namespace {

enum { kLocalNameSize = kIndexPathSize + 16, kWidePathSize = 1024 };
// Far above any release's targets; a bigger file is not one this launcher wrote.
const long long kMaxMarkerSize = 64LL * 1024 * 1024;

// The local files of one entry, "\"-separated UTF-8 as the apply step takes them.
struct EntryFiles {
    char target[kLocalNameSize];
    char payload[kLocalNameSize];  // <target>.vyr-delta
    char part[kLocalNameSize];     // <target>.vyr-part
};

bool toLocalName(const char* targetPath, char* local, size_t localSize) {
    int written = snprintf(local, localSize, "%s", targetPath);
    if (written < 0 || static_cast<size_t>(written) >= localSize) return false;
    for (char* c = local; *c != '\0'; ++c)
        if (*c == '/') *c = '\\';
    return true;
}

bool entryFilesOf(const char* targetPath, EntryFiles* files) {
    if (!toLocalName(targetPath, files->target, sizeof files->target)) return false;
    int payload = snprintf(files->payload, sizeof files->payload, "%s%s", files->target, own_file::kDeltaSuffix);
    int part = snprintf(files->part, sizeof files->part, "%s%s", files->target, own_file::kPartSuffix);
    return payload > 0 && static_cast<size_t>(payload) < sizeof files->payload && part > 0 &&
           static_cast<size_t>(part) < sizeof files->part;
}

bool hashInstalledTarget(void*, const char* targetPath, uint8_t digest[kSha256Size], uint64_t* size) {
    char local[kLocalNameSize];
    return toLocalName(targetPath, local, sizeof local) && hashInstalledFile(local, digest, size);
}

void removeLocalFile(const char* utf8Name) {
    WCHAR wide[kWidePathSize];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8Name, -1, wide, kWidePathSize) > 0) DeleteFileW(wide);
}

// The part file is flushed by the apply step; the write-through rename makes the new name durable
// before the step's version can be recorded. A read-only or hidden target is cleared first.
bool renameOverTarget(const char* part, const char* target) {
    WCHAR widePart[kWidePathSize], wideTarget[kWidePathSize];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, part, -1, widePart, kWidePathSize) == 0 ||
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, target, -1, wideTarget, kWidePathSize) == 0)
        return false;
    SetFileAttributesW(wideTarget, FILE_ATTRIBUTE_NORMAL);
    return MoveFileExW(widePart, wideTarget, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

DeltaStepOutcome failStep(const char* pattern, const char* name) {
    formatStatusText(pattern, name);
    markFailureShown();
    return DeltaStepOutcome::Failed;
}

// A payload a killed run left complete is taken as it is: its hash decides, as a download's would.
bool payloadAlreadyHere(const DeltaEntry& entry, const EntryFiles& files) {
    uint8_t digest[kSha256Size];
    uint64_t size = 0;
    return hashInstalledFile(files.payload, digest, &size) && size == entry.payloadSize &&
           memcmp(digest, entry.payloadSha256, kSha256Size) == 0;
}

DeltaStepOutcome fetchPayload(const DeltaEntry& entry, const EntryFiles& files) {
    if (payloadAlreadyHere(entry, files)) return DeltaStepOutcome::Applied;
    PatchIndexFile expected = {};
    memcpy(expected.sha256, entry.payloadSha256, kSha256Size);
    expected.size = entry.payloadSize;
    snprintf(expected.path, sizeof expected.path, "%s", entry.payloadPath);
    switch (downloadVerifiedFile(entry.payloadPath, files.payload, entry.targetPath, expected)) {
        case VerifiedFetch::Done: return DeltaStepOutcome::Applied;
        case VerifiedFetch::Refused: return DeltaStepOutcome::UseArchive;
        default: return DeltaStepOutcome::Failed;
    }
}

void showApplyProgress(void*, uint64_t written, uint64_t total) {
    gState.fileProgress = filePercent(static_cast<long long>(written), static_cast<long long>(total),
                                      gState.fileProgress);
}

void logApply(const DeltaEntry& entry, const char* outcome) {
    LogEvent event = logEvent(kLogDelta);
    event.name = entry.targetPath;
    event.bytes = static_cast<long long>(entry.targetSize);
    event.message = outcome;
    writeLogEvent(event);
}

DeltaStepOutcome applyPayload(const PlannedEntry& planned, const EntryFiles& files) {
    const DeltaEntry& entry = *planned.entry;
    formatStatusText("Applying patch (%s)", entry.targetPath);
    gState.fileProgress = 0;
    DeltaApplyRequest request = {planned.work == EntryWork::Delta ? files.target : nullptr, files.payload, files.part,
                                 entry.targetSize, entry.targetSha256, showApplyProgress, nullptr};
    DeltaApply result = applyDeltaPayload(request);
    logApply(entry, result == DeltaApply::Done       ? "applied"
                    : result == DeltaApply::NoSpace  ? "not applied: no space"
                    : result == DeltaApply::WriteFailed ? "not applied: write failed"
                                                     : "does not rebuild the target: the step takes its archive");
    if (result == DeltaApply::Done) {
        if (!renameOverTarget(files.part, files.target)) {
            removeLocalFile(files.part);
            return failStep("Creating file failed. (%s)", entry.targetPath);
        }
        removeLocalFile(files.payload);
        noteFilePutInPlace(entry.targetPath, entry.targetSha256);
        return DeltaStepOutcome::Applied;
    }
    removeLocalFile(files.part);
    if (result == DeltaApply::NoSpace) return failStep("Not enough free disk space. (%s)", entry.targetPath);
    if (result == DeltaApply::WriteFailed) return failStep("Creating file failed. (%s)", entry.targetPath);
    // The payload was the one the list signs: fetching it again cannot make it rebuild the target.
    removeLocalFile(files.payload);
    return DeltaStepOutcome::UseArchive;
}

DeltaStepOutcome bringEntryToTarget(const PlannedEntry& planned) {
    EntryFiles files;
    if (!entryFilesOf(planned.entry->targetPath, &files)) return DeltaStepOutcome::UseArchive;
    gState.fileProgress = 0;
    DeltaStepOutcome outcome = fetchPayload(*planned.entry, files);
    return outcome == DeltaStepOutcome::Applied ? applyPayload(planned, files) : outcome;
}

// What a killed run, or one that gave the step to its archive, left beside a target: never used again
// once the target is in place.
void removeTargetLeftovers(const char* targetPath) {
    EntryFiles files;
    if (!isSafeRelativePath(targetPath) || !entryFilesOf(targetPath, &files)) return;
    char partial[kLocalNameSize + 32];
    removeLocalFile(files.payload);
    removeLocalFile(files.part);
    snprintf(partial, sizeof partial, "%s%s", files.payload, own_file::kDownloadSuffix);
    removeLocalFile(partial);
    snprintf(partial, sizeof partial, "%s%s", files.payload, own_file::kValidatorSuffix);
    removeLocalFile(partial);
}

void removeEntryLeftovers(const DeltaEntry& entry) {
    removeTargetLeftovers(entry.targetPath);
}

// One write before the first payload's download: the version, then one target per line.
void writeDeltaMarker(const VersionStep& step, const DeltaStepPlan& plan) {
    std::string targets;
    for (const PlannedEntry& planned : plan.entries)
        if (planned.work != EntryWork::InPlace) targets += std::string(planned.entry->targetPath) + "\n";
    if (targets.empty()) return;
    std::string text = std::to_string(step.version) + "\n" + targets;
    HANDLE file = CreateFileA(own_file::kDeltaMarker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    FlushFileBuffers(file);
    CloseHandle(file);
}

bool readDeltaMarker(std::string* text) {
    HANDLE file = CreateFileA(own_file::kDeltaMarker, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool read = GetFileSizeEx(file, &size) && size.QuadPart < kMaxMarkerSize;
    if (read) {
        text->resize(static_cast<size_t>(size.QuadPart));
        DWORD got = 0;
        read = text->empty() || (ReadFile(file, &(*text)[0], static_cast<DWORD>(text->size()), &got, nullptr) &&
                                 got == text->size());
    }
    CloseHandle(file);
    return read;
}

}  // namespace

// No archive stands behind one file: where a step would quietly take its archive instead (a name
// too long for its work files, a payload that does not rebuild the listed bytes), the failure is said
// here. A refused download has already said its own.
DeltaStepOutcome bringWholeFileInPlace(const DeltaEntry& entry) {
    PlannedEntry planned = {&entry, EntryWork::Whole};
    EntryFiles files;
    if (!entryFilesOf(entry.targetPath, &files)) return failStep("Downloading failed - open (%s)", entry.targetPath);
    gState.fileProgress = 0;
    DeltaStepOutcome outcome = fetchPayload(entry, files);
    bool fetched = outcome == DeltaStepOutcome::Applied;
    if (fetched) outcome = applyPayload(planned, files);
    if (outcome != DeltaStepOutcome::UseArchive) return outcome;
    removeEntryLeftovers(entry);
    return fetched ? failStep("Downloading failed - verify (%s)", entry.targetPath) : DeltaStepOutcome::Failed;
}

namespace {

const PatchIndexFile* archiveIndexLine(const char* archiveName) {
    char indexPath[kIndexPathSize];
    bool missing = false;
    if (!playerIndexPath(archiveName, indexPath, sizeof indexPath)) return nullptr;
    return expectedPatchFile(indexPath, &missing);
}

}  // namespace

void loadDeltaListForRun() {
    if (!patchIndexRequired() || gState.versionSteps[0].version == 0) return;
    loadDeltaList(settingText(SettingText::PatchBaseUrl), own_file::kDeltaListCopy);
}

DeltaStepOutcome applyStepFromDeltas(const VersionStep& step) {
    const DeltaList* list = runDeltaList();
    if (list == nullptr || step.fileCount != 1) return DeltaStepOutcome::UseArchive;
    DeltaStepPlan plan;
    if (!planDeltaStep(*list, step, archiveIndexLine(step.files[0]), hashInstalledTarget, nullptr, &plan))
        return DeltaStepOutcome::UseArchive;
    writeDeltaMarker(step, plan);
    for (const PlannedEntry& planned : plan.entries) {
        if (planned.work == EntryWork::InPlace) {
            removeEntryLeftovers(*planned.entry);
            continue;
        }
        DeltaStepOutcome outcome = bringEntryToTarget(planned);
        if (outcome == DeltaStepOutcome::UseArchive)
            for (const PlannedEntry& other : plan.entries) removeEntryLeftovers(*other.entry);
        if (outcome != DeltaStepOutcome::Applied) return outcome;
    }
    applyDeleteList();
    SetFileAttributesA(settingText(SettingText::GameExeName), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    return DeltaStepOutcome::Applied;
}

void removeDeltaLeftovers(const VersionStep& step) {
    std::string text;
    if (!readDeltaMarker(&text)) return;
    std::istringstream lines(text);
    std::string line;
    // A marker of a later step comes from a folder whose config went back; its files may still be used.
    if (!std::getline(lines, line) || strtoul(line.c_str(), nullptr, 10) > static_cast<unsigned long>(step.version))
        return;
    while (std::getline(lines, line))
        if (!line.empty()) removeTargetLeftovers(line.c_str());
    DeleteFileA(own_file::kDeltaMarker);
}
