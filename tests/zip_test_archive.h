// Test helper: builds real zip archives inside a test with minizip's writer, so every archive a
// test extracts has a visible origin (entries, compression) instead of an opaque committed binary.
#pragma once
#include <zip.h>

#include <string>
#include <vector>

struct ZipTestEntry {
    std::string name;  // "d1/" makes a directory entry
    std::string data;
    bool stored;       // no compression: the bytes appear as-is in the archive
};

// Writes `entries` in order into a new archive at `path`; false when the writer failed.
inline bool writeZipArchive(const std::string& path, const std::vector<ZipTestEntry>& entries) {
    zipFile zip = zipOpen(path.c_str(), APPEND_STATUS_CREATE);
    if (zip == nullptr) return false;
    bool ok = true;
    for (const ZipTestEntry& entry : entries) {
        zip_fileinfo info = {};
        int method = entry.stored ? 0 : Z_DEFLATED;
        ok = ok && zipOpenNewFileInZip(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                                       entry.stored ? 0 : Z_DEFAULT_COMPRESSION) == ZIP_OK;
        if (ok && !entry.data.empty())
            ok = zipWriteInFileInZip(zip, entry.data.data(), static_cast<unsigned>(entry.data.size())) == ZIP_OK;
        ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}
