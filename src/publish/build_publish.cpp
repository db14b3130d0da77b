// The whole-build list of a release and its store of whole payloads. Compression at the publishing
// level is the slow part of a first release, so files are hashed and compressed two at a time; each
// content is compressed once however many files or releases carry it.
#include "publish/build_publish.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "deltas/delta_make.h"
#include "formats/delta_list.h"
#include "formats/path_check.h"
#include "publish/delta_publish.h"
#include "publish/payload_store.h"
#include "publish/served_folder.h"
#include "publish/signing.h"

namespace fs = std::filesystem;

namespace {

// Two files at a time: both cores of a small studio machine, and at most two files of up to the
// launcher's cap (with their payloads) in memory.
const unsigned kPublishThreads = 2;

// Runs job(i) for every i below count on kPublishThreads threads; stops early after a failure and
// keeps the failure of the lowest i, so the message does not depend on the threads' timing.
bool runOnThreads(size_t count, const std::function<bool(size_t, std::string*)>& job, std::string* error) {
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex lock;
    size_t firstFailure = SIZE_MAX;
    auto work = [&]() {
        for (size_t i = next++; i < count && !failed.load(); i = next++) {
            std::string problem;
            if (job(i, &problem)) continue;
            std::lock_guard<std::mutex> hold(lock);
            if (i < firstFailure) {
                firstFailure = i;
                *error = problem;
            }
            failed = true;
        }
    };
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < kPublishThreads; ++t) helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers) helper.join();
    return firstFailure == SIZE_MAX;
}

bool byPath(const BuildFile& a, const BuildFile& b) { return strcmp(a.path, b.path) < 0; }

// The files of the build the list can carry, hashed.
bool hashBuildFiles(const BuildTree& tree, std::vector<BuildFile>* files, std::vector<std::string>* notes,
                    std::string* error) {
    files->clear();
    for (const std::string& path : tree.files) {
        if (path.size() >= kIndexPathSize) {
            notes->push_back(path + ": too long a name for " + kBuildListName + "; players cannot repair it");
            continue;
        }
        BuildFile file;
        memset(&file, 0, sizeof file);
        snprintf(file.path, sizeof file.path, "%s", path.c_str());
        files->push_back(file);
    }
    bool hashed = runOnThreads(files->size(), [&](size_t i, std::string* problem) {
        BuildFile& file = (*files)[i];
        if (sha256File(tree.root + "/" + file.path, file.sha256, &file.size)) return true;
        *problem = "cannot read " + tree.root + "/" + file.path;
        return false;
    }, error);
    std::vector<BuildFile> carried;
    for (const BuildFile& file : *files) {
        if (file.size <= kDeltaMemoryCap) carried.push_back(file);
        else notes->push_back(std::string(file.path) + ": above the launcher's " + std::to_string(kDeltaMemoryCap >> 20) +
                              " MiB cap for a whole payload; players cannot repair it");
    }
    std::sort(carried.begin(), carried.end(), byPath);
    *files = carried;
    return hashed;
}

struct Content {
    std::string source;  // a build file with this content
    const uint8_t* sha256;
    const BuildFile* known;  // the previous list's line for it, or nullptr
    StoredPayload stored;
};

bool storeContent(const std::string& www, Content* content, std::string* error) {
    if (content->known != nullptr) {
        StoredPayload& known = content->stored;
        memcpy(known.sha256, content->known->payloadSha256, kSha256Size);
        known.size = content->known->payloadSize;
        snprintf(known.path, sizeof known.path, "%s", content->known->payloadPath);
        known.made = false;
        if (storedPayloadMatches(www, known)) return true;
    }
    DeltaBytes bytes;
    uint8_t sha[kSha256Size];
    if (!readFileBytes(content->source, &bytes)) {
        *error = "cannot read " + content->source;
        return false;
    }
    sha256(bytes.data(), bytes.size(), sha);
    if (memcmp(sha, content->sha256, kSha256Size) != 0) {
        *error = content->source + " changed while it was published";
        return false;
    }
    return storeWholePayload(www, bytes, content->sha256, &content->stored, error);
}

bool readServedList(const std::string& path, BuildList* list) {
    DeltaBytes text;
    return readFileBytes(path, &text) &&
           parseBuildList(reinterpret_cast<const char*>(text.data()), text.size(), list, IndexSignature::Optional);
}

