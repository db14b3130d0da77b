// Reading and writing the served folder. The manifest goes through manifest_text and the index through
// patch_index, the same modules the launcher reads them with.
#include "publish/served_folder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "publish/archive_writer.h"
#include "publish/build_publish.h"
#include "publish/delta_publish.h"
#include "publish/signing.h"
#include "update/patch_progress.h"
#include "formats/patch_index.h"
#include "updater/updater_texts.h"

namespace fs = std::filesystem;

namespace {

const char kManifestName[] = "LauncherPatchInfo.txt";
const char* const kIndexName = updater_file::kIndexUrlPath;
const char kTemporarySuffix[] = ".publishing";
// The manifest a run replaces, kept until the index has followed it.
const char kPreviousSuffix[] = ".previous";

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool readWholeFile(const std::string& path, std::string* data) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    *data = buffer.str();
    return !in.bad();
}

// false when the file cannot be opened; *whole false when a step line in it cannot be read whole.
bool readManifestFileAt(const std::string& path, ManifestContents* contents, bool* whole) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    *whole = readManifestContents(file, contents);
    fclose(file);
    return true;
}

const char kCutStepLine[] = ": a step line the launcher cannot read whole ends its table there; fix it by hand";

// The index paths of every file the manifest uses: each step's names below "Player/", and the
// launcher and installer files when their versions are set.
bool usedPaths(const ManifestContents& contents, std::vector<std::string>* paths, std::string* error) {
    for (const VersionStep& step : contents.steps) {
        for (int f = 0; f < step.fileCount; ++f) {
            char path[kIndexPathSize];
            if (!playerIndexPath(step.files[f], path, sizeof path)) {
                *error = std::string("the manifest names a file the index cannot hold: ") + step.files[f];
                return false;
            }
            paths->push_back(path);
        }
    }
    if (contents.launcherVersion[0] != '\0') paths->push_back(updater_file::kLauncherUrlPath);
    if (contents.installerVersion[0] != '\0') paths->push_back(updater_file::kInstallerUrlPath);
    return true;
}

bool hasIndexLine(const std::vector<PatchIndexFile>& lines, const std::string& path) {
    for (const PatchIndexFile& line : lines)
        if (path == line.path) return true;
    return false;
}

bool indexLineOf(const std::string& www, const std::string& path, PatchIndexFile* line, std::string* error) {
    memset(line, 0, sizeof *line);
    snprintf(line->path, sizeof line->path, "%s", path.c_str());
    if (!sha256File(www + "/" + path, line->sha256, &line->size)) {
        *error = "the manifest uses " + path + ", which is missing from " + www +
                 " (the launcher and installer commands place theirs)";
        return false;
    }
    return true;
}

bool formatIndex(const std::string& www, const std::string& manifestText, const ManifestContents& contents,
                 const std::string& privateKey, std::string* index, std::string* error) {
    std::vector<std::string> paths;
    if (!usedPaths(contents, &paths, error)) return false;
    std::vector<PatchIndexFile> lines;
    for (const std::string& path : paths) {
        if (hasIndexLine(lines, path)) continue;  // a name used by two steps has one line
        PatchIndexFile line;
        if (!indexLineOf(www, path, &line, error)) return false;
        lines.push_back(line);
    }
    uint8_t manifestHash[kSha256Size];
    sha256(manifestText.data(), manifestText.size(), manifestHash);
    *index = formatPatchIndexBody(manifestHash, lines);
    if (privateKey.empty()) return true;
    uint8_t signature[kP256SignatureSize];
    if (!signData(privateKey, *index, signature, error)) return false;
    *index += formatSignatureLine(signature);
    return true;
}

void verifyIndexLines(const std::string& www, const PatchIndex& index, std::vector<std::string>* problems) {
    for (const PatchIndexFile& line : index.files) {
        uint8_t hash[kSha256Size];
        uint64_t size = 0;
        if (!sha256File(www + "/" + line.path, hash, &size)) {
            problems->push_back(std::string(line.path) + ": in the index but missing");
        } else if (size != line.size || memcmp(hash, line.sha256, kSha256Size) != 0) {
            problems->push_back(std::string(line.path) + ": size " + std::to_string(size) + " and SHA-256 " +
                                hexText(hash, kSha256Size) + " do not match the index");
        }
    }
}

void verifySignatureOf(const std::string& indexText, const PatchIndex& index, const std::string& publicKeyHex,
                       std::vector<std::string>* problems) {
    uint8_t publicKey[kP256PublicKeySize];
    if (!parseHex(publicKeyHex.data(), publicKeyHex.size(), publicKey, sizeof publicKey)) {
        problems->push_back("the public key is not 128 lower-case hex characters");
    } else if (!index.isSigned) {
        problems->push_back(std::string(kIndexName) + ": not signed");
    } else if (!verifySignature(publicKey, indexText.substr(0, index.signedLength), index.signature)) {
        problems->push_back(std::string(kIndexName) + ": the signature does not match the public key");
    }
}

}  // namespace

std::string hexText(const uint8_t* bytes, size_t count) {
    std::vector<char> text(2 * count + 1);
    formatHex(bytes, count, text.data());
    return text.data();
}

