// Reading and writing the whole-build list. Strict like the patch index: a list that does not read
// exactly as written is refused whole, and the launcher then checks nothing rather than repair wrongly.
#include "formats/build_list.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "formats/own_file_names.h"
#include "formats/path_check.h"
#include "formats/text_fields.h"

const char kBuildListName[] = "PatchBuild.txt";

namespace {

const char kHeaderLine[] = "VYR-PATCH-BUILD 1";
const char kReleaseWord[] = "release";
const char kFileWord[] = "file";
const char kSignatureWord[] = "signature";
const char kPayloadFolder[] = "Player/Files/";
const char kPayloadExtension[] = ".zst";
// "file", two hashes, two one-digit sizes, two one-character paths and their spaces: room for every
// line a text can hold, reserved at once (a list of 20,000 files would otherwise be copied over and over),
// and never more than a few times the text's own size.
enum { kShortestFileLine = 4 + 2 * (1 + 2 * kSha256Size) + 4 * 2 };

bool copyPath(const char* path, size_t length, char (&out)[kIndexPathSize]) {
    if (!isIndexPath(path, length)) return false;
    memcpy(out, path, length);
    out[length] = '\0';
    return isValidUtf8(out);
}

// "release <serial> <version>": a serial of 1 to 2^63-1, a version above 0 that fits 32 bits.
bool parseReleaseLine(const char* line, size_t length, BuildList* list) {
    FieldReader fields = {line, line + length};
    const char* field = nullptr;
    size_t fieldLength = 0;
    uint64_t version = 0;
    if (!fields.word(kReleaseWord) || !fields.size(&list->serial) || list->serial == 0) return false;
    if (!fields.rest(&field, &fieldLength) || !parseIndexSize(field, fieldLength, &version)) return false;
    if (version == 0 || version > UINT32_MAX) return false;
    list->version = static_cast<uint32_t>(version);
    return true;
}

bool parseFileLine(const char* line, size_t length, BuildFile* file) {
    FieldReader fields = {line, line + length};
    const char* field = nullptr;
    size_t fieldLength = 0;
    if (!fields.word(kFileWord) || !fields.hash(file->sha256) || !fields.size(&file->size) ||
        !fields.hash(file->payloadSha256) || !fields.size(&file->payloadSize))
        return false;
    if (!fields.next(&field, &fieldLength) || !copyPath(field, fieldLength, file->payloadPath)) return false;
    return fields.rest(&field, &fieldLength) && copyPath(field, fieldLength, file->path) &&
           ownFileNameOf(file->path) == nullptr;
}

bool isSignatureLine(const char* line, size_t length, uint8_t signature[kP256SignatureSize]) {
    FieldReader fields = {line, line + length};
    const char* field = nullptr;
    size_t fieldLength = 0;
    return fields.word(kSignatureWord) && fields.rest(&field, &fieldLength) &&
           parseHex(field, fieldLength, signature, kP256SignatureSize);
}

std::string foldedAscii(const char* path) {
    std::string folded(path);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

// Windows would take two of the paths for one file, or one path for a folder another path needs:
// either way one of the two files could not be put in place.
bool hasWindowsCollision(const std::vector<BuildFile>& files) {
    std::vector<std::string> paths, folders;
    paths.reserve(files.size());
    for (const BuildFile& f : files) {
        paths.push_back(foldedAscii(f.path));
        for (size_t slash = paths.back().find('/'); slash != std::string::npos;
             slash = paths.back().find('/', slash + 1))
            folders.push_back(paths.back().substr(0, slash));
    }
    std::sort(paths.begin(), paths.end());
    if (std::adjacent_find(paths.begin(), paths.end()) != paths.end()) return true;
    std::sort(folders.begin(), folders.end());
    for (const std::string& path : paths)
        if (std::binary_search(folders.begin(), folders.end(), path)) return true;
    return false;
}

bool byPath(const BuildFile& a, const BuildFile& b) { return strcmp(a.path, b.path) < 0; }

}  // namespace

bool parseBuildList(const char* text, size_t length, BuildList* list, IndexSignature signature) {
    list->files.clear();
    list->files.reserve(length / kShortestFileLine);
    list->isSigned = false;
    TextLines lines = {text, length};
    const char* line = nullptr;
    size_t lineLength = 0, lineStart = 0, lineNumber = 0;
    for (; lines.next(&line, &lineLength, &lineStart); ++lineNumber) {
        if (list->isSigned || !isPlainLine(line, lineLength)) return false;  // nothing after the signature
        if (lineNumber == 0) {
            if (lineLength != strlen(kHeaderLine) || memcmp(line, kHeaderLine, lineLength) != 0) return false;
        } else if (lineNumber == 1) {
            if (!parseReleaseLine(line, lineLength, list)) return false;
        } else if (isSignatureLine(line, lineLength, list->signature)) {
            list->signedLength = lineStart;
            list->isSigned = true;
        } else {
            BuildFile file;
            if (!parseFileLine(line, lineLength, &file)) return false;
            if (!list->files.empty() && !byPath(list->files.back(), file)) return false;
            list->files.push_back(file);
        }
    }
    if (lineNumber < 2 || hasWindowsCollision(list->files)) return false;
    if (list->isSigned) return true;
    if (signature != IndexSignature::Optional) return false;
    memset(list->signature, 0, sizeof list->signature);
    list->signedLength = length;
    return true;
}

const BuildFile* findBuildFile(const BuildList& list, const char* path) {
    auto at = std::lower_bound(list.files.begin(), list.files.end(), path,
                               [](const BuildFile& f, const char* p) { return strcmp(f.path, p) < 0; });
    return at != list.files.end() && strcmp(at->path, path) == 0 ? &*at : nullptr;
}

std::string formatBuildListBody(const BuildList& list) {
    std::vector<BuildFile> files = list.files;
    std::sort(files.begin(), files.end(), byPath);
    std::string text = std::string(kHeaderLine) + "\n" + kReleaseWord + " " + std::to_string(list.serial) + " " +
                       std::to_string(list.version) + "\n";
    char hex[2 * kSha256Size + 1];
    for (const BuildFile& f : files) {
        formatHex(f.sha256, kSha256Size, hex);
        text += std::string(kFileWord) + " " + hex + " " + std::to_string(f.size);
        formatHex(f.payloadSha256, kSha256Size, hex);
        text += std::string(" ") + hex + " " + std::to_string(f.payloadSize) + " " + f.payloadPath + " " + f.path;
        text += "\n";
    }
    return text;
}

void buildPayloadPath(const uint8_t sha256[kSha256Size], char (&path)[kIndexPathSize]) {
    char hex[2 * kSha256Size + 1];
    formatHex(sha256, kSha256Size, hex);
    snprintf(path, sizeof path, "%s%s%s", kPayloadFolder, hex, kPayloadExtension);
}
