// Payloads and the delta list of a release: each file the archive puts in place gets a payload, a delta
// from the old build's file where that is clearly smaller than the file's share of the archive, the
// file whole (from the store of whole files) otherwise. The block is made from the placed archive
// itself, so it rebuilds exactly what unpacking the archive leaves.
#include "publish/delta_publish.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>

#include "deltas/delta_make.h"
#include "publish/archive_writer.h"
#include "publish/payload_store.h"
#include "publish/served_folder.h"
#include "publish/signing.h"
#include "updater/updater_texts.h"

namespace fs = std::filesystem;

namespace {

// A delta is kept when it is below this share of what the archive spends on the file.
const uint64_t kDeltaWorthPercent = 60;
const char kPayloadSuffix[] = ".zst";

// Makes and checks one payload; fills the entry's payload fields.
bool makeUnplacedPayload(const std::string& folder, const DeltaBytes* base, const DeltaBytes& target,
                         const std::string& what, DeltaBytes* payload, DeltaEntry* entry, std::string* error) {
    std::string problem;
    if (!makePayload(base, target, payload, &problem) || !payloadRebuilds(base, *payload, target, &problem)) {
        *error = what + ": the " + (base ? "delta" : "whole payload") + " cannot be made: " + problem;
        return false;
    }
    sha256(payload->data(), payload->size(), entry->payloadSha256);
    entry->payloadSize = payload->size();
    std::string path = folder + hexText(entry->payloadSha256, kSha256Size) + kPayloadSuffix;
    snprintf(entry->payloadPath, sizeof entry->payloadPath, "%s", path.c_str());
    return true;
}

bool makeCheckedPayload(const std::string& www, const std::string& folder, const DeltaBytes* base,
                        const DeltaBytes& target, const std::string& what, DeltaBytes* payload, DeltaEntry* entry,
                        std::string* error) {
    return makeUnplacedPayload(folder, base, target, what, payload, entry, error) &&
           placePayload(www, entry->payloadPath, *payload, error);
}

// Why the step's archive cannot be described by a block, or "" when it can.
std::string blockObstacle(const std::string& archive) {
    std::string obstacle;
    bool read = readArchiveEntries(archive, false, [&](const ArchiveEntryInfo& entry, const DeltaBytes&) {
        if (!obstacle.empty()) return;
        if (!entry.name.empty() && entry.name.back() == '/')
            obstacle = entry.name + " is a folder, which the list cannot create";
        else if (entry.name.size() >= kIndexPathSize)
            obstacle = entry.name + " is too long a name for the list";
        else if (entry.size > kDeltaMemoryCap)
            obstacle = entry.name + " is above the launcher's " + std::to_string(kDeltaMemoryCap >> 20) + " MiB cap";
    });
    return read ? obstacle : "the archive cannot be read back";
}

struct StepMaker {
    std::string www;
    std::string folder;  // "Player/Deltas/<version>/"
    const BuildTree* oldTree;
    std::set<std::string> oldFiles;
    DeltaStep* step;
    std::string error;

    // The old build's file of that name when a delta from it fits the launcher's memory cap.
    bool readBase(const ArchiveEntryInfo& entry, DeltaBytes* base) {
        if (entry.name == kDeltaListDeleteTarget || !oldFiles.count(entry.name)) return false;
        std::string path = oldTree->root + "/" + entry.name;
        std::error_code status;
        uint64_t size = fs::file_size(path, status);
        return !status && size + entry.size <= kDeltaMemoryCap && readFileBytes(path, base);
    }

