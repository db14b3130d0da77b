// Planning a step from the delta list: per file, what the installed copy allows; for the step, whether
// the payloads beat its archive. A player many versions behind is planned step by step, each step
// against the files the one before left, so a chain of deltas is taken only where it is smaller.
#include "update/delta_plan.h"

#include <cstring>

#include "formats/own_file_names.h"
#include "formats/path_check.h"
#include "update/patch_progress.h"

namespace {

bool isWritableTarget(const DeltaEntry& entry) {
    return isSafeRelativePath(entry.targetPath) && ownFileNameOf(entry.targetPath) == nullptr &&
           isSafeRelativePath(entry.payloadPath);
}

bool blockBelongsToStep(const DeltaStep* block, const VersionStep& step, const PatchIndexFile* archiveLine) {
    return block != nullptr && archiveLine != nullptr && strcmp(block->archiveName, step.files[0]) == 0 &&
           memcmp(block->archiveSha256, archiveLine->sha256, kSha256Size) == 0;
}

// false when the installed file allows neither the delta nor the whole file.
bool planEntry(const DeltaEntry& entry, InstalledFileHash hashOf, void* context, EntryWork* work) {
    uint8_t digest[kSha256Size];
    uint64_t size = 0;
    bool installed = hashOf(context, entry.targetPath, digest, &size);
    if (installed && size == entry.targetSize && memcmp(digest, entry.targetSha256, kSha256Size) == 0) {
        *work = EntryWork::InPlace;
        return true;
    }
    if (!entry.hasBase) {
        *work = EntryWork::Whole;
        return true;
    }
    *work = EntryWork::Delta;
    return installed && memcmp(digest, entry.baseSha256, kSha256Size) == 0;
}

uint64_t addSaturating(uint64_t a, uint64_t b) { return a + b < a ? UINT64_MAX : a + b; }

}  // namespace

bool planDeltaStep(const DeltaList& list, const VersionStep& step, const PatchIndexFile* archiveLine,
                   InstalledFileHash hashOf, void* context, DeltaStepPlan* plan) {
    plan->entries.clear();
    plan->payloadBytes = 0;
    if (step.fileCount != 1 || !isArchiveName(step.files[0])) return false;
    const DeltaStep* block = findDeltaStep(list, static_cast<uint32_t>(step.version));
    if (!blockBelongsToStep(block, step, archiveLine)) return false;
    uint64_t cost = 0;  // stops the hashing of installed files as soon as the archive is the cheaper
    for (const DeltaEntry& entry : block->entries) {
        EntryWork work;
        if (!isWritableTarget(entry) || !planEntry(entry, hashOf, context, &work)) return false;
        if (work != EntryWork::InPlace) {
            plan->payloadBytes = addSaturating(plan->payloadBytes, entry.payloadSize);
            cost = addSaturating(cost, addSaturating(entry.payloadSize, kPayloadRequestCost));
            if (cost >= archiveLine->size) return false;
        }
        plan->entries.push_back(PlannedEntry{&entry, work});
    }
    return true;
}
