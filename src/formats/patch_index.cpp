// Reading and writing the patch index text. The reader is strict: a signed list that does not read
// exactly as written is refused as a whole, never half-used.
#include "formats/patch_index.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "formats/path_check.h"

namespace {

const char kHeaderLine[] = "VYR-PATCH-INDEX 1";
const char kManifestWord[] = "manifest ";
const char kFileWord[] = "file ";
const char kSignatureWord[] = "signature ";

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool startsWith(const char* line, size_t length, const char* word) {
    size_t wordLength = strlen(word);
    return length >= wordLength && memcmp(line, word, wordLength) == 0;
}

// "file <hex> <size> <path>"; the path is the rest of the line.
bool parseFileLine(const char* line, size_t length, PatchIndexFile* file) {
    const char* p = line + strlen(kFileWord);
    const char* end = line + length;
    if (end - p < 2 * kSha256Size + 1 || p[2 * kSha256Size] != ' ') return false;
    if (!parseHex(p, 2 * kSha256Size, file->sha256, kSha256Size)) return false;
    p += 2 * kSha256Size + 1;
    const char* sizeEnd = static_cast<const char*>(memchr(p, ' ', static_cast<size_t>(end - p)));
    if (sizeEnd == nullptr || !parseIndexSize(p, static_cast<size_t>(sizeEnd - p), &file->size)) return false;
    const char* path = sizeEnd + 1;
    size_t pathLength = static_cast<size_t>(end - path);
    if (!isIndexPath(path, pathLength)) return false;
    memcpy(file->path, path, pathLength);
    file->path[pathLength] = '\0';
    return true;
}

bool hasPath(const std::vector<PatchIndexFile>& files, const char* path) {
    for (const PatchIndexFile& f : files)
        if (strcmp(f.path, path) == 0) return true;
    return false;
}

}  // namespace

// A plain decimal number: digits only, no sign, no leading zero unless it is "0", below 2^63.
bool parseIndexSize(const char* text, size_t length, uint64_t* size) {
    if (length == 0 || length > 19 || (length > 1 && text[0] == '0')) return false;
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    if (value > static_cast<uint64_t>(INT64_MAX)) return false;
    *size = value;
    return true;
}

bool isIndexPath(const char* path, size_t length) {
    if (length == 0 || length >= kIndexPathSize) return false;
    char copy[kIndexPathSize];
    memcpy(copy, path, length);
    copy[length] = '\0';
    if (strchr(copy, '\\') != nullptr || copy[length - 1] == '/') return false;
    return isSafeRelativePath(copy);
}

bool parseHex(const char* text, size_t length, uint8_t* bytes, size_t count) {
    if (length != 2 * count) return false;
    for (size_t i = 0; i < count; ++i) {
        int high = hexValue(text[2 * i]);
        int low = hexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

void formatHex(const uint8_t* bytes, size_t count, char* text) {
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < count; ++i) {
        text[2 * i] = kDigits[bytes[i] >> 4];
        text[2 * i + 1] = kDigits[bytes[i] & 15];
    }
    text[2 * count] = '\0';
}

bool parsePatchIndex(const char* text, size_t length, PatchIndex* index, IndexSignature signature) {
    index->files.clear();
    index->isSigned = false;
    bool haveManifest = false;
    bool haveSignature = false;
    size_t lineNumber = 0;
    size_t position = 0;
    while (position < length) {
        if (haveSignature) return false;  // nothing may follow the signature
        const char* line = text + position;
        const char* newline = static_cast<const char*>(memchr(line, '\n', length - position));
        size_t lineLength = newline ? static_cast<size_t>(newline - line) : length - position;
        size_t next = position + lineLength + (newline ? 1 : 0);
        if (memchr(line, '\r', lineLength) != nullptr || memchr(line, '\0', lineLength) != nullptr) return false;
        if (lineNumber == 0) {
            if (lineLength != strlen(kHeaderLine) || memcmp(line, kHeaderLine, lineLength) != 0) return false;
        } else if (lineNumber == 1) {
            if (!startsWith(line, lineLength, kManifestWord)) return false;
            size_t word = strlen(kManifestWord);
            if (!parseHex(line + word, lineLength - word, index->manifestSha256, kSha256Size)) return false;
            haveManifest = true;
        } else if (startsWith(line, lineLength, kFileWord)) {
            PatchIndexFile file;
            if (!parseFileLine(line, lineLength, &file) || hasPath(index->files, file.path)) return false;
            index->files.push_back(file);
        } else if (startsWith(line, lineLength, kSignatureWord)) {
            size_t word = strlen(kSignatureWord);
            if (!parseHex(line + word, lineLength - word, index->signature, kP256SignatureSize)) return false;
            index->signedLength = position;
            index->isSigned = haveSignature = true;
        } else {
            return false;
        }
        position = next;
        ++lineNumber;
    }
    if (!haveSignature && signature == IndexSignature::Optional && haveManifest) {
        memset(index->signature, 0, sizeof index->signature);
        index->signedLength = length;
        return true;
    }
    return haveManifest && haveSignature;
}

const PatchIndexFile* findPatchIndexFile(const PatchIndex& index, const char* path) {
    for (const PatchIndexFile& f : index.files)
        if (strcmp(f.path, path) == 0) return &f;
    return nullptr;
}

bool playerIndexPath(const char* manifestName, char* path, size_t pathSize) {
    if (!isSafeRelativePath(manifestName)) return false;
    int written = snprintf(path, pathSize, "Player/%s", manifestName);
    if (written < 0 || static_cast<size_t>(written) >= pathSize) return false;
    for (char* c = path; *c; ++c)
        if (*c == '\\') *c = '/';
    return true;
}

std::string formatPatchIndexBody(const uint8_t manifestSha256[kSha256Size], std::vector<PatchIndexFile> files) {
    std::sort(files.begin(), files.end(),
              [](const PatchIndexFile& a, const PatchIndexFile& b) { return strcmp(a.path, b.path) < 0; });
    char hex[2 * kSha256Size + 1];
    std::string body = std::string(kHeaderLine) + "\n";
    formatHex(manifestSha256, kSha256Size, hex);
    body += std::string(kManifestWord) + hex + "\n";
    for (const PatchIndexFile& f : files) {
        formatHex(f.sha256, kSha256Size, hex);
        body += std::string(kFileWord) + hex + " " + std::to_string(f.size) + " " + f.path + "\n";
    }
    return body;
}

std::string formatSignatureLine(const uint8_t signature[kP256SignatureSize]) {
    char hex[2 * kP256SignatureSize + 1];
    formatHex(signature, kP256SignatureSize, hex);
    return std::string(kSignatureWord) + hex + "\n";
}
