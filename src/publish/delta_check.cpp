// `verify` over the served delta list: its signature and form, every payload against its line, every
// step block against the archive it stands for (as the index serves it), and every payload decoded
// where its base is served: whole ones always, deltas from a file an earlier archive put in place.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "deltas/delta_make.h"
#include "formats/own_file_names.h"
#include "formats/path_check.h"
#include "publish/payload_store.h"
#include "publish/served_folder.h"
#include "update/patch_progress.h"
#include "publish/archive_writer.h"
#include "publish/delta_publish.h"
#include "publish/signing.h"
#include "updater/updater_texts.h"

namespace fs = std::filesystem;

namespace {

struct ServedEntry {
    std::string archive;  // path below www
    std::string name;
    uint8_t sha256[kSha256Size];
    uint64_t size;
};

typedef std::map<std::string, ServedEntry> EntriesByName;

bool readBytes(const std::string& path, DeltaBytes* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool sameTarget(const DeltaEntry& line, const uint8_t* sha, uint64_t size) {
    return line.targetSize == size && memcmp(line.targetSha256, sha, kSha256Size) == 0;
}

struct ListChecker {
    std::string www;
    std::vector<std::string>* problems;
    std::map<std::string, ServedEntry> bases;  // by SHA-256 hex: files earlier archives put in place

    std::string label(const DeltaEntry& line) {
        return std::string(line.payloadPath) + " (" + (line.targetPath[0] ? line.targetPath : "the launcher") + ")";
    }

    // The payload's bytes when they are those its line names.
    bool readPayload(const DeltaEntry& line, DeltaBytes* payload) {
        uint8_t sha[kSha256Size];
        if (!isSafeRelativePath(line.payloadPath) || !readBytes(www + "/" + line.payloadPath, payload)) {
            problems->push_back(label(line) + ": the payload is missing");
            return false;
        }
        sha256(payload->data(), payload->size(), sha);
        if (payload->size() != line.payloadSize || memcmp(sha, line.payloadSha256, kSha256Size) != 0) {
            problems->push_back(label(line) + ": size " + std::to_string(payload->size()) + " and SHA-256 " +
                                hexText(sha, kSha256Size) + " do not match the list");
            return false;
        }
        return true;
    }

    // Decodes the payload where its base is at hand and compares the output with the line's target.
    void checkRebuild(const DeltaEntry& line, const DeltaBytes& payload) {
        DeltaBytes base, output;
        if (line.hasBase) {
            auto found = bases.find(hexText(line.baseSha256, kSha256Size));
            if (found == bases.end()) return;  // made from a file no served archive holds
            if (!readArchiveEntry(www + "/" + found->second.archive, found->second.name, &base)) return;
        }
        std::string why;
        uint8_t sha[kSha256Size];
        if (!decodePayload(line.hasBase ? &base : nullptr, payload, &output, &why)) {
            problems->push_back(label(line) + ": does not decode: " + why);
            return;
        }
        sha256(output.data(), output.size(), sha);
        if (!sameTarget(line, sha, output.size()))
            problems->push_back(label(line) + ": decodes to other bytes than its target");
    }

    void checkLine(const DeltaEntry& line) {
        DeltaBytes payload;
        if (readPayload(line, &payload)) checkRebuild(line, payload);
    }

    // The block must list exactly the archive's files, each as the archive holds it.
    void checkBlock(const DeltaStep& block, const EntriesByName& entries, const std::vector<std::string>& folders) {
        std::string step = "step " + std::to_string(block.version) + ": ";
        std::set<std::string> listed;
        for (const DeltaEntry& line : block.entries) {
            listed.insert(line.targetPath);
            // The launcher skips such a block as a whole, so its players quietly take the archive.
            if (!isSafeRelativePath(line.targetPath) || ownFileNameOf(line.targetPath) != nullptr)
                problems->push_back(step + line.targetPath + ": a name the launcher refuses to write");
            auto found = entries.find(line.targetPath);
            if (found == entries.end())
                problems->push_back(step + line.targetPath + ": in the delta list but not in " + block.archiveName);
            else if (!sameTarget(line, found->second.sha256, found->second.size))
                problems->push_back(step + line.targetPath + ": the delta list's size and SHA-256 are not those of " +
                                    block.archiveName);
            checkLine(line);
        }
        for (const auto& entry : entries)
            if (!listed.count(entry.first))
                problems->push_back(step + entry.first + ": in " + block.archiveName + " but not in the delta list");
        for (const std::string& folder : folders)
            problems->push_back(step + block.archiveName + " creates the folder " + folder +
                                ", which the delta list cannot");
    }

    // The step's archive as the index serves it; false (with a problem) when the block is not of it.
    bool blockIsOfServedArchive(const DeltaStep& block, const VersionStep& step, const PatchIndex& index) {
        std::string path = std::string("Player/") + block.archiveName;
        bool named = false;
        for (int f = 0; f < step.fileCount; ++f) named = named || path == std::string("Player/") + step.files[f];
        const PatchIndexFile* line = findPatchIndexFile(index, path.c_str());
        if (!named) {
            problems->push_back("step " + std::to_string(block.version) + ": the delta list names " + path +
                                ", which the manifest's step does not download");
        } else if (line == nullptr || memcmp(line->sha256, block.archiveSha256, kSha256Size) != 0) {
            problems->push_back("step " + std::to_string(block.version) + ": the delta list's hash of " + path +
                                " is not the index's (a block of another release)");
        } else {
            return true;
        }
        return false;
    }

    void readServedArchive(const std::string& path, EntriesByName* entries, std::vector<std::string>* folders) {
        readArchiveEntries(www + "/" + path, true, [&](const ArchiveEntryInfo& info, const DeltaBytes& data) {
            if (!info.name.empty() && info.name.back() == '/') {
                folders->push_back(info.name);
                return;
            }
            ServedEntry& entry = (*entries)[info.name];
            entry.archive = path;
            entry.name = info.name;
            entry.size = data.size();
            sha256(data.data(), data.size(), entry.sha256);
        });
    }

    void checkSteps(const DeltaList& list, const ManifestContents& contents, const PatchIndex& index) {
        std::set<uint32_t> stepVersions;
        for (const VersionStep& step : contents.steps) {
            stepVersions.insert(static_cast<uint32_t>(step.version));
            EntriesByName entries;
            std::vector<std::string> folders;
            for (int f = 0; f < step.fileCount; ++f) {
                std::string path = std::string("Player/") + step.files[f];
                std::error_code status;
                if (isArchiveName(step.files[f]) && fs::is_regular_file(www + "/" + path, status))
                    readServedArchive(path, &entries, &folders);
            }
            const DeltaStep* block = findDeltaStep(list, static_cast<uint32_t>(step.version));
            if (block != nullptr && blockIsOfServedArchive(*block, step, index)) checkBlock(*block, entries, folders);
            // A file the launcher may find installed at a later step; the delete list is never a base.
            for (const auto& entry : entries)
                if (entry.first != kDeltaListDeleteTarget) bases[hexText(entry.second.sha256, kSha256Size)] = entry.second;
        }
        for (const DeltaStep& block : list.steps)
            if (!stepVersions.count(block.version))
                problems->push_back("step " + std::to_string(block.version) +
                                    ": in the delta list but not in the manifest");
    }

    void checkLauncherLines(const DeltaList& list) {
        uint8_t sha[kSha256Size];
        uint64_t size = 0;
        bool served = sha256File(www + "/" + updater_file::kLauncherUrlPath, sha, &size);
        for (const DeltaEntry& line : list.launcherDeltas) {
            if (!served || !sameTarget(line, sha, size))
                problems->push_back(label(line) + ": its target is not the served " + updater_file::kLauncherUrlPath);
            DeltaBytes payload;
            readPayload(line, &payload);
        }
    }
};

}  // namespace

std::vector<std::string> verifyDeltaList(const std::string& www, const ManifestContents& contents,
                                         const PatchIndex& index, const std::string& publicKeyHex) {
    std::vector<std::string> problems;
    std::string path = www + "/" + kDeltaListName;
    std::error_code status;
    if (!fs::exists(path, status)) return problems;
    DeltaBytes bytes;
    DeltaList list;
    std::string text;
    if (readBytes(path, &bytes)) text.assign(bytes.begin(), bytes.end());
    if (text.size() > kMaxSignedListBytes)
        problems.push_back(std::string(kDeltaListName) + ": " + std::to_string(text.size()) + " bytes, above the " +
                           std::to_string(kMaxSignedListBytes >> 20) + " MiB launchers read; they take archives");
    if (!parseDeltaList(text.data(), text.size(), &list, IndexSignature::Optional)) {
        problems.push_back(std::string(kDeltaListName) + ": not in the delta list format");
        return problems;
    }
    if (!publicKeyHex.empty())
        checkListSignature(kDeltaListName, text, list.signedLength, list.isSigned, list.signature, publicKeyHex, &problems);
    ListChecker checker{www, &problems, {}};
    checker.checkSteps(list, contents, index);
    checker.checkLauncherLines(list);
    return problems;
}
