// Zip extraction over minizip: one function per entry, one per archive, and the directory maker that
// single-file downloads share. Runs on the update worker's thread only (it owns gState.unzipBuffer).
#include "update/zip_extract.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include <iowin32.h>

#include "app/launcher_state.h"
#include "update/path_check.h"

namespace {

const char* namePart(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}

// Appends "\" and each directory part to `dir` and creates it; parts come from `directoryPart`
// with "\" already turned into "/".
int createDirectoryChain(char* directoryPart, char* dir, size_t dirSize) {
    int created = 0;
    int depth = 0;
    char* part = directoryPart;
    while (depth < kMaxDirectoryDepth && part != nullptr && *part != '\0') {
        char* next = strchr(part, '/');
        if (next != nullptr) *next++ = '\0';
        size_t used = strlen(dir);
        int written = snprintf(dir + used, dirSize - used, "\\%s", part);
        if (written < 0 || static_cast<size_t>(written) >= dirSize - used) break;
        created = CreateDirectoryA(dir, nullptr);
        part = next;
        ++depth;
    }
    return created;
}

// Opens the output file for binary writing after clearing read-only and hidden, so that an
// existing file is replaced and ends with normal attributes.
FILE* openOutputFile(const char* name) {
    SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL);
    return fopen(name, "wb");
}

// A failed entry must not stay on disk looking complete: its partial output is removed.
void discardOutputFile(FILE* out, const char* name) {
    fclose(out);
    DeleteFileA(name);
}

// Reads the open entry into `out`. Returns 0 or the first error; the entry is closed here, and a
// checksum mismatch reported by unzCloseCurrentFile counts as a read error of this entry.
int copyEntryData(unzFile archive, FILE* out, const char* name, char* subMessage) {
    for (;;) {
        int count = unzReadCurrentFile(archive, gState.unzipBuffer, sizeof gState.unzipBuffer);
        if (count < 0) {
            snprintf(subMessage, kSubMessageSize, "%s", "error in reading zip file");
            discardOutputFile(out, name);
            unzCloseCurrentFile(archive);
            return count;
        }
        if (count == 0) break;
        if (fwrite(gState.unzipBuffer, 1, static_cast<size_t>(count), out) != static_cast<size_t>(count)) {
            snprintf(subMessage, kSubMessageSize, "error in writing file %s", name);
            discardOutputFile(out, name);
            unzCloseCurrentFile(archive);
            return kEntryWriteFailed;
        }
    }
    if (fclose(out) != 0) {
        snprintf(subMessage, kSubMessageSize, "error in writing file %s", name);
        DeleteFileA(name);
        unzCloseCurrentFile(archive);
        return kEntryWriteFailed;
    }
    int closed = unzCloseCurrentFile(archive);
    if (closed != UNZ_OK) {
        snprintf(subMessage, kSubMessageSize, "%s", "error in reading zip file");
        DeleteFileA(name);
        return closed;
    }
    return 0;
}

}  // namespace

int makeDirectories(const char* path) {
    // Callers pass checked names; the check here keeps this helper from ever leaving the folder.
    if (path == nullptr || !isSafeRelativePath(path)) return 0;
    char directoryPart[kZipEntryNameSize];
    snprintf(directoryPart, sizeof directoryPart, "%s", path);
    char* lastSeparator = nullptr;
    for (char* p = directoryPart + 1; *p; ++p)
        if (*p == '/' || *p == '\\') lastSeparator = p;
    if (lastSeparator == nullptr) return 0;
    *lastSeparator = '\0';
    for (char* p = directoryPart; *p; ++p)
        if (*p == '\\') *p = '/';

    char dir[1024 + kZipEntryNameSize];
    DWORD length = GetCurrentDirectoryA(1024, dir);
    if (length == 0 || length >= 1024) return 0;
    return createDirectoryChain(directoryPart, dir, sizeof dir);
}

int extractCurrentEntry(unzFile archive, char* subMessage) {
    unz_file_info info;
    char filenameInZip[kZipEntryNameSize] = {};
    int err = unzGetCurrentFileInfo(archive, &info, filenameInZip, sizeof filenameInZip - 1, nullptr, 0, nullptr, 0);
    if (err != UNZ_OK) {
        snprintf(subMessage, kSubMessageSize, "%s", "error in getting file info in zip file");
        return err;
    }
    // Entries that would land outside the folder (or whose name was cut) are never written.
    if (info.size_filename >= kZipEntryNameSize || !isSafeRelativePath(filenameInZip)) {
        snprintf(subMessage, kSubMessageSize, "can't create extracted file %s", filenameInZip);
        return kEntryCreateFailed;
    }
    if (namePart(filenameInZip)[0] == '\0') {
        snprintf(subMessage, kSubMessageSize, "creating directory: %s\n", filenameInZip);
        makeDirectories(filenameInZip);
        return 0;
    }
    err = unzOpenCurrentFile(archive);
    if (err != UNZ_OK) {
        snprintf(subMessage, kSubMessageSize, "error %d with zipfile in unzOpenCurrentFilePassword\n", err);
        return kEntryOpenFailed;
    }
    FILE* out = openOutputFile(filenameInZip);
    if (out == nullptr && namePart(filenameInZip) != filenameInZip) {
        makeDirectories(filenameInZip);
        out = openOutputFile(filenameInZip);
    }
    if (out == nullptr) {
        snprintf(subMessage, kSubMessageSize, "can't create extracted file %s", filenameInZip);
        unzCloseCurrentFile(archive);
        return kEntryCreateFailed;
    }
    snprintf(subMessage, kSubMessageSize, "%s", filenameInZip);
    return copyEntryData(archive, out, filenameInZip, subMessage);
}

