// Central directory reader for the overlapping-entry check: finds the end record (and its zip64 form),
// walks every central record once and turns local header offsets and sizes into disjoint regions.
#include "archives/zip_directory.h"

#include <algorithm>

#include "archives/zip_records.h"

namespace {

using namespace zip_record;
enum : size_t {
    kZip64ExtraId = 0x0001,
    kMaxExtraFieldSize = 0xffff,
    kMaxNameSize = 0xffff,
};
// minizip looks for the end records only this far back from the end of the file.
const uint64_t kEndSearchSpan = 0xffff;
const uint32_t kZip64Marker = 0xffffffffu;

uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const unsigned char* p) { return le16(p) | (static_cast<uint32_t>(le16(p + 2)) << 16); }
uint64_t le64(const unsigned char* p) { return le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32); }

bool addWithoutOverflow(uint64_t a, uint64_t b, uint64_t* sum) {
    *sum = a + b;
    return *sum >= a;
}

// The highest position (above 0, as minizip requires) in the file's last kEndSearchSpan bytes where
// `signature` starts with `recordSize` bytes after it; 0 when there is none.
uint64_t findLastSignature(const ZipSource& source, const std::vector<unsigned char>& tail, uint32_t signature,
                           size_t recordSize) {
    uint64_t tailStart = source.size - tail.size();
    for (size_t i = tail.size() >= recordSize ? tail.size() - recordSize + 1 : 0; i-- > 0;) {
        if (tailStart + i == 0) break;
        if (le32(&tail[i]) == signature) return tailStart + i;
    }
    return 0;
}

struct DirectoryLocation {
    uint64_t entryCount;
    uint64_t centralSize;
    uint64_t centralOffset;  // as recorded, before any bytes in front of the archive are counted
    uint64_t endPosition;    // where the (zip64) end record starts
    bool zip64;
};

const uint64_t kClassicCountOverflow = 0xffff;

// minizip prefers the zip64 end record when a valid locator points at one; otherwise it takes the
// classic record. A locator that does not lead to a zip64 record is ignored, as minizip does.
bool readZip64End(const ZipSource& source, uint64_t locatorPosition, DirectoryLocation* location) {
    unsigned char locator[kZip64LocatorSize];
    if (!source.readAt(source.context, locatorPosition, locator, sizeof locator)) return false;
    if (le32(locator + 4) != 0 || le32(locator + 16) != 1) return false;
    uint64_t endPosition = le64(locator + 8);
    unsigned char record[kZip64EndRecordSize];
    uint64_t recordEnd;
    if (!addWithoutOverflow(endPosition, sizeof record, &recordEnd) || recordEnd > source.size) return false;
    if (!source.readAt(source.context, endPosition, record, sizeof record)) return false;
    if (le32(record) != kZip64EndSignature) return false;
    *location = {le64(record + 24), le64(record + 40), le64(record + 48), endPosition, true};
    return le32(record + 16) == 0 && le32(record + 20) == 0 && le64(record + 24) == le64(record + 32);
}

bool readClassicEnd(const ZipSource& source, uint64_t endPosition, DirectoryLocation* location) {
    unsigned char record[kEndRecordSize];
    if (!source.readAt(source.context, endPosition, record, sizeof record)) return false;
    *location = {le16(record + 8), le32(record + 12), le32(record + 16), endPosition, false};
    return le16(record + 4) == 0 && le16(record + 6) == 0 && le16(record + 8) == le16(record + 10);
}

bool locateDirectory(const ZipSource& source, DirectoryLocation* location) {
    std::vector<unsigned char> tail(static_cast<size_t>(std::min(source.size, kEndSearchSpan)));
    if (tail.empty() || !source.readAt(source.context, source.size - tail.size(), tail.data(), tail.size()))
        return false;
    uint64_t locator = findLastSignature(source, tail, kZip64LocatorSignature, kZip64LocatorSize);
    if (locator != 0 && readZip64End(source, locator, location)) return true;
    uint64_t end = findLastSignature(source, tail, kEndSignature, kEndRecordSize);
    return end != 0 && readClassicEnd(source, end, location);
}

struct EntrySpan {
    uint64_t headerStart;
    uint64_t dataFloor;  // after the fixed header and the name
    uint64_t end;        // after the compressed data, if the local extra field were empty
    size_t index;        // in directory order
    uint16_t method;
    uint16_t flags;
    bool plainName;
};

bool isPlainName(const unsigned char* name, size_t size) {
    for (size_t i = 0; i < size; ++i)
        if (name[i] >= 0x80 || name[i] == '~') return false;
    return true;
}

