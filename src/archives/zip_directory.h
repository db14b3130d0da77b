// Reads a zip archive's central directory on its own, before minizip unpacks anything, to learn where
// each entry's bytes may lie. Free of <windows.h>: built natively under the sanitizers and fuzzed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Reads `size` bytes at file position `offset` into `buffer`; false unless all of them were read.
typedef bool (*ZipReadAt)(void* context, uint64_t offset, void* buffer, size_t size);

struct ZipSource {
    ZipReadAt readAt;
    void* context;
    uint64_t size;  // of the whole file
};

// The file positions an entry's compressed data may occupy: after its local header's fixed part and
// name, and before the next entry's local header (or the central directory); and what the central
// record says about how the data is packed.
struct ZipEntryRegion {
    uint64_t dataFloor;
    uint64_t dataLimit;
    uint16_t method = 0;     // compression method: 0 stored, 8 deflate, anything else unsupported here
    uint16_t flags = 0;      // general-purpose flags: bit 0 encrypted, bit 11 name in UTF-8
    bool plainName = true;   // the name holds only ASCII and no '~', so folding ASCII case covers it
};

enum : uint16_t { kZipMethodStored = 0, kZipMethodDeflate = 8, kZipFlagEncrypted = 1, kZipFlagUtf8Name = 0x800 };

enum ZipDirectoryStatus {
    kZipDirectoryRead = 0,
    kZipDirectoryUnreadable,  // no end record, a cut or malformed record, sizes beyond the file
    kZipEntriesOverlap,       // two entries (or an entry and the directory) claim the same bytes
    kZipCountMismatch,        // the records that fill the directory are not as many as the end record says
};

// Fills `regions` with one region per central directory record, in directory order (the order in
// which minizip walks the entries). Locates the end record, its zip64 form and any bytes before the
// archive the way minizip does, so both read the same records. The records are walked through the
// directory's whole size, not as far as the count goes; the count must agree, except that an end
// record without a zip64 record may say 0xFFFF for 65,535 records or more (what zip writers without
// zip64 make, and what minizip then walks to the directory's end).
ZipDirectoryStatus readZipDirectory(const ZipSource& source, std::vector<ZipEntryRegion>* regions);

// True when `compressedSize` bytes from `dataStart` (as minizip found them) lie inside `region`.
// This catches a local header whose extra field moves its data into another entry's bytes.
bool dataStaysInRegion(const ZipEntryRegion& region, uint64_t dataStart, uint64_t compressedSize);