namespace {

// minizip looks for the end record only at offsets above 0, so it cannot open the 22-byte archive
// that zip tools write when there is nothing to pack. Such an archive is recognised here instead:
// the end record at the very start, no entries, and nothing after its comment.
bool isEmptyArchive(const char* archivePath) {
    FILE* file = fopen(archivePath, "rb");
    if (file == nullptr) return false;
    unsigned char record[22];
    bool whole = fread(record, 1, sizeof record, file) == sizeof record;
    long commentLength = whole ? record[20] | (record[21] << 8) : 0;
    bool atEnd = whole && fseek(file, 0, SEEK_END) == 0 && ftell(file) == static_cast<long>(sizeof record) + commentLength;
    fclose(file);
    static const unsigned char kEndSignature[4] = {'P', 'K', 5, 6};
    const unsigned char kNoEntries[6] = {0, 0, 0, 0, 0, 0};  // disk numbers and both entry counts
    return atEnd && memcmp(record, kEndSignature, 4) == 0 && memcmp(record + 4, kNoEntries, 6) == 0;
}

// A crafted archive can point many entries at one compressed stream, so that a file of a few
// megabytes unpacks to terabytes. Entries of real archives never share data, so the archive is
// refused when the data ranges of any two entries overlap. Entries whose data cannot be located are
// left to the extraction pass, which reports them.
bool entriesShareData(unzFile archive, uLong entryCount) {
    std::vector<std::pair<ZPOS64_T, ZPOS64_T>> ranges;
    int err = unzGoToFirstFile(archive);
    for (uLong i = 0; i < entryCount && err == UNZ_OK; ++i, err = unzGoToNextFile(archive)) {
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) continue;
        if (info.compressed_size == 0 || unzOpenCurrentFile(archive) != UNZ_OK) continue;
        ZPOS64_T start = unzGetCurrentFileZStreamPos64(archive);
        unzCloseCurrentFile(archive);
        ranges.emplace_back(start, start + info.compressed_size);
    }
    std::sort(ranges.begin(), ranges.end());
    for (size_t i = 1; i < ranges.size(); ++i)
        if (ranges[i].first < ranges[i - 1].second) return true;
    return false;
}

void publish(ExtractMessageSink sink, const char* message) {
    if (sink != nullptr) sink(message);
}

void writeArchiveMessage(const char* pattern, const char* archivePath, char* message, size_t messageSize,
                          ExtractMessageSink sink) {
    snprintf(message, messageSize, pattern, archivePath);
    publish(sink, message);
}

}  // namespace

int extractArchive(const char* archivePath, char* message, size_t messageSize, ExtractMessageSink sink) {
    zlib_filefunc_def fileFunctions;
    fill_win32_filefunc(&fileFunctions);
    unzFile archive = unzOpen2(archivePath, &fileFunctions);
    if (archive == nullptr) {
        if (isEmptyArchive(archivePath)) return 1;
        writeArchiveMessage("Extracting %s - error in opening file.", archivePath, message, messageSize, sink);
        return 0;
    }
    unz_global_info globalInfo;
    if (unzGetGlobalInfo(archive, &globalInfo) != UNZ_OK) {
        unzClose(archive);
        writeArchiveMessage("Extracting %s - error in getting information", archivePath, message, messageSize, sink);
        return 0;
    }
    if (entriesShareData(archive, globalInfo.number_entry)) {
        unzClose(archive);
        writeArchiveMessage("Extracting %s - ", archivePath, message, messageSize, sink);
        size_t used = strlen(message);
        snprintf(message + used, messageSize - used, "%s", "error in reading zip file");
        publish(sink, message);
        return 0;
    }
    unzGoToFirstFile(archive);
    for (uLong i = 0; i < globalInfo.number_entry; ++i) {
        if (i > 0 && unzGoToNextFile(archive) != UNZ_OK) {
            unzClose(archive);
            writeArchiveMessage("Extracting %s - error while getting next file in", archivePath, message, messageSize,
                                 sink);
            return 0;
        }
        writeArchiveMessage("Extracting %s - ", archivePath, message, messageSize, sink);
        char subMessage[kSubMessageSize];
        int code = extractCurrentEntry(archive, subMessage);
        size_t used = strlen(message);
        snprintf(message + used, messageSize - used, "%s", subMessage);
        publish(sink, message);
        if (code != 0) {
            unzClose(archive);
            return 0;
        }
    }
    unzClose(archive);
    return 1;
}