// Replaces the 32-bit fields that hold the zip64 marker with the values of the zip64 extra field,
// which lists them in this order; false when the field is cut short.
bool applyZip64Extra(const unsigned char* extra, size_t extraSize, uint64_t* uncompressed, uint64_t* compressed,
                     uint64_t* offset) {
    size_t at = 0;
    while (at + 4 <= extraSize) {
        size_t fieldSize = le16(extra + at + 2);
        if (at + 4 + fieldSize > extraSize) return false;
        if (le16(extra + at) == kZip64ExtraId) {
            const unsigned char* field = extra + at + 4;
            size_t used = 0;
            for (uint64_t* value : {uncompressed, compressed, offset}) {
                if (*value != kZip64Marker) continue;
                if (used + 8 > fieldSize) return false;
                *value = le64(field + used);
                used += 8;
            }
            return true;
        }
        at += 4 + fieldSize;
    }
    return true;
}

// Reads the central record at `position`; `next` receives the position of the record after it.
bool readCentralRecord(const ZipSource& source, uint64_t position, uint64_t bytesBefore, uint64_t* next,
                       EntrySpan* span) {
    unsigned char record[kCentralRecordSize];
    if (!source.readAt(source.context, position, record, sizeof record) || le32(record) != kCentralSignature)
        return false;
    uint64_t compressed = le32(record + 20);
    uint64_t uncompressed = le32(record + 24);
    size_t nameSize = le16(record + 28);
    size_t extraSize = le16(record + 30);
    size_t commentSize = le16(record + 32);
    uint64_t offset = le32(record + 42);
    span->flags = le16(record + 8);
    span->method = le16(record + 10);
    unsigned char name[kMaxNameSize];
    if (nameSize > 0 && !source.readAt(source.context, position + sizeof record, name, nameSize)) return false;
    span->plainName = isPlainName(name, nameSize);
    if (extraSize > 0) {
        unsigned char extra[kMaxExtraFieldSize];
        if (!source.readAt(source.context, position + sizeof record + nameSize, extra, extraSize)) return false;
        if (!applyZip64Extra(extra, extraSize, &uncompressed, &compressed, &offset)) return false;
    }
    *next = position + sizeof record + nameSize + extraSize + commentSize;
    return addWithoutOverflow(offset, bytesBefore, &span->headerStart) &&
           addWithoutOverflow(span->headerStart, kLocalHeaderSize + nameSize, &span->dataFloor) &&
           addWithoutOverflow(span->dataFloor, compressed, &span->end);
}

}  // namespace

ZipDirectoryStatus readZipDirectory(const ZipSource& source, std::vector<ZipEntryRegion>* regions) {
    regions->clear();
    DirectoryLocation location;
    if (!locateDirectory(source, &location)) return kZipDirectoryUnreadable;
    uint64_t centralEnd;
    if (!addWithoutOverflow(location.centralOffset, location.centralSize, &centralEnd) ||
        centralEnd > location.endPosition)
        return kZipDirectoryUnreadable;
    // Bytes in front of the archive (a self-extractor's stub) shift every recorded offset alike.
    uint64_t bytesBefore = location.endPosition - centralEnd;
    uint64_t centralStart = location.centralOffset + bytesBefore;
    uint64_t centralStop = location.endPosition;

    std::vector<EntrySpan> spans;
    spans.reserve(static_cast<size_t>(std::min<uint64_t>(location.entryCount, location.centralSize / kCentralRecordSize)));
    for (uint64_t position = centralStart; position < centralStop;) {
        EntrySpan span;
        uint64_t next;
        if (!readCentralRecord(source, position, bytesBefore, &next, &span) || next > centralStop)
            return kZipDirectoryUnreadable;
        span.index = spans.size();
        spans.push_back(span);
        position = next;
    }
    bool countOverflowed = !location.zip64 && location.entryCount == kClassicCountOverflow &&
                           spans.size() >= kClassicCountOverflow;
    if (spans.size() != location.entryCount && !countOverflowed) return kZipCountMismatch;

    std::sort(spans.begin(), spans.end(),
              [](const EntrySpan& a, const EntrySpan& b) { return a.headerStart < b.headerStart; });
    regions->resize(spans.size());
    for (size_t i = 0; i < spans.size(); ++i) {
        uint64_t limit = i + 1 < spans.size() ? spans[i + 1].headerStart : centralStart;
        if (spans[i].end > limit) {
            regions->clear();
            return kZipEntriesOverlap;
        }
        (*regions)[spans[i].index] = {spans[i].dataFloor, limit, spans[i].method, spans[i].flags, spans[i].plainName};
    }
    return kZipDirectoryRead;
}

bool dataStaysInRegion(const ZipEntryRegion& region, uint64_t dataStart, uint64_t compressedSize) {
    uint64_t dataEnd;
    return dataStart >= region.dataFloor && addWithoutOverflow(dataStart, compressedSize, &dataEnd) &&
           dataEnd <= region.dataLimit;
}