// What is wrong with one stored payload for the line `file`; "" when it decodes to the file.
std::string payloadProblem(const std::string& www, const BuildFile& file) {
    DeltaBytes payload, output;
    uint8_t sha[kSha256Size];
    std::string problem;
    if (!isSafeRelativePath(file.payloadPath) || !readFileBytes(www + "/" + file.payloadPath, &payload))
        return "the payload is missing";
    sha256(payload.data(), payload.size(), sha);
    if (payload.size() != file.payloadSize || memcmp(sha, file.payloadSha256, kSha256Size) != 0)
        return "size " + std::to_string(payload.size()) + " and SHA-256 " + hexText(sha, kSha256Size) +
               " do not match the list";
    if (!decodePayload(nullptr, payload, &output, &problem)) return "the payload does not decode: " + problem;
    sha256(output.data(), output.size(), sha);
    if (output.size() != file.size || memcmp(sha, file.sha256, kSha256Size) != 0)
        return "the payload decodes to other bytes than the list names";
    return "";
}

int lastStepVersion(const ManifestContents& contents) {
    int latest = 0;
    for (const VersionStep& step : contents.steps)
        if (step.version != 0) latest = step.version;
    return latest;
}

bool folderHoldsFiles(const std::string& folder) {
    std::error_code status;
    for (fs::recursive_directory_iterator it(folder, status), end; !status && it != end; it.increment(status))
        if (it->is_regular_file(status)) return true;
    return false;
}

// The payload paths a served list names; false when the list is there but unreadable, or missing
// while its folder holds payloads it would have named.
bool namedPayloads(const std::string& www, std::set<std::string>* names, std::string* error) {
    std::error_code status;
    std::string buildPath = www + "/" + kBuildListName;
    BuildList build;
    if (fs::exists(buildPath, status)) {
        if (!readServedList(buildPath, &build)) {
            *error = buildPath + " cannot be read; nothing was pruned";
            return false;
        }
    } else if (folderHoldsFiles(www + "/" + kStoreFolder)) {
        *error = buildPath + " is missing while " + kStoreFolder + "/ holds payloads; nothing was pruned";
        return false;
    }
    for (const BuildFile& file : build.files) names->insert(file.payloadPath);
    DeltaList deltas;
    for (const char* folder : {kPlayerDeltaFolder, kLauncherDeltaFolder})
        if (!fs::exists(www + "/" + kDeltaListName, status) && folderHoldsFiles(www + "/" + folder)) {
            *error = www + "/" + kDeltaListName + " is missing while " + folder + "/ holds payloads; nothing was pruned";
            return false;
        }
    if (!loadServedDeltaList(www, &deltas, error)) {
        *error = www + "/" + kDeltaListName + " cannot be read; nothing was pruned";
        return false;
    }
    for (const DeltaStep& step : deltas.steps)
        for (const DeltaEntry& entry : step.entries) names->insert(entry.payloadPath);
    for (const DeltaEntry& entry : deltas.launcherDeltas) names->insert(entry.payloadPath);
    return true;
}

}  // namespace

bool loadServedBuildList(const std::string& www, BuildList* list, std::string* error) {
    *list = BuildList{};
    std::string path = www + "/" + kBuildListName;
    std::error_code status;
    if (!fs::exists(path, status) || readServedList(path, list)) return true;
    *error = path + " cannot be read; its release serial is lost, and launchers refuse a list with a lower one: "
                    "mend it (or put back a copy) before the next release";
    return false;
}

bool makeBuildList(const std::string& www, const BuildTree& tree, const BuildList& previous, uint64_t serial,
                   uint32_t version, BuildList* list, std::vector<std::string>* notes, BuildStoreCounts* counts,
                   std::string* error) {
    *list = BuildList{};
    list->serial = serial;
    list->version = version;
    if (!hashBuildFiles(tree, &list->files, notes, error)) return false;
    std::map<std::string, const BuildFile*> known;
    for (const BuildFile& file : previous.files) {
        char storePath[kIndexPathSize];
        buildPayloadPath(file.sha256, storePath);
        if (strcmp(file.payloadPath, storePath) == 0) known.emplace(hexText(file.sha256, kSha256Size), &file);
    }
    std::map<std::string, size_t> contentOf;
    std::vector<Content> contents;
    for (const BuildFile& file : list->files) {
        std::string hex = hexText(file.sha256, kSha256Size);
        if (!contentOf.emplace(hex, contents.size()).second) continue;
        auto found = known.find(hex);
        contents.push_back(Content{tree.root + "/" + file.path, file.sha256,
                                   found == known.end() ? nullptr : found->second, StoredPayload{}});
    }
    if (!runOnThreads(contents.size(), [&](size_t i, std::string* problem) {
            return storeContent(www, &contents[i], problem);
        }, error))
        return false;
    *counts = BuildStoreCounts{0, 0, 0};
    for (const Content& content : contents) {
        counts->made += content.stored.made ? 1 : 0;
        counts->kept += content.stored.made ? 0 : 1;
        counts->madeBytes += content.stored.made ? content.stored.size : 0;
    }
    for (BuildFile& file : list->files) {
        const StoredPayload& stored = contents[contentOf[hexText(file.sha256, kSha256Size)]].stored;
        memcpy(file.payloadSha256, stored.sha256, kSha256Size);
        file.payloadSize = stored.size;
        snprintf(file.payloadPath, sizeof file.payloadPath, "%s", stored.path);
    }
    return true;
}

