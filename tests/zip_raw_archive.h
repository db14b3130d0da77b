// Test helper: writes zip archives byte by byte, for the forms minizip's writer does not produce on
// demand: zip64 records for small archives (the central extra field, the zip64 end record and its
// locator) and bytes in front of the archive. Stored entries only. Free of <windows.h>, so the
// native directory tests use it too.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct RawZipEntry {
    std::string name;
    std::string data;
};

struct RawZipLayout {
    bool zip64 = false;    // sizes, offsets and counts only in zip64 fields, as for a > 4 GiB archive
    std::string prefix;    // bytes before the archive, as a self-extractor's stub
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
    for (const RawZipEntry& entry : entries) {
        offsets.push_back(zip.size());
        rawPut32(zip, 0x04034b50);
        rawPut16(zip, layout.zip64 ? 45 : 20);
        rawPut16(zip, 0);  // flags
        rawPut16(zip, 0);  // stored
        rawPut32(zip, 0);  // time and date
        rawPut32(zip, rawZipCrc32(entry.data));
        rawPut32(zip, layout.zip64 ? kMarker : entry.data.size());
        rawPut32(zip, layout.zip64 ? kMarker : entry.data.size());
        rawPut16(zip, entry.name.size());
        rawPut16(zip, layout.zip64 ? 20 : 0);
        zip += entry.name;
        if (layout.zip64) {
            rawPut16(zip, 1);
            rawPut16(zip, 16);
            rawPut64(zip, entry.data.size());
            rawPut64(zip, entry.data.size());
        }
        zip += entry.data;
    }
    uint64_t centralStart = zip.size();
    for (size_t i = 0; i < entries.size(); ++i) {
        const RawZipEntry& entry = entries[i];
        rawPut32(zip, 0x02014b50);
        rawPut16(zip, 45);
        rawPut16(zip, layout.zip64 ? 45 : 20);
        rawPut16(zip, 0);
        rawPut16(zip, 0);
        rawPut32(zip, 0);
        rawPut32(zip, rawZipCrc32(entry.data));
        rawPut32(zip, layout.zip64 ? kMarker : entry.data.size());
        rawPut32(zip, layout.zip64 ? kMarker : entry.data.size());
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
            rawPut64(zip, entry.data.size());
            rawPut64(zip, entry.data.size());
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
    rawPut16(zip, layout.zip64 ? 0xffff : entries.size());
    rawPut16(zip, layout.zip64 ? 0xffff : entries.size());
    rawPut32(zip, layout.zip64 ? kMarker : centralSize);
    rawPut32(zip, layout.zip64 ? kMarker : centralStart);
    rawPut16(zip, 0);
    return layout.prefix + zip;
}
