// Payload files on the served folder. Whole payloads are named by the content they rebuild, so one
// stored for an earlier release or for the delta list serves every list that names that content.
#include "publish/payload_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "formats/build_list.h"
#include "publish/served_folder.h"
#include "publish/signing.h"

namespace fs = std::filesystem;

bool readFileBytes(const std::string& path, DeltaBytes* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Payloads are named by a hash, so one already there with these bytes needs no writing. They are
// flushed all at once before the list that names them (a release may hold tens of thousands).
bool placePayload(const std::string& www, const std::string& path, const DeltaBytes& payload, std::string* error) {
    std::string full = www + "/" + path;
    uint8_t have[kSha256Size], want[kSha256Size];
    uint64_t size = 0;
    sha256(payload.data(), payload.size(), want);
    if (sha256File(full, have, &size) && size == payload.size() && memcmp(have, want, kSha256Size) == 0) return true;
    std::error_code status;
    fs::create_directories(fs::path(full).parent_path(), status);
    std::string temporary = temporaryPathFor(full);
    FILE* file = fopen(temporary.c_str(), "wb");
    bool written = file != nullptr && fwrite(payload.data(), 1, payload.size(), file) == payload.size();
    if (file != nullptr && fclose(file) != 0) written = false;
    if (!written) {
        *error = "cannot write " + temporary + ": " + strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    return replaceFileWith(full, temporary, error);
}

bool flushServedFolder(const std::string& www, std::string* error) {
    int folder = open(www.c_str(), O_RDONLY | O_DIRECTORY);
    bool flushed = folder >= 0 && syncfs(folder) == 0;
    if (!flushed) *error = "cannot flush " + www + ": " + strerror(errno);
    if (folder >= 0) close(folder);
    return flushed;
}

bool storedPayloadMatches(const std::string& www, const StoredPayload& known) {
    uint8_t have[kSha256Size];
    uint64_t size = 0;
    return sha256File(www + "/" + known.path, have, &size) && size == known.size &&
           memcmp(have, known.sha256, kSha256Size) == 0;
}

bool storeWholePayload(const std::string& www, const DeltaBytes& file, const uint8_t fileSha[kSha256Size],
                       StoredPayload* stored, std::string* error) {
    buildPayloadPath(fileSha, stored->path);
    std::string full = www + "/" + stored->path, problem;
    DeltaBytes payload;
    // Served lists may name a stored file: one that does not rebuild its content is never replaced
    // behind the studio's back, it has to look at why (a damaged disk, a hand-made copy).
    std::error_code status;
    bool there = fs::exists(full, status) || status;
    if (there && !(readFileBytes(full, &payload) && payloadRebuilds(nullptr, payload, file, &problem))) {
        *error = full + " is stored but does not rebuild its content (" +
                 (problem.empty() ? std::string("it cannot be read") : problem) +
                 "); served lists may name it, so it was not replaced: move it away once it is looked at";
        return false;
    }
    stored->made = !there;
    if (stored->made &&
        (!makePayload(nullptr, file, &payload, &problem) || !payloadRebuilds(nullptr, payload, file, &problem))) {
        *error = std::string(stored->path) + ": the whole payload cannot be made: " + problem;
        return false;
    }
    sha256(payload.data(), payload.size(), stored->sha256);
    stored->size = payload.size();
    return !stored->made || placePayload(www, stored->path, payload, error);
}