    void addEntry(const ArchiveEntryInfo& info, const DeltaBytes& target) {
        if (!error.empty()) return;
        DeltaEntry entry;
        memset(&entry, 0, sizeof entry);
        snprintf(entry.targetPath, sizeof entry.targetPath, "%s", info.name.c_str());
        sha256(target.data(), target.size(), entry.targetSha256);
        entry.targetSize = target.size();
        DeltaBytes base, payload;
        if (readBase(info, &base)) {
            DeltaEntry delta = entry;
            delta.hasBase = true;
            sha256(base.data(), base.size(), delta.baseSha256);
            if (!makeCheckedPayload(www, folder, &base, target, info.name, &payload, &delta, &error)) return;
            if (delta.payloadSize * 100 < kDeltaWorthPercent * info.packedSize) {
                step->entries.push_back(delta);
                return;
            }
        }
        // A whole file goes to the store, where the build list names the same content.
        StoredPayload stored;
        if (!storeWholePayload(www, target, entry.targetSha256, &stored, &error)) {
            error = info.name + ": " + error;
            return;
        }
        memcpy(entry.payloadSha256, stored.sha256, kSha256Size);
        entry.payloadSize = stored.size;
        snprintf(entry.payloadPath, sizeof entry.payloadPath, "%s", stored.path);
        step->entries.push_back(entry);
    }
};

void replaceStep(DeltaList* list, const DeltaStep& step) {
    std::vector<DeltaStep> kept;
    for (const DeltaStep& other : list->steps)
        if (other.version != step.version) kept.push_back(other);
    kept.push_back(step);
    std::sort(kept.begin(), kept.end(), [](const DeltaStep& a, const DeltaStep& b) { return a.version < b.version; });
    list->steps = kept;
}

// Bytes the signature line adds to a signed list.
size_t signatureLineBytes() {
    uint8_t unused[kP256SignatureSize] = {0};
    return formatSignatureLine(unused).size();
}

// Drops the oldest step blocks until the list's text (extra bytes added) fits the readers' cap; the
// newest block and the launcher lines stay. Their players take the archives instead. False when even
// that does not fit.
bool trimDeltaListToCap(DeltaList* list, size_t extraBytes, std::vector<uint32_t>* dropped) {
    std::sort(list->steps.begin(), list->steps.end(),
              [](const DeltaStep& a, const DeltaStep& b) { return a.version < b.version; });
    DeltaList bare = *list;
    bare.steps.clear();
    size_t bareBytes = formatDeltaListBody(bare).size(), total = bareBytes + extraBytes;
    std::vector<size_t> blockBytes;
    for (const DeltaStep& step : list->steps) {
        bare.launcherDeltas.clear();
        bare.steps.assign(1, step);
        blockBytes.push_back(formatDeltaListBody(bare).size() - formatDeltaListBody(DeltaList{}).size());
        total += blockBytes.back();
    }
    size_t first = 0;
    while (total > kMaxSignedListBytes && first + 1 < list->steps.size()) {
        total -= blockBytes[first];
        dropped->push_back(list->steps[first++].version);
    }
    list->steps.erase(list->steps.begin(), list->steps.begin() + first);
    return total <= kMaxSignedListBytes;
}

}  // namespace

void dropDeltaStep(DeltaList* list, int version) {
    std::vector<DeltaStep> kept;
    for (const DeltaStep& other : list->steps)
        if (other.version != static_cast<uint32_t>(version)) kept.push_back(other);
    list->steps = kept;
}

bool loadServedDeltaList(const std::string& www, DeltaList* list, std::string* error) {
    *list = DeltaList{};
    std::string path = www + "/" + kDeltaListName;
    std::error_code status;
    if (!fs::exists(path, status)) return true;
    DeltaBytes text;
    if (readFileBytes(path, &text) &&
        parseDeltaList(reinterpret_cast<const char*>(text.data()), text.size(), list, IndexSignature::Optional))
        return true;
    *error = path + " cannot be read; move it away to start a new list (players then take archives for the "
                    "steps before)";
    return false;
}

