// PE resource walk: headers, the section that holds the resource directory, the RT_VERSION entry,
// and the fixed part of VS_VERSIONINFO; and whether an image lies whole in its file. Every offset is
// checked against the file size first.
#include "formats/pe_version.h"

#include <cstring>

namespace {

enum : uint32_t {
    kDosHeaderSize = 0x40,
    kPeOffsetField = 0x3c,
    kCoffHeaderSize = 20,
    kSectionHeaderSize = 40,
    kPe32Magic = 0x10b,
    kPe32PlusMagic = 0x20b,
    kResourceDirectoryIndex = 2,
    kCertificateDirectoryIndex = 4,
    kSizeOfHeadersField = 60,  // in the optional header, the same for PE32 and PE32+
    kSymbolSize = 18,
    kResourceTypeVersion = 16,
    kSubdirectoryFlag = 0x80000000u,
    kFixedInfoSignature = 0xfeef04bdu,
    kFixedInfoSize = 52,
};

struct PeImage {
    const uint8_t* data;
    size_t size;
    uint32_t sectionTable;
    uint32_t sectionCount;
};

bool readU16(const PeImage& pe, uint64_t offset, uint32_t* value) {
    if (offset + 2 > pe.size) return false;
    *value = static_cast<uint32_t>(pe.data[offset] | pe.data[offset + 1] << 8);
    return true;
}

bool readU32(const PeImage& pe, uint64_t offset, uint32_t* value) {
    if (offset + 4 > pe.size) return false;
    const uint8_t* p = pe.data + offset;
    *value = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
             static_cast<uint32_t>(p[3]) << 24;
    return true;
}

// The file offset of a relative virtual address, through the section that holds its bytes in the file.
bool rvaToOffset(const PeImage& pe, uint32_t rva, uint64_t* offset) {
    for (uint32_t i = 0; i < pe.sectionCount; ++i) {
        uint64_t header = pe.sectionTable + static_cast<uint64_t>(i) * kSectionHeaderSize;
        uint32_t address = 0, rawSize = 0, rawPointer = 0;
        if (!readU32(pe, header + 12, &address) || !readU32(pe, header + 16, &rawSize) ||
            !readU32(pe, header + 20, &rawPointer))
            return false;
        if (rva >= address && rva - address < rawSize) {
            *offset = static_cast<uint64_t>(rawPointer) + (rva - address);
            return *offset < pe.size;
        }
    }
    return false;
}

// Where the headers put things; every offset here was checked to lie inside the file.
struct PeHeaders {
    uint64_t optional;        // the optional header
    uint32_t optionalSize;
    uint64_t directories;     // the data directory array
    uint32_t directoryCount;  // entries the optional header has room for and claims
    uint32_t sizeOfHeaders;
    uint32_t symbolTable;     // COFF symbols, 0 when there are none
    uint32_t symbolCount;
};

bool readHeaders(const uint8_t* data, size_t size, PeImage* pe, PeHeaders* headers) {
    *pe = PeImage{data, size, 0, 0};
    *headers = PeHeaders{};
    uint32_t peOffset = 0, machineAndSections = 0, magic = 0;
    if (size < kDosHeaderSize || data[0] != 'M' || data[1] != 'Z') return false;
    if (!readU32(*pe, kPeOffsetField, &peOffset)) return false;
    static const uint8_t kPeSignature[4] = {'P', 'E', 0, 0};
    if (static_cast<uint64_t>(peOffset) + 4 + kCoffHeaderSize > size || memcmp(data + peOffset, kPeSignature, 4) != 0)
        return false;
    uint64_t coff = static_cast<uint64_t>(peOffset) + 4;
    if (!readU32(*pe, coff, &machineAndSections) || !readU32(*pe, coff + 8, &headers->symbolTable) ||
        !readU32(*pe, coff + 12, &headers->symbolCount) || !readU16(*pe, coff + 16, &headers->optionalSize))
        return false;
    headers->optional = coff + kCoffHeaderSize;
    if (!readU16(*pe, headers->optional, &magic)) return false;
    uint64_t directories = magic == kPe32Magic ? headers->optional + 96
                           : magic == kPe32PlusMagic ? headers->optional + 112 : 0;
    if (directories == 0 || !readU32(*pe, directories - 4, &headers->directoryCount) ||
        !readU32(*pe, headers->optional + kSizeOfHeadersField, &headers->sizeOfHeaders))
        return false;
    uint64_t room = (headers->optional + headers->optionalSize > directories)
                        ? (headers->optional + headers->optionalSize - directories) / 8 : 0;
    if (headers->directoryCount > room) headers->directoryCount = static_cast<uint32_t>(room);
    headers->directories = directories;
    pe->sectionCount = machineAndSections >> 16;
    pe->sectionTable = static_cast<uint32_t>(headers->optional + headers->optionalSize);
    return true;
}

bool liesInside(const PeImage& pe, uint64_t offset, uint64_t length) {
    return offset <= pe.size && length <= pe.size - offset;
}

// The raw bytes of every section must be in the file: the loader maps them, and a file cut inside
// one is refused by Windows (or worse, runs with zeros where code was).
bool sectionsLieInside(const PeImage& pe) {
    if (pe.sectionCount == 0 || !liesInside(pe, pe.sectionTable, uint64_t{pe.sectionCount} * kSectionHeaderSize))
        return false;
    for (uint32_t i = 0; i < pe.sectionCount; ++i) {
        uint64_t header = pe.sectionTable + static_cast<uint64_t>(i) * kSectionHeaderSize;
        uint32_t rawSize = 0, rawPointer = 0;
        if (!readU32(pe, header + 16, &rawSize) || !readU32(pe, header + 20, &rawPointer)) return false;
        if (rawSize != 0 && !liesInside(pe, rawPointer, rawSize)) return false;
    }
    return true;
}

// What follows the sections and is still the linker's or the signer's: the COFF symbols with their
// string table, and the Authenticode certificate, whose directory entry holds a file offset.
bool trailersLieInside(const PeImage& pe, const PeHeaders& headers) {
    if (headers.symbolTable != 0 && headers.symbolCount != 0) {
        uint64_t strings = uint64_t{headers.symbolTable} + uint64_t{headers.symbolCount} * kSymbolSize;
        uint32_t stringsSize = 0;
        if (!readU32(pe, strings, &stringsSize) || stringsSize < 4 || !liesInside(pe, strings, stringsSize))
            return false;
    }
    if (headers.directoryCount > kCertificateDirectoryIndex) {
        uint32_t offset = 0, length = 0;
        uint64_t entry = headers.directories + 8 * kCertificateDirectoryIndex;
        if (!readU32(pe, entry, &offset) || !readU32(pe, entry + 4, &length)) return false;
        if (length != 0 && !liesInside(pe, offset, length)) return false;
    }
    return true;
}

// The resource directory's RVA, from the optional header of a 32- or 64-bit image.
bool openImage(const uint8_t* data, size_t size, PeImage* pe, uint32_t* resourceRva) {
    PeHeaders headers;
    if (!readHeaders(data, size, pe, &headers) || headers.directoryCount <= kResourceDirectoryIndex) return false;
    return readU32(*pe, headers.directories + 8 * kResourceDirectoryIndex, resourceRva) && *resourceRva != 0;
}

// The entry of a resource directory with the given id, or its first entry when id is 0; answers the
// entry's target (offset below the resource base, with the subdirectory flag).
bool findResourceEntry(const PeImage& pe, uint64_t base, uint32_t directory, uint32_t id, uint32_t* target) {
    uint32_t named = 0, ids = 0;
    uint64_t at = base + directory;
    if (!readU16(pe, at + 12, &named) || !readU16(pe, at + 14, &ids)) return false;
    for (uint32_t i = 0; i < named + ids; ++i) {
        uint32_t name = 0;
        uint64_t entry = at + 16 + 8 * static_cast<uint64_t>(i);
        if (!readU32(pe, entry, &name) || !readU32(pe, entry + 4, target)) return false;
        if (id == 0 || name == id) return true;
    }
    return false;
}

// Type, name and language: three levels down to the data entry of the version resource.
bool findVersionResource(const PeImage& pe, uint32_t resourceRva, uint64_t* offset, uint32_t* size) {
    uint64_t base = 0;
    if (!rvaToOffset(pe, resourceRva, &base)) return false;
    uint32_t target = 0;
    const uint32_t path[3] = {kResourceTypeVersion, 0, 0};
    uint32_t directory = 0;
    for (uint32_t level = 0; level < 3; ++level) {
        if (!findResourceEntry(pe, base, directory, path[level], &target)) return false;
        bool subdirectory = (target & kSubdirectoryFlag) != 0;
        if (subdirectory != (level < 2)) return false;
        directory = target & ~kSubdirectoryFlag;
    }
    uint32_t dataRva = 0;
    if (!readU32(pe, base + directory, &dataRva) || !readU32(pe, base + directory + 4, size)) return false;
    return rvaToOffset(pe, dataRva, offset) && *offset + *size <= pe.size;
}

}  // namespace