bool publishBuildList(const std::string& www, const BuildList& list, const std::string& privateKey,
                      std::string* error) {
    std::string text = formatBuildListBody(list), temporary;
    if (!privateKey.empty()) {
        uint8_t signature[kP256SignatureSize];
        if (!signData(privateKey, text, signature, error)) return false;
        text += formatSignatureLine(signature);
    }
    if (text.size() > kMaxSignedListBytes) {
        *error = std::string("the new ") + kBuildListName + " would be " + std::to_string(text.size()) +
                 " bytes, above the " + std::to_string(kMaxSignedListBytes >> 20) +
                 " MiB launchers read; it was not published";
        return false;
    }
    BuildList readBack;
    if (!parseBuildList(text.data(), text.size(), &readBack, IndexSignature::Optional)) {
        *error = std::string("the launcher would not read the new ") + kBuildListName + "; it was not published";
        return false;
    }
    std::string path = www + "/" + kBuildListName;
    return flushServedFolder(www, error) && writeTemporary(path, text, &temporary, error) &&
           replaceFileWith(path, temporary, error);
}

std::vector<std::string> verifyBuildList(const std::string& www, const ManifestContents& contents,
                                         const std::string& publicKeyHex) {
    std::vector<std::string> problems;
    std::string path = www + "/" + kBuildListName;
    std::error_code status;
    if (!fs::exists(path, status)) return problems;
    DeltaBytes bytes;
    BuildList list;
    readFileBytes(path, &bytes);
    std::string text(bytes.begin(), bytes.end());
    if (text.size() > kMaxSignedListBytes)
        problems.push_back(std::string(kBuildListName) + ": " + std::to_string(text.size()) + " bytes, above the " +
                           std::to_string(kMaxSignedListBytes >> 20) + " MiB launchers read; they ignore it");
    if (!parseBuildList(text.data(), text.size(), &list, IndexSignature::Optional)) {
        problems.push_back(std::string(kBuildListName) + ": not in the build list format");
        return problems;
    }
    if (!publicKeyHex.empty())
        checkListSignature(kBuildListName, text, list.signedLength, list.isSigned, list.signature, publicKeyHex, &problems);
    if (static_cast<int64_t>(list.version) != lastStepVersion(contents))
        problems.push_back(std::string(kBuildListName) + ": lists version " + std::to_string(list.version) +
                           ", the manifest's last step is " + std::to_string(lastStepVersion(contents)));
    std::vector<std::string> found(list.files.size());
    std::string unused;
    runOnThreads(list.files.size(), [&](size_t i, std::string*) {
        found[i] = payloadProblem(www, list.files[i]);
        return true;
    }, &unused);
    for (size_t i = 0; i < list.files.size(); ++i)
        if (!found[i].empty())
            problems.push_back(std::string(list.files[i].path) + " (" + list.files[i].payloadPath + "): " + found[i]);
    return problems;
}

bool pruneStore(const std::string& www, std::vector<std::pair<std::string, uint64_t>>* removed,
                std::string* error) {
    std::set<std::string> names;
    if (!namedPayloads(www, &names, error)) return false;
    std::vector<fs::path> orphans, folders;
    std::error_code status;
    for (const char* top : {kStoreFolder, kPlayerDeltaFolder, kLauncherDeltaFolder}) {
        status.clear();  // a folder not there yet does not spare the others
        for (fs::recursive_directory_iterator it(www + "/" + top, status), end; !status && it != end;
             it.increment(status)) {
            std::error_code kind;
            if (it->is_directory(kind)) folders.push_back(it->path());
            if (it->is_regular_file(kind) && !names.count(it->path().lexically_relative(www).generic_string()) &&
                !isPublishingLeftover(it->path().filename().string()))
                orphans.push_back(it->path());
        }
    }
    for (const fs::path& orphan : orphans) {
        uint64_t size = fs::file_size(orphan, status);
        if (status || !fs::remove(orphan, status)) {
            *error = "cannot remove " + orphan.string() + ": " + status.message();
            return false;
        }
        removed->emplace_back(orphan.lexically_relative(www).generic_string(), size);
    }
    // Step folders of Player/Deltas/ left empty go too; the store's own folders stay.
    std::sort(folders.rbegin(), folders.rend());
    for (const fs::path& folder : folders) fs::remove(folder, status);
    return true;
}
