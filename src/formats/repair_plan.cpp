// The check plan: what size and last-write time alone can prove, and what needs the bytes. A file is
// taken for right without hashing only when the record vouches for exactly the content now listed.
#include "formats/repair_plan.h"

#include <algorithm>
#include <cstring>

namespace {

// Sizes are below 2^63 each, but a list of many can still sum past 64 bits: a total is only shown.
void addSaturated(uint64_t* total, uint64_t amount) {
    *total = amount > UINT64_MAX - *total ? UINT64_MAX : *total + amount;
}

}  // namespace

ListVerdict judgeBuildList(const BuildList& list, uint64_t acceptedSerial, uint32_t installedVersion) {
    if (list.serial < acceptedSerial) return ListVerdict::OlderSerial;
    if (list.version != installedVersion) return ListVerdict::OtherVersion;
    return ListVerdict::Accepted;
}

FileCheck planFileCheck(const BuildFile& listed, const VerifiedFile* verified, const DiskFile& disk,
                        CheckDepth depth) {
    if (!disk.exists || disk.size != listed.size) return FileCheck::Fetch;
    if (depth == CheckDepth::Full || verified == nullptr) return FileCheck::Hash;
    bool unchanged = verified->size == disk.size && verified->lastWriteTime == disk.lastWriteTime;
    bool sameContent = memcmp(verified->sha256, listed.sha256, kSha256Size) == 0;
    return unchanged && sameContent ? FileCheck::Fine : FileCheck::Hash;
}

bool planBuildCheck(const BuildList& list, const VerifyRecord& record, const std::vector<DiskFile>& disk,
                    CheckDepth depth, CheckPlan* plan) {
    *plan = CheckPlan{};
    if (disk.size() != list.files.size()) return false;
    plan->checks.reserve(list.files.size());
    for (size_t i = 0; i < list.files.size(); ++i) {
        const BuildFile& listed = list.files[i];
        FileCheck check = planFileCheck(listed, findVerifiedFile(record, listed.path), disk[i], depth);
        plan->checks.push_back(check);
        if (check == FileCheck::Hash) {
            ++plan->hashCount;
            addSaturated(&plan->hashBytes, listed.size);
        } else if (check == FileCheck::Fetch) {
            ++plan->fetchCount;
            addSaturated(&plan->fetchBytes, listed.payloadSize);
        }
    }
    return true;
}

VerifiedFile verifiedFileOf(const BuildFile& listed, const DiskFile& disk) {
    VerifiedFile file{};
    memcpy(file.path, listed.path, sizeof file.path);
    file.size = disk.size;
    file.lastWriteTime = disk.lastWriteTime;
    memcpy(file.sha256, listed.sha256, kSha256Size);
    return file;
}

void vouchForPlacedFiles(const BuildList& list, const std::vector<VerifiedFile>& placed, VerifyRecord* record) {
    std::vector<VerifiedFile> merged = record->files;
    for (const VerifiedFile& file : placed) {
        const BuildFile* listed = findBuildFile(list, file.path);
        if (listed != nullptr && memcmp(listed->sha256, file.sha256, kSha256Size) == 0) merged.push_back(file);
    }
    // The record's order (bytewise by path) back, with the latest entry of each path.
    auto byPath = [](const VerifiedFile& a, const VerifiedFile& b) { return strcmp(a.path, b.path) < 0; };
    std::stable_sort(merged.begin(), merged.end(), byPath);
    record->files.clear();
    for (size_t i = 0; i < merged.size(); ++i)
        if (i + 1 == merged.size() || strcmp(merged[i].path, merged[i + 1].path) != 0) record->files.push_back(merged[i]);
}