bool readPeFileVersion(const uint8_t* data, size_t size, VersionQuad* version) {
    PeImage pe;
    uint32_t resourceRva = 0, resourceSize = 0, valueLength = 0, signature = 0, high = 0, low = 0;
    uint64_t info = 0;
    if (!openImage(data, size, &pe, &resourceRva) || !findVersionResource(pe, resourceRva, &info, &resourceSize))
        return false;
    // VS_VERSIONINFO: length, value length, type, the UTF-16 key "VS_VERSION_INFO" and its terminator,
    // padding to 32 bits, then the fixed file information.
    static const char kKey[] = "VS_VERSION_INFO";
    const uint64_t keyOffset = 6, fixedOffset = 40;
    if (resourceSize < fixedOffset + kFixedInfoSize || !readU16(pe, info + 2, &valueLength) || valueLength < kFixedInfoSize)
        return false;
    for (uint64_t i = 0; i < sizeof kKey; ++i) {
        uint32_t unit = 0;
        if (!readU16(pe, info + keyOffset + 2 * i, &unit) || unit != static_cast<uint8_t>(kKey[i])) return false;
    }
    uint64_t fixed = info + fixedOffset;
    if (!readU32(pe, fixed, &signature) || signature != kFixedInfoSignature) return false;
    if (!readU32(pe, fixed + 8, &high) || !readU32(pe, fixed + 12, &low)) return false;
    version->component[0] = static_cast<int32_t>(high >> 16);
    version->component[1] = static_cast<int32_t>(high & 0xffff);
    version->component[2] = static_cast<int32_t>(low >> 16);
    version->component[3] = static_cast<int32_t>(low & 0xffff);
    return true;
}

bool isWholePeImage(const uint8_t* data, size_t size) {
    PeImage pe;
    PeHeaders headers;
    if (!readHeaders(data, size, &pe, &headers)) return false;
    uint64_t tableEnd = pe.sectionTable + uint64_t{pe.sectionCount} * kSectionHeaderSize;
    return headers.sizeOfHeaders >= tableEnd && liesInside(pe, 0, headers.sizeOfHeaders) && sectionsLieInside(pe) &&
           trailersLieInside(pe, headers);
}
