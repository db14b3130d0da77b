// Durability of a finished patch step: flushes of downloads, of the volume, or of each unpacked entry.
#include "update/step_durability.h"

#include <cstdio>
#include <cstring>

#include <unzip.h>

#include "archives/zip_file_io.h"
#include "archives/zip_extract.h"

namespace {

enum { kVolumePathSize = MAX_PATH + 1, kWideNameSize = kZipEntryNameSize * 2 };
// General-purpose flag of an entry whose stored name is UTF-8 rather than the ANSI code page.
const unsigned long kUtf8NameFlag = 0x800;

// The device path of the volume holding `path`: "\\.\C:" for a drive root, the volume's GUID path
// (without its last "\") for a folder mounted as a volume. false when neither can be found.
bool volumeDevicePath(const char* path, char* device, size_t deviceSize) {
    char mountPoint[kVolumePathSize];
    if (!GetVolumePathNameA(path, mountPoint, sizeof mountPoint)) return false;
    bool driveRoot = mountPoint[0] != '\0' && mountPoint[1] == ':' && mountPoint[2] == '\\' && mountPoint[3] == '\0';
    if (driveRoot) return snprintf(device, deviceSize, "\\\\.\\%c:", mountPoint[0]) > 0;
    char volumeName[kVolumePathSize];
    if (!GetVolumeNameForVolumeMountPointA(mountPoint, volumeName, sizeof volumeName)) return false;
    size_t length = strlen(volumeName);
    if (length > 0 && volumeName[length - 1] == '\\') volumeName[length - 1] = '\0';
    int written = snprintf(device, deviceSize, "%s", volumeName);
    return written > 0 && static_cast<size_t>(written) < deviceSize;
}

// Flushing a volume handle writes every file of that volume and its metadata at once; Windows
// allows it only to administrators. Wine refuses the open or the flush, and so does a network share.
bool flushVolumeOf(const char* path) {
    char device[kVolumePathSize];
    if (!volumeDevicePath(path, device, sizeof device)) return false;
    HANDLE volume = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (volume == INVALID_HANDLE_VALUE) return false;
    bool flushed = FlushFileBuffers(volume) != 0;
    CloseHandle(volume);
    return flushed;
}

// Opened with full sharing, so a reader of the game file (a scanner, the game) does not block it.
HANDLE openForFlush(const char* entryName, unsigned long flag) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if ((flag & kUtf8NameFlag) == 0)
        return CreateFileA(entryName, GENERIC_WRITE, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    WCHAR wideName[kWideNameSize];
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, entryName, -1, wideName, kWideNameSize) == 0)
        return INVALID_HANDLE_VALUE;
    return CreateFileW(wideName, GENERIC_WRITE, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool flushEntryFile(const char* entryName, unsigned long flag) {
    size_t length = strlen(entryName);
    if (length == 0 || entryName[length - 1] == '/' || entryName[length - 1] == '\\') return true;  // a folder
    HANDLE file = openForFlush(entryName, flag);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool flushed = flushOpenFile(file);
    CloseHandle(file);
    return flushed;
}

// Every entry's file, by the names the archive's central directory gives them. As many entries as
// extraction found: minizip's walk of a directory whose count reads 0xFFFF runs past its last record.
bool flushEachEntry(const char* archivePath) {
    zlib_filefunc64_def functions;
    fillBufferedZipFunctions(&functions);
    unzFile archive = unzOpen2_64(archivePath, &functions);
    // Only the archive without entries gets here unopenable: extraction reads every other one with
    // minizip, and that one has no file to flush.
    if (archive == nullptr) return true;
    size_t count = 0;
    bool flushed = countArchiveEntries(archivePath, &count);
    for (size_t i = 0; flushed && i < count; ++i) {
        unz_file_info64 info;
        char name[kZipEntryNameSize] = {};
        flushed = (i == 0 ? unzGoToFirstFile(archive) : unzGoToNextFile(archive)) == UNZ_OK &&
                  unzGetCurrentFileInfo64(archive, &info, name, sizeof name - 1, nullptr, 0, nullptr, 0) == UNZ_OK &&
                  flushEntryFile(name, info.flag);
    }
    unzClose(archive);
    return flushed;
}

}  // namespace

bool flushOpenFile(HANDLE file) { return FlushFileBuffers(file) != 0; }

bool makeUnpackedEntriesDurable(const char* archivePath) {
    return flushVolumeOf(archivePath) || flushEachEntry(archivePath);
}
