// Reading and writing the verification record. It is only a cache of earlier hashing: a damaged one
// costs a full re-hash, never a file taken for right that is not.
#include "formats/verify_record.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "formats/path_check.h"
#include "formats/text_fields.h"

namespace {

const char kHeaderLine[] = "VYR-VERIFY 1";
const char kSerialWord[] = "serial";
const char kFileWord[] = "file";
const char kCheckWord[] = "check";
enum { kCheckHexLength = 8, kMaxDecimalDigits = 20 };
// "file", two one-digit numbers, a hash, a one-character path and their spaces: the entries are
// reserved at once, for no more than a few times the text's own size.
enum { kShortestFileLine = 4 + 3 * 2 + 1 + 2 * kSha256Size };

// CRC-32 with zip's polynomial, so any zlib or Python can check a record by hand.
struct Crc32Table {
    uint32_t entries[256];
    constexpr Crc32Table() : entries() {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
    }
};
constexpr Crc32Table kCrc32Table;

uint32_t crc32Of(const char* bytes, size_t length) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) c = kCrc32Table.entries[(c ^ static_cast<uint8_t>(bytes[i])) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

// A plain decimal over the whole 64-bit range: a last-write time is whatever the file system holds.
bool parseDecimal64(const char* text, size_t length, uint64_t* value) {
    if (length == 0 || length > kMaxDecimalDigits || (length > 1 && text[0] == '0')) return false;
    uint64_t result = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (result > (UINT64_MAX - digit) / 10) return false;
        result = result * 10 + digit;
    }
    *value = result;
    return true;
}

bool parseSerialLine(const char* line, size_t length, uint64_t* serial) {
    FieldReader fields = {line, line + length};
    const char* field = nullptr;
    size_t fieldLength = 0;
    return fields.word(kSerialWord) && fields.rest(&field, &fieldLength) && parseIndexSize(field, fieldLength, serial);
}

bool parseFileLine(const char* line, size_t length, VerifiedFile* file) {
    FieldReader fields = {line, line + length};
    const char* field = nullptr;
    size_t fieldLength = 0;
    if (!fields.word(kFileWord) || !fields.size(&file->size)) return false;
    if (!fields.next(&field, &fieldLength) || !parseDecimal64(field, fieldLength, &file->lastWriteTime)) return false;
    if (!fields.hash(file->sha256) || !fields.rest(&field, &fieldLength) || !isIndexPath(field, fieldLength))
        return false;
    memcpy(file->path, field, fieldLength);
    file->path[fieldLength] = '\0';
    return isValidUtf8(file->path);
}

// The check line must be the last line, whole, with its line end: a record cut anywhere is damaged.
bool isCheckLine(const char* line, size_t length, const char* text, size_t checked) {
    FieldReader fields = {line, line + length};
    const char* field = nullptr;
    size_t fieldLength = 0;
    uint8_t stored[kCheckHexLength / 2];
    if (!fields.word(kCheckWord) || !fields.rest(&field, &fieldLength) ||
        !parseHex(field, fieldLength, stored, sizeof stored))
        return false;
    uint32_t value = static_cast<uint32_t>(stored[0]) << 24 | static_cast<uint32_t>(stored[1]) << 16 |
                     static_cast<uint32_t>(stored[2]) << 8 | stored[3];
    return value == crc32Of(text, checked);
}

bool byPath(const VerifiedFile& a, const VerifiedFile& b) { return strcmp(a.path, b.path) < 0; }

bool readRecord(const char* text, size_t length, VerifyRecord* record) {
    record->files.reserve(length / kShortestFileLine);
    TextLines lines = {text, length};
    const char* line = nullptr;
    size_t lineLength = 0, lineStart = 0, lineNumber = 0;
    for (; lines.next(&line, &lineLength, &lineStart); ++lineNumber) {
        if (!isPlainLine(line, lineLength)) return false;
        bool atEnd = lines.position == length && lineStart + lineLength < length;  // ends in "\n"
        if (lineNumber == 0) {
            if (lineLength != strlen(kHeaderLine) || memcmp(line, kHeaderLine, lineLength) != 0) return false;
        } else if (lineNumber == 1) {
            if (!parseSerialLine(line, lineLength, &record->acceptedSerial)) return false;
        } else if (atEnd) {
            return isCheckLine(line, lineLength, text, lineStart);
        } else {
            VerifiedFile file;
            if (!parseFileLine(line, lineLength, &file)) return false;
            if (!record->files.empty() && !byPath(record->files.back(), file)) return false;
            record->files.push_back(file);
        }
    }
    return false;
}

}  // namespace

bool parseVerifyRecord(const char* text, size_t length, VerifyRecord* record) {
    record->acceptedSerial = 0;
    record->files.clear();
    if (readRecord(text, length, record)) return true;
    record->acceptedSerial = 0;
    record->files.clear();
    return false;
}

std::string formatVerifyRecord(const VerifyRecord& record) {
    std::vector<VerifiedFile> files = record.files;
    std::stable_sort(files.begin(), files.end(), byPath);
    std::string text = std::string(kHeaderLine) + "\n";
    text += std::string(kSerialWord) + " " + std::to_string(record.acceptedSerial) + "\n";
    char hex[2 * kSha256Size + 1];
    for (size_t i = 0; i < files.size(); ++i) {
        if (i + 1 < files.size() && strcmp(files[i].path, files[i + 1].path) == 0) continue;  // the last one wins
        const VerifiedFile& f = files[i];
        formatHex(f.sha256, kSha256Size, hex);
        text += std::string(kFileWord) + " " + std::to_string(f.size) + " " + std::to_string(f.lastWriteTime) + " " +
                hex + " " + f.path + "\n";
    }
    return text + formatVerifyCheckLine(text.data(), text.size());
}

std::string formatVerifyCheckLine(const char* body, size_t length) {
    char check[sizeof kCheckWord + kCheckHexLength + 2];
    snprintf(check, sizeof check, "%s %08x\n", kCheckWord, static_cast<unsigned>(crc32Of(body, length)));
    return check;
}

const VerifiedFile* findVerifiedFile(const VerifyRecord& record, const char* path) {
    auto at = std::lower_bound(record.files.begin(), record.files.end(), path,
                               [](const VerifiedFile& f, const char* p) { return strcmp(f.path, p) < 0; });
    return at != record.files.end() && strcmp(at->path, path) == 0 ? &*at : nullptr;
}