void checkListSignature(const char* listName, const std::string& text, size_t signedLength, bool isSigned,
                        const uint8_t signature[kP256SignatureSize], const std::string& publicKeyHex,
                        std::vector<std::string>* problems) {
    uint8_t publicKey[kP256PublicKeySize];
    if (!isSigned)
        problems->push_back(std::string(listName) + ": not signed");
    else if (!parseHex(publicKeyHex.data(), publicKeyHex.size(), publicKey, sizeof publicKey) ||
             !verifySignature(publicKey, text.substr(0, signedLength), signature))
        problems->push_back(std::string(listName) + ": the signature does not match the public key");
}

bool loadManifest(const std::string& www, ManifestContents* contents, std::string* error) {
    std::string path = www + "/" + kManifestName;
    std::error_code status;
    if (!fs::exists(path, status)) {
        memset(contents->installerVersion, 0, sizeof contents->installerVersion);
        memset(contents->launcherVersion, 0, sizeof contents->launcherVersion);
        contents->steps.clear();
        return true;
    }
    bool whole = true;
    if (!readManifestFileAt(path, contents, &whole)) {
        *error = "cannot read " + path;
        return false;
    }
    if (!whole) *error = path + kCutStepLine;
    return whole;
}

std::string temporaryPathFor(const std::string& path) {
    return path + kTemporarySuffix + std::to_string(getpid());
}

bool isPublishingLeftover(const std::string& name) { return name.find(kTemporarySuffix) != std::string::npos; }

bool keepPreviousOf(const std::string& path, std::string* error) {
    std::string previous = path + kPreviousSuffix;
    unlink(previous.c_str());
    if (link(path.c_str(), previous.c_str()) == 0 || errno == ENOENT) return true;
    *error = "cannot keep the previous " + path + " as " + previous + ": " + strerror(errno);
    return false;
}

bool restorePreviousOf(const std::string& path, std::string* error) {
    std::string previous = path + kPreviousSuffix;
    if (rename(previous.c_str(), path.c_str()) == 0) return true;
    if (errno == ENOENT && (unlink(path.c_str()) == 0 || errno == ENOENT)) return true;
    *error += "; the previous " + path + " could not be put back from " + previous + ": " + strerror(errno);
    return false;
}

void dropPreviousOf(const std::string& path) { unlink((path + kPreviousSuffix).c_str()); }

