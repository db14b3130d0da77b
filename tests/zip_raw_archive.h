// Test helper: writes zip archives byte by byte, for the forms minizip's writer does not produce on
// demand: zip64 records for small archives (the central extra field, the zip64 end record and its
// locator), bytes in front of the archive, an end record whose count is not the records', and
// entries whose method, flags or sizes say what the bytes do not. Free of <windows.h>, so the native
// directory tests use it too.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct RawZipEntry {
    std::string name;
    std::string data;        // what the entry unpacks to: its CRC and, unless declaredSize, its size
    uint16_t method = 0;
    uint16_t flags = 0;
    std::string packed = std::string();  // the bytes in the archive when they are not `data` itself
    bool packedGiven = false;
    int64_t declaredSize = -1;  // the uncompressed size both headers state, when not data.size()
};

inline RawZipEntry rawPackedEntry(std::string name, std::string data, uint16_t method, std::string packed,
                                  int64_t declaredSize = -1, uint16_t flags = 0) {
    RawZipEntry entry{std::move(name), std::move(data), method, flags, std::move(packed), true, declaredSize};
    return entry;
}

struct RawZipLayout {
    bool zip64 = false;    // sizes, offsets and counts only in zip64 fields, as for a > 4 GiB archive
    std::string prefix;    // bytes before the archive, as a self-extractor's stub
    int64_t endCount = -1; // the end record's entry count, when not the number of entries
};

inline uint32_t rawZipCrc32(const std::string& bytes) {
    uint32_t crc = 0xffffffffu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline void rawPut16(std::string& out, uint64_t value) {
    out += static_cast<char>(value & 0xff);
    out += static_cast<char>((value >> 8) & 0xff);
}
inline void rawPut32(std::string& out, uint64_t value) {
    rawPut16(out, value & 0xffff);
    rawPut16(out, (value >> 16) & 0xffff);
}
inline void rawPut64(std::string& out, uint64_t value) {
    rawPut32(out, value & 0xffffffffu);
    rawPut32(out, value >> 32);
}

// The archive's bytes; offsets recorded in it do not count the prefix, as in a self-extractor.
inline std::string writeRawZip(const std::vector<RawZipEntry>& entries, const RawZipLayout& layout = {}) {
    const uint32_t kMarker = 0xffffffffu;
    std::string zip;
    std::vector<uint64_t> offsets;
    auto packedOf = [](const RawZipEntry& entry) -> const std::string& {
        return entry.packedGiven ? entry.packed : entry.data;
    };
    auto sizeOf = [](const RawZipEntry& entry) -> uint64_t {
        return entry.declaredSize >= 0 ? static_cast<uint64_t>(entry.declaredSize) : entry.data.size();
    };
    for (const RawZipEntry& entry : entries) {
        offsets.push_back(zip.size());
        rawPut32(zip, 0x04034b50);
        rawPut16(zip, layout.zip64 ? 45 : 20);
        rawPut16(zip, entry.flags);
        rawPut16(zip, entry.method);
        rawPut32(zip, 0);  // time and date
        rawPut32(zip, rawZipCrc32(entry.data));
        rawPut32(zip, layout.zip64 ? kMarker : packedOf(entry).size());
        rawPut32(zip, layout.zip64 ? kMarker : sizeOf(entry));
        rawPut16(zip, entry.name.size());
        rawPut16(zip, layout.zip64 ? 20 : 0);
        zip += entry.name;
        if (layout.zip64) {
            rawPut16(zip, 1);
            rawPut16(zip, 16);
            rawPut64(zip, sizeOf(entry));
            rawPut64(zip, packedOf(entry).size());
        }
        zip += packedOf(entry);
    }
    uint64_t centralStart = zip.size();
    for (size_t i = 0; i < entries.size(); ++i) {
        const RawZipEntry& entry = entries[i];
        rawPut32(zip, 0x02014b50);
        rawPut16(zip, 45);
        rawPut16(zip, layout.zip64 ? 45 : 20);
        rawPut16(zip, entry.flags);
        rawPut16(zip, entry.method);
        rawPut32(zip, 0);
        rawPut32(zip, rawZipCrc32(entry.data));
        rawPut32(zip, layout.zip64 ? kMarker : packedOf(entry).size());
        rawPut32(zip, layout.zip64 ? kMarker : sizeOf(entry));
        rawPut16(zip, entry.name.size());
        rawPut16(zip, layout.zip64 ? 28 : 0);
        rawPut16(zip, 0);  // comment
        rawPut16(zip, 0);  // disk
        rawPut16(zip, 0);  // internal attributes
        rawPut32(zip, 0);  // external attributes
        rawPut32(zip, layout.zip64 ? kMarker : offsets[i]);
        zip += entry.name;
        if (layout.zip64) {
            rawPut16(zip, 1);
            rawPut16(zip, 24);
            rawPut64(zip, sizeOf(entry));
            rawPut64(zip, packedOf(entry).size());
            rawPut64(zip, offsets[i]);
        }
    }
    uint64_t centralSize = zip.size() - centralStart;
    if (layout.zip64) {
        uint64_t zip64End = zip.size();
        rawPut32(zip, 0x06064b50);
        rawPut64(zip, 44);  // size of the rest of this record
        rawPut16(zip, 45);
        rawPut16(zip, 45);
        rawPut32(zip, 0);
        rawPut32(zip, 0);
        rawPut64(zip, entries.size());
        rawPut64(zip, entries.size());
        rawPut64(zip, centralSize);
        rawPut64(zip, centralStart);
        rawPut32(zip, 0x07064b50);
        rawPut32(zip, 0);
        rawPut64(zip, zip64End + layout.prefix.size());  // minizip reads this one as a file position
        rawPut32(zip, 1);
    }
    rawPut32(zip, 0x06054b50);
    rawPut16(zip, 0);
    rawPut16(zip, 0);
    uint64_t count = layout.endCount >= 0 ? static_cast<uint64_t>(layout.endCount) : entries.size();
    rawPut16(zip, layout.zip64 ? 0xffff : count);
    rawPut16(zip, layout.zip64 ? 0xffff : count);
    rawPut32(zip, layout.zip64 ? kMarker : centralSize);
    rawPut32(zip, layout.zip64 ? kMarker : centralStart);
    rawPut16(zip, 0);
    return layout.prefix + zip;
}