bool addStepDeltas(const std::string& www, int version, const std::string& archiveName, const BuildTree& oldTree,
                   DeltaList* list, std::string* note, std::string* error) {
    std::string archive = www + "/Player/" + archiveName;
    dropDeltaStep(list, version);
    *note = blockObstacle(archive);
    if (!note->empty()) return true;
    DeltaStep step;
    step.version = static_cast<uint32_t>(version);
    snprintf(step.archiveName, sizeof step.archiveName, "%s", archiveName.c_str());
    uint64_t archiveSize = 0;
    if (!sha256File(archive, step.archiveSha256, &archiveSize)) {
        *error = "cannot read " + archive;
        return false;
    }
    StepMaker maker{www, std::string(kPlayerDeltaFolder) + "/" + std::to_string(version) + "/", &oldTree,
                    std::set<std::string>(oldTree.files.begin(), oldTree.files.end()), &step, ""};
    bool read = readArchiveEntries(archive, true, [&](const ArchiveEntryInfo& info, const DeltaBytes& data) {
        maker.addEntry(info, data);
    });
    if (!maker.error.empty() || !read) {
        *error = read ? maker.error : "cannot read " + archive + " back";
        return false;
    }
    replaceStep(list, step);
    return true;
}

bool addLauncherDelta(const std::string& www, const std::vector<uint8_t>& newLauncher, DeltaList* list,
                      std::string* error) {
    uint8_t targetSha[kSha256Size];
    sha256(newLauncher.data(), newLauncher.size(), targetSha);
    std::vector<DeltaEntry> kept;
    for (const DeltaEntry& line : list->launcherDeltas)
        if (memcmp(line.targetSha256, targetSha, kSha256Size) == 0) kept.push_back(line);
    list->launcherDeltas = kept;
    DeltaBytes served;
    if (!readFileBytes(www + "/" + updater_file::kLauncherUrlPath, &served) || served == newLauncher) return true;
    if (served.size() + newLauncher.size() > kDeltaMemoryCap) return true;
    DeltaEntry entry;
    memset(&entry, 0, sizeof entry);
    entry.hasBase = true;
    sha256(served.data(), served.size(), entry.baseSha256);
    memcpy(entry.targetSha256, targetSha, kSha256Size);
    entry.targetSize = newLauncher.size();
    for (const DeltaEntry& line : list->launcherDeltas)
        if (memcmp(line.baseSha256, entry.baseSha256, kSha256Size) == 0) return true;
    DeltaBytes payload;
    if (!makeUnplacedPayload(std::string(kLauncherDeltaFolder) + "/", &served, newLauncher, updater_file::kLauncherUrlPath, &payload, &entry,
                             error))
        return false;
    // Updater fetches the launcher whole otherwise: a delta not clearly smaller is not worth its risk.
    if (entry.payloadSize * 100 >= kDeltaWorthPercent * newLauncher.size()) return true;
    if (!placePayload(www, entry.payloadPath, payload, error)) return false;
    list->launcherDeltas.push_back(entry);
    return true;
}

bool publishDeltaList(const std::string& www, const DeltaList& served, const std::string& privateKey,
                      std::string* error) {
    DeltaList list = served;
    std::vector<uint32_t> dropped;
    bool fits = trimDeltaListToCap(&list, privateKey.empty() ? 0 : signatureLineBytes(), &dropped);
    if (!fits) {
        *error = std::string("the new ") + kDeltaListName + " would pass the " +
                 std::to_string(kMaxSignedListBytes >> 20) + " MiB launchers read even with only the newest block; " +
                 "it was not published";
        return false;
    }
    if (!dropped.empty())
        printf("%s: dropped the blocks of %zu older steps (%u to %u) to stay within the %zu MiB launchers read; "
               "their players take the archives\n",
               kDeltaListName, dropped.size(), dropped.front(), dropped.back(), kMaxSignedListBytes >> 20);
    std::string text = formatDeltaListBody(list), temporary;
    if (!privateKey.empty()) {
        uint8_t signature[kP256SignatureSize];
        if (!signData(privateKey, text, signature, error)) return false;
        text += formatSignatureLine(signature);
    }
    DeltaList readBack;
    if (!parseDeltaList(text.data(), text.size(), &readBack, IndexSignature::Optional)) {
        *error = std::string("the launcher would not read the new ") + kDeltaListName + "; it was not published";
        return false;
    }
    std::string path = www + "/" + kDeltaListName;
    return flushServedFolder(www, error) && writeTemporary(path, text, &temporary, error) &&
           replaceFileWith(path, temporary, error);
}