bool replaceFileWith(const std::string& path, const std::string& temporary, std::string* error) {
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        *error = "cannot replace " + path + ": " + strerror(errno);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool replaceFileWithCopy(const std::string& path, const std::string& source, std::string* error) {
    std::error_code status;
    fs::create_directories(fs::path(path).parent_path(), status);
    std::string temporary = temporaryPathFor(path);
    if (!fs::copy_file(source, temporary, fs::copy_options::overwrite_existing, status)) {
        *error = "cannot copy " + source + " into " + temporary + ": " + status.message();
        fs::remove(temporary, status);
        return false;
    }
    return replaceFileWith(path, temporary, error);
}

namespace {

// Renames both finished temporaries into place, the manifest first. Launchers that check the index
// refuse a manifest it does not vouch for, so a failure here never leaves the pair mismatched.
bool placeManifestAndIndex(const std::string& www, const std::string& manifestTemporary,
                           const std::string& indexTemporary, std::string* error) {
    std::string manifestPath = www + "/" + kManifestName;
    if (!keepPreviousOf(manifestPath, error) || !replaceFileWith(manifestPath, manifestTemporary, error)) {
        unlink(manifestTemporary.c_str());
        unlink(indexTemporary.c_str());
        dropPreviousOf(manifestPath);
        return false;
    }
    if (!replaceFileWith(www + "/" + kIndexName, indexTemporary, error)) {
        if (restorePreviousOf(manifestPath, error))
            *error += "; the previous manifest is back in place, run the same command again";
        return false;
    }
    dropPreviousOf(manifestPath);
    return true;
}

}  // namespace

bool writeTemporary(const std::string& path, const std::string& data, std::string* temporary, std::string* error) {
    std::error_code status;
    fs::create_directories(fs::path(path).parent_path(), status);
    *temporary = temporaryPathFor(path);
    FILE* file = fopen(temporary->c_str(), "wb");
    bool written = file != nullptr && fwrite(data.data(), 1, data.size(), file) == data.size();
    if (file != nullptr) written = fflush(file) == 0 && fsync(fileno(file)) == 0 && fclose(file) == 0 && written;
    if (!written) {
        *error = "cannot write " + *temporary + ": " + strerror(errno);
        unlink(temporary->c_str());
    }
    return written;
}

bool publishManifestAndIndex(const std::string& www, const ManifestContents& contents, const std::string& privateKey,
                             std::string* error) {
    std::string manifestText, problem;
    if (!formatManifest(contents, &manifestText, &problem)) {
        *error = "the manifest cannot be written: " + problem;
        return false;
    }
    std::string indexText;
    if (!formatIndex(www, manifestText, contents, privateKey, &indexText, error)) return false;

    std::string manifestTemporary, indexTemporary;
    if (!writeTemporary(www + "/" + kManifestName, manifestText, &manifestTemporary, error)) return false;
    ManifestContents readBack;
    bool whole = true;
    if (!readManifestFileAt(manifestTemporary, &readBack, &whole) || !whole ||
        !sameManifestContents(contents, readBack)) {
        *error = "the launcher would read the new manifest differently; nothing was published";
        unlink(manifestTemporary.c_str());
        return false;
    }
    if (!writeTemporary(www + "/" + kIndexName, indexText, &indexTemporary, error)) {
        unlink(manifestTemporary.c_str());
        return false;
    }
    return placeManifestAndIndex(www, manifestTemporary, indexTemporary, error);
}

bool servedIndexIsSigned(const std::string& www, std::string* error) {
    std::string indexPath = www + "/" + kIndexName, indexText;
    std::error_code status;
    if (!fs::exists(indexPath, status)) return false;
    PatchIndex index;
    if (!readWholeFile(indexPath, &indexText) ||
        !parsePatchIndex(indexText.data(), indexText.size(), &index, IndexSignature::Optional)) {
        *error = indexPath + " cannot be read, so whether it is signed is unknown: give --private or --unsigned";
        return true;
    }
    return index.isSigned;
}

bool servedIndexMatchesManifest(const std::string& www) {
    std::string manifestText, indexText;
    PatchIndex index;
    if (!readWholeFile(www + "/" + kManifestName, &manifestText) || !readWholeFile(www + "/" + kIndexName, &indexText) ||
        !parsePatchIndex(indexText.data(), indexText.size(), &index, IndexSignature::Optional))
        return false;
    uint8_t manifestHash[kSha256Size];
    sha256(manifestText.data(), manifestText.size(), manifestHash);
    return memcmp(manifestHash, index.manifestSha256, kSha256Size) == 0;
}

namespace {

// Temporary and previous files are removed by the run that made them; one still there is what a
// killed run left, which players never fetch but which a studio should know of.
void reportLeftovers(const std::string& www, std::vector<std::string>* problems) {
    std::error_code status;
    for (fs::recursive_directory_iterator it(www, status), end; !status && it != end; it.increment(status)) {
        std::string name = it->path().filename().string();
        if (name.find(kTemporarySuffix) == std::string::npos && !endsWith(name, kPreviousSuffix)) continue;
        problems->push_back(it->path().lexically_relative(www).generic_string() +
                            ": left by an interrupted run; remove it once no vyr-publish runs");
    }
}

// Archives the launcher unpacks are opened here the way it opens them, entry by entry.
void verifyArchives(const std::string& www, const std::vector<std::string>& paths,
                    std::vector<std::string>* problems) {
    for (const std::string& path : paths) {
        std::error_code status;
        if (!isArchiveName(path.c_str()) || !fs::is_regular_file(www + "/" + path, status)) continue;
        for (const std::string& problem : checkReleaseArchive(www + "/" + path)) problems->push_back(path + ": " + problem);
    }
}

}  // namespace

std::vector<std::string> verifyServedFolder(const std::string& www, const std::string& publicKeyHex) {
    std::vector<std::string> problems;
    std::string manifestText, indexText, error;
    if (!readWholeFile(www + "/" + kManifestName, &manifestText)) problems.push_back(std::string(kManifestName) + ": missing");
    if (!readWholeFile(www + "/" + kIndexName, &indexText)) problems.push_back(std::string(kIndexName) + ": missing");
    if (!problems.empty()) return problems;

    ManifestContents contents;
    bool whole = true;
    readManifestFileAt(www + "/" + kManifestName, &contents, &whole);
    if (!whole) problems.push_back(kManifestName + std::string(kCutStepLine));
    PatchIndex index;
    if (!parsePatchIndex(indexText.data(), indexText.size(), &index, IndexSignature::Optional)) {
        problems.push_back(std::string(kIndexName) + ": not in the index format");
        return problems;
    }
    if (!publicKeyHex.empty()) verifySignatureOf(indexText, index, publicKeyHex, &problems);
    uint8_t manifestHash[kSha256Size];
    sha256(manifestText.data(), manifestText.size(), manifestHash);
    if (memcmp(manifestHash, index.manifestSha256, kSha256Size) != 0)
        problems.push_back(std::string(kManifestName) + ": does not match the hash in the index");

    std::vector<std::string> paths;
    if (!usedPaths(contents, &paths, &error)) problems.push_back(error);
    for (const std::string& path : paths) {
        std::error_code status;
        if (!fs::is_regular_file(www + "/" + path, status))
            problems.push_back(path + ": the manifest uses it but it is missing");
        else if (findPatchIndexFile(index, path.c_str()) == nullptr)
            problems.push_back(path + ": the manifest uses it but the index has no line for it");
    }
    verifyIndexLines(www, index, &problems);
    verifyArchives(www, paths, &problems);
    for (const std::string& problem : verifyDeltaList(www, contents, index, publicKeyHex)) problems.push_back(problem);
    for (const std::string& problem : verifyBuildList(www, contents, publicKeyHex)) problems.push_back(problem);
    reportLeftovers(www, &problems);
    return problems;
}
