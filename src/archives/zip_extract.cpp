// Zip extraction over minizip: one function per entry, one per archive, and the directory maker that
// single-file downloads share. Called on one thread (the update worker's); an archive of many entries
// is unpacked by that thread and one helper, each with its own of the caller's buffers.
#include "archives/zip_extract.h"

#include <windows.h>

#include <process.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include "formats/path_check.h"
#include "archives/zip_file_io.h"

namespace {

enum { kPartNameSize = kZipEntryNameSize + sizeof kPartFileSuffix, kFailureTextSize = 1024, kWidePathSize = 1024 };

const char* namePart(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}

// Names flagged UTF-8 by their writer are turned into characters from UTF-8 (and must be valid
// UTF-8); all others are in the ANSI code page, as every other name this launcher handles.
bool toWideName(const char* name, bool utf8, WCHAR* wide, int wideSize) {
    UINT codePage = utf8 ? CP_UTF8 : CP_ACP;
    DWORD flags = utf8 ? MB_ERR_INVALID_CHARS : 0;
    return MultiByteToWideChar(codePage, flags, name, -1, wide, wideSize) > 0;
}

bool appendWide(WCHAR* out, size_t outSize, const WCHAR* text) {
    size_t used = wcslen(out);
    size_t length = wcslen(text);
    if (used + length >= outSize) return false;
    wmemcpy(out + used, text, length + 1);
    return true;
}

bool isDirectory(const WCHAR* path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Creates below the current directory every directory named in `path` before its last separator,
// at most kMaxDirectoryDepth levels. `allMade` tells whether every one of them is a directory now
// (a file of that name in the way, or a chain deeper than the limit, leaves it false).
int makeWideDirectories(const WCHAR* path, bool* allMade) {
    *allMade = false;
    WCHAR directoryPart[kWidePathSize];
    if (wcslen(path) >= kWidePathSize) return 0;
    wmemcpy(directoryPart, path, wcslen(path) + 1);
    WCHAR* lastSeparator = nullptr;
    for (WCHAR* p = directoryPart + 1; *p; ++p)
        if (*p == L'/' || *p == L'\\') lastSeparator = p;
    if (lastSeparator == nullptr) {
        *allMade = true;
        return 0;
    }
    *lastSeparator = L'\0';
    WCHAR dir[2 * kWidePathSize];
    DWORD length = GetCurrentDirectoryW(kWidePathSize, dir);
    if (length == 0 || length >= kWidePathSize) return 0;
    int created = 0;
    int depth = 0;
    WCHAR* part = directoryPart;
    while (part != nullptr && *part != L'\0') {
        if (depth == kMaxDirectoryDepth) return created;
        WCHAR* next = wcspbrk(part, L"/\\");
        if (next != nullptr) *next++ = L'\0';
        if (!appendWide(dir, sizeof dir / sizeof dir[0], L"\\") || !appendWide(dir, sizeof dir / sizeof dir[0], part))
            return created;
        created = CreateDirectoryW(dir, nullptr);
        if (!isDirectory(dir)) return created;
        part = next;
        ++depth;
    }
    *allMade = true;
    return created;
}

// DELETE access lets the finished part file be renamed over its target through this same handle.
HANDLE createPartFile(const WCHAR* partName) {
    return CreateFileW(partName, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A path that names no folder the file system can hold (deeper than the folders made for it, or a
// part too long) fails the same way every time; anything else (a sharing or lock violation, access
// denied while a scanner holds the file, a full disk) may pass on a later try.
int creationFailureCode(DWORD error) {
    switch (error) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BAD_PATHNAME:
        return kEntryPathUnusable;
    default:
        return kEntryCreateFailed;
    }
}

bool writeWhole(HANDLE out, const unsigned char* bytes, DWORD size) {
    DWORD written = 0;
    return WriteFile(out, bytes, size, &written, nullptr) && written == size;
}

// Reads the open entry into `out` in buffer-sized writes and closes the entry. Returns 0 or the first
// error. minizip reports a stream that ends early as the end of the data and tests the checksum only
// once the declared size was read, so the entry counts as read only when exactly `declaredSize`
// bytes came out; then unzCloseCurrentFile's checksum result decides.
int copyEntryData(unzFile archive, HANDLE out, const char* name, uint64_t declaredSize, unsigned char* buffer,
                  char* subMessage) {
    int code = 0;
    uint64_t total = 0;
    for (;;) {
        int count = unzReadCurrentFile(archive, buffer, kUnzipBufferSize);
        if (count < 0) {
            snprintf(subMessage, kSubMessageSize, "%s", "error in reading zip file");
            code = count;
            break;
        }
        if (count == 0) break;
        total += static_cast<uint64_t>(count);
        if (!writeWhole(out, buffer, static_cast<DWORD>(count))) {
            snprintf(subMessage, kSubMessageSize, "error in writing file %s", name);
            code = kEntryWriteFailed;
            break;
        }
    }
    if (code == 0 && total != declaredSize) {
        snprintf(subMessage, kSubMessageSize, "%s", "error in reading zip file");
        code = kEntryDataShort;
    }
    int closed = unzCloseCurrentFile(archive);
    if (closed != UNZ_OK && code == 0) {
        snprintf(subMessage, kSubMessageSize, "%s", "error in reading zip file");
        code = closed;
    }
    return code;
}

// Renames the open part file to `name` (relative to the current directory), replacing a file there.
// Renaming through the handle spares the reopening and second lookup of the part file that
// MoveFileEx costs, a sizeable share of each small entry's time.
bool renameOpenFile(HANDLE file, const WCHAR* name) {
    WCHAR fullName[kWidePathSize];
    DWORD length = GetFullPathNameW(name, kWidePathSize, fullName, nullptr);
    if (length == 0 || length >= kWidePathSize) return false;
    // The rename takes a native path: the "\??\" prefix names the drive path that follows.
    static const WCHAR kNativePrefix[] = L"\\??\\";
    const size_t prefixLength = sizeof kNativePrefix / sizeof(WCHAR) - 1;
    union {
        FILE_RENAME_INFO info;
        unsigned char bytes[sizeof(FILE_RENAME_INFO) + (kWidePathSize + 8) * sizeof(WCHAR)];
    } request = {};
    request.info.ReplaceIfExists = TRUE;
    request.info.FileNameLength = static_cast<DWORD>((prefixLength + length) * sizeof(WCHAR));
    memcpy(request.info.FileName, kNativePrefix, prefixLength * sizeof(WCHAR));
    memcpy(request.info.FileName + prefixLength, fullName, length * sizeof(WCHAR));
    return SetFileInformationByHandle(file, FileRenameInfo, &request, sizeof request) != 0;
}

// Puts the complete part file in place of the target. A read-only target refuses to be replaced, so
// its attributes are cleared and the rename tried once more; the new file has normal attributes.
bool replaceTarget(HANDLE part, const WCHAR* name) {
    if (renameOpenFile(part, name)) return true;
    if (GetLastError() != ERROR_ACCESS_DENIED) return false;
    DWORD attributes = GetFileAttributesW(name);
    const DWORD kBlocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & kBlocking) == 0) return false;
    SetFileAttributesW(name, FILE_ATTRIBUTE_NORMAL);
    return renameOpenFile(part, name);
}

// Writes the open entry to its part file and puts it in place; on any failure the part file goes
// and the target stays as it was. `name` is the entry's name for messages, `wideName` the path.
int writeEntryFile(unzFile archive, const char* name, const WCHAR* wideName, uint64_t declaredSize,
                   unsigned char* buffer, char* subMessage) {
    WCHAR partName[kWidePathSize + sizeof kPartFileSuffix];
    size_t nameLength = wcslen(wideName);
    wmemcpy(partName, wideName, nameLength);
    for (size_t i = 0; i < sizeof kPartFileSuffix; ++i) partName[nameLength + i] = kPartFileSuffix[i];
    HANDLE out = createPartFile(partName);
    if (out == INVALID_HANDLE_VALUE && wcspbrk(wideName, L"/\\") != nullptr) {
        bool allMade;
        makeWideDirectories(wideName, &allMade);
        out = createPartFile(partName);
    }
    if (out == INVALID_HANDLE_VALUE) {
        int code = creationFailureCode(GetLastError());
        snprintf(subMessage, kSubMessageSize, "can't create extracted file %s", name);
        unzCloseCurrentFile(archive);
        return code;
    }
    snprintf(subMessage, kSubMessageSize, "%s", name);
    int code = copyEntryData(archive, out, name, declaredSize, buffer, subMessage);
    if (code == 0 && !replaceTarget(out, wideName)) {
        snprintf(subMessage, kSubMessageSize, "can't create extracted file %s", name);
        // A folder where the file belongs stays there on every try.
        code = isDirectory(wideName) ? kEntryPathUnusable : kEntryReplaceFailed;
    }
    // WriteFile keeps nothing back for the close to write, so the close cannot lose data.
    CloseHandle(out);
    if (code != 0) DeleteFileW(partName);
    return code;
}

const char* methodName(uint16_t method) {
    switch (method) {
    case 1: return "shrink";
    case 6: return "implode";
    case 9: return "deflate64";
    case 12: return "bzip2";
    case 14: return "LZMA";
    case 93: return "Zstandard";
    case 95: return "xz";
    case 98: return "PPMd";
    case 99: return "AES";
    default: return "unknown";
    }
}

}  // namespace

int makeDirectories(const char* path) {
    // Callers pass checked names; the check here keeps this helper from ever leaving the folder.
    if (path == nullptr || !isSafeRelativePath(path)) return 0;
    WCHAR widePath[kWidePathSize];
    if (!toWideName(path, false, widePath, kWidePathSize)) return 0;
    bool allMade;
    return makeWideDirectories(widePath, &allMade);
}

int makeUtf8Directories(const char* path) {
    if (path == nullptr || !isSafeRelativePath(path) || !isValidUtf8(path)) return 0;
    WCHAR widePath[kWidePathSize];
    if (!toWideName(path, true, widePath, kWidePathSize)) return 0;
    bool allMade;
    return makeWideDirectories(widePath, &allMade);
}

int unpackLaneOf(const char* name, int laneCount) {
    // The key leaves out case, separators, dots and spaces (and bytes outside ASCII, whose case the
    // code page decides): names that differ only there may be one file to Windows. Names the key
    // cannot fold (8.3 short names, letters beyond ASCII) make the whole archive one lane instead.
    uint32_t hash = 2166136261u;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p) {
        unsigned char c = *p;
        if (c >= 0x80 || c == '.' || c == ' ' || c == '/' || c == '\\') continue;
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
        hash = (hash ^ c) * 16777619u;
    }
    return static_cast<int>((hash >> 16) % static_cast<uint32_t>(laneCount));  // FNV-1a's low bits mix poorly
}

int extractCurrentEntry(unzFile archive, const ZipEntryRegion& region, unsigned char* buffer, char* subMessage) {
    unz_file_info64 info;
    char filenameInZip[kZipEntryNameSize] = {};
    int err = unzGetCurrentFileInfo64(archive, &info, filenameInZip, sizeof filenameInZip - 1, nullptr, 0, nullptr, 0);
    if (err != UNZ_OK) {
        snprintf(subMessage, kSubMessageSize, "%s", "error in getting file info in zip file");
        return err;
    }
    // Entries that would land outside the folder (or whose name was cut) are never written.
    bool utf8 = (info.flag & kZipFlagUtf8Name) != 0;
    WCHAR wideName[kWidePathSize];
    if (info.size_filename >= kZipEntryNameSize || !isSafeRelativePath(filenameInZip) ||
        (utf8 && !isValidUtf8(filenameInZip)) || !toWideName(filenameInZip, utf8, wideName, kWidePathSize)) {
        snprintf(subMessage, kSubMessageSize, "can't create extracted file %s", filenameInZip);
        return kEntryNameRefused;
    }
    // The status line shows ANSI text: a UTF-8 name is shown as the code page can show it.
    char shownName[kZipEntryNameSize];
    if (!utf8 || WideCharToMultiByte(CP_ACP, 0, wideName, -1, shownName, sizeof shownName, nullptr, nullptr) == 0)
        snprintf(shownName, sizeof shownName, "%s", filenameInZip);
    if (namePart(filenameInZip)[0] == '\0') {
        snprintf(subMessage, kSubMessageSize, "creating directory: %s\n", shownName);
        bool allMade;
        makeWideDirectories(wideName, &allMade);
        if (allMade) return 0;
        snprintf(subMessage, kSubMessageSize, "can't create extracted file %s", shownName);
        return kEntryPathUnusable;
    }
    err = unzOpenCurrentFile(archive);
    if (err != UNZ_OK) {
        snprintf(subMessage, kSubMessageSize, "error %d with zipfile in unzOpenCurrentFilePassword\n", err);
        return kEntryOpenFailed;
    }
    // The directory kept entries apart; this keeps a local header from pointing elsewhere.
    if (!dataStaysInRegion(region, unzGetCurrentFileZStreamPos64(archive), info.compressed_size)) {
        snprintf(subMessage, kSubMessageSize, "%s", "error in reading zip file");
        unzCloseCurrentFile(archive);
        return kEntryOutsideRegion;
    }
    return writeEntryFile(archive, shownName, wideName, info.uncompressed_size, buffer, subMessage);
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

// An archive another program holds without sharing (a scanner checking the fresh download) cannot
// be opened now but may be shortly.
bool archiveIsLocked(const char* archivePath) {
    BufferedZipFile* file = openBufferedZipFile(archivePath);
    DWORD error = GetLastError();
    closeBufferedZipFile(file);
    return file == nullptr && (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION);
}

bool readFromZipFile(void* context, uint64_t offset, void* buffer, size_t size) {
    return readBufferedZipFile(static_cast<BufferedZipFile*>(context), offset, buffer, size);
}

// A crafted archive can point many entries at one compressed stream, so that a file of a few
// megabytes unpacks to terabytes. Entries of real archives never share bytes, so the archive is
// refused unless its directory gives every entry bytes of its own. The directory is walked through
// its whole size, so every entry it holds is found even where the count says less.
bool readEntryRegions(const char* archivePath, std::vector<ZipEntryRegion>* regions) {
    BufferedZipFile* file = openBufferedZipFile(archivePath);
    if (file == nullptr) return false;
    ZipSource source = {readFromZipFile, file, bufferedZipFileSize(file)};
    ZipDirectoryStatus status = readZipDirectory(source, regions);
    closeBufferedZipFile(file);
    return status == kZipDirectoryRead;
}

// minizip reads entries of other methods (bzip2, LZMA, ...) as their raw bytes, and encrypted ones
// as the cipher text: such an archive is refused before anything of it is written.
size_t firstUnsupportedEntry(const std::vector<ZipEntryRegion>& regions) {
    for (size_t i = 0; i < regions.size(); ++i) {
        if ((regions[i].flags & kZipFlagEncrypted) != 0) return i;
        if (regions[i].method != kZipMethodStored && regions[i].method != kZipMethodDeflate) return i;
    }
    return regions.size();
}

void describeUnsupportedEntry(unzFile archive, size_t index, const ZipEntryRegion& region, char* subMessage) {
    char name[kZipEntryNameSize] = {};
    int err = unzGoToFirstFile(archive);
    for (size_t i = 0; i < index && err == UNZ_OK; ++i) err = unzGoToNextFile(archive);
    unz_file_info64 info;
    if (err == UNZ_OK) unzGetCurrentFileInfo64(archive, &info, name, sizeof name - 1, nullptr, 0, nullptr, 0);
    if ((region.flags & kZipFlagEncrypted) != 0) {
        snprintf(subMessage, kSubMessageSize, "encrypted entry %s is not supported", name);
    } else {
        snprintf(subMessage, kSubMessageSize, "compression method %u (%s) of %s is not supported",
                 static_cast<unsigned>(region.method), methodName(region.method), name);
    }
}

int resultOfEntry(int code) {
    switch (code) {
    case 0:
        return kExtractDone;
    case kEntryCreateFailed:
    case kEntryWriteFailed:
    case kEntryReplaceFailed:
    case kEntryArchiveReopenFailed:
        return kExtractRetry;
    default:
        return kExtractFailed;
    }
}

void publish(ExtractMessageSink sink, const char* message) {
    if (sink != nullptr) sink(message);
}

void writeArchiveMessage(const char* pattern, const char* archivePath, char* message, size_t messageSize,
                          ExtractMessageSink sink) {
    snprintf(message, messageSize, pattern, archivePath);
    publish(sink, message);
}

void appendEntryMessage(const char* subMessage, char* message, size_t messageSize, ExtractMessageSink sink) {
    size_t used = strlen(message);
    snprintf(message + used, messageSize - used, "%s", subMessage);
    publish(sink, message);
}

// One of the threads unpacking an archive. Each walks the whole directory through its own minizip
// handle (lane 0 the caller's, already open) and extracts the entries of its lane; `firstFailure` is the lowest entry index that failed in
// any lane, and entries past it are not started. Every entry before it is still tried, so the failure
// reported, and what stands in the folder before it, are those of a one-thread run.
struct UnpackLane {
    int lane;
    int laneCount;
    const char* archivePath;
    const std::vector<ZipEntryRegion>* regions;
    std::atomic<size_t>* firstFailure;
    unsigned char* buffer;
    char* message;  // the running status text; only lane 0 publishes it
    size_t messageSize;
    ExtractMessageSink sink;
    size_t failedEntry;  // regions->size() while nothing failed
    int code;
    char subMessage[kSubMessageSize];
};

void recordLaneFailure(UnpackLane* lane, size_t entry, int code) {
    lane->failedEntry = entry;
    lane->code = code;
    size_t seen = lane->firstFailure->load();
    while (entry < seen && !lane->firstFailure->compare_exchange_weak(seen, entry)) {
    }
}

bool entryIsMine(unzFile archive, const UnpackLane* lane) {
    char name[kZipEntryNameSize] = {};
    unz_file_info64 info;
    // An entry whose record cannot be read is left to lane 0, which reports it.
    if (unzGetCurrentFileInfo64(archive, &info, name, sizeof name - 1, nullptr, 0, nullptr, 0) != UNZ_OK)
        return lane->lane == 0;
    return lane->laneCount == 1 || unpackLaneOf(name, lane->laneCount) == lane->lane;
}

// Extracts the lane's entries through `archive`, a minizip handle of the lane's own.
void runUnpackLane(UnpackLane* lane, unzFile archive) {
    const std::vector<ZipEntryRegion>& regions = *lane->regions;
    unzGoToFirstFile(archive);
    for (size_t i = 0; i < regions.size() && i < lane->firstFailure->load(); ++i) {
        if (i > 0 && unzGoToNextFile(archive) != UNZ_OK) {
            snprintf(lane->subMessage, sizeof lane->subMessage, "%s", "error while getting next file in");
            recordLaneFailure(lane, i, UNZ_BADZIPFILE);
            break;
        }
        if (!entryIsMine(archive, lane)) continue;
        if (lane->lane == 0) writeArchiveMessage("Extracting %s - ", lane->archivePath, lane->message,
                                                 lane->messageSize, lane->sink);
        int code = extractCurrentEntry(archive, regions[i], lane->buffer, lane->subMessage);
        if (lane->lane == 0) appendEntryMessage(lane->subMessage, lane->message, lane->messageSize, lane->sink);
        if (code != 0) {
            recordLaneFailure(lane, i, code);
            break;
        }
    }
}

// A helper lane opens the archive once more for itself.
void runHelperLane(UnpackLane* lane) {
    zlib_filefunc64_def fileFunctions;
    fillBufferedZipFunctions(&fileFunctions);
    unzFile archive = unzOpen2_64(lane->archivePath, &fileFunctions);
    if (archive == nullptr) {
        // It opened a moment ago: something (a scanner) holds it now.
        snprintf(lane->subMessage, sizeof lane->subMessage, "%s", "error in opening file.");
        recordLaneFailure(lane, 0, kEntryArchiveReopenFailed);
        return;
    }
    runUnpackLane(lane, archive);
    unzClose(archive);
}

unsigned __stdcall unpackLaneThread(void* lane) {
    runHelperLane(static_cast<UnpackLane*>(lane));
    return 0;
}

// Fewer entries than this are unpacked by the calling thread alone: a second thread would cost more
// than it saves.
const size_t kEntriesPerExtraLane = 64;

// Names that only the file system can fold (an 8.3 short name is another entry's long name, a
// letter beyond ASCII folds by the code page) could meet on two lanes: one lane keeps them in order.
int unpackLaneCount(const std::vector<ZipEntryRegion>& regions) {
    if (regions.size() < kEntriesPerExtraLane) return 1;
    for (const ZipEntryRegion& region : regions)
        if (!region.plainName) return 1;
    return kUnpackLanes;
}

// Most of a small entry's time goes to the file system (creating the part file, renaming it), which
// a second thread overlaps with the first one's decompressing and writing.
int extractEntries(unzFile archive, const char* archivePath, const std::vector<ZipEntryRegion>& regions,
                   char* message, size_t messageSize, UnpackBuffers* buffers, ExtractMessageSink sink) {
    std::atomic<size_t> firstFailure(regions.size());
    int laneCount = unpackLaneCount(regions);
    UnpackLane lanes[kUnpackLanes];
    for (int l = 0; l < kUnpackLanes; ++l) {
        lanes[l] = UnpackLane{l,       laneCount,   archivePath, &regions,       &firstFailure, buffers->lane[l],
                              message, messageSize, sink,        regions.size(), 0,             {}};
    }
    HANDLE helpers[kUnpackLanes] = {};
    for (int l = 1; l < laneCount; ++l)
        helpers[l] = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, unpackLaneThread, &lanes[l], 0, nullptr));
    runUnpackLane(&lanes[0], archive);
    for (int l = 1; l < laneCount; ++l) {
        // Without a thread the lane runs here, after lane 0; the outcome is the same.
        if (helpers[l] == nullptr) {
            runHelperLane(&lanes[l]);
            continue;
        }
        WaitForSingleObject(helpers[l], INFINITE);
        CloseHandle(helpers[l]);
    }
    for (int l = 0; l < laneCount; ++l) {
        if (lanes[l].failedEntry != firstFailure.load()) continue;
        // The failure becomes the message, published unless lane 0 showed it as its last entry.
        char failure[kFailureTextSize];
        int length = snprintf(failure, sizeof failure, "Extracting %s - %s", archivePath, lanes[l].subMessage);
        if (length >= 0 && strcmp(failure, message) != 0) {
            snprintf(message, messageSize, "%s", failure);
            publish(sink, message);
        }
        return resultOfEntry(lanes[l].code);
    }
    return kExtractDone;
}

}  // namespace

bool countArchiveEntries(const char* archivePath, size_t* count) {
    std::vector<ZipEntryRegion> regions;
    if (!readEntryRegions(archivePath, &regions)) return false;
    *count = regions.size();
    return true;
}

int extractArchive(const char* archivePath, char* message, size_t messageSize, UnpackBuffers* buffers,
                   ExtractMessageSink sink) {
    zlib_filefunc64_def fileFunctions;
    fillBufferedZipFunctions(&fileFunctions);
    unzFile archive = unzOpen2_64(archivePath, &fileFunctions);
    if (archive == nullptr) {
        if (isEmptyArchive(archivePath)) return kExtractDone;
        writeArchiveMessage("Extracting %s - error in opening file.", archivePath, message, messageSize, sink);
        return archiveIsLocked(archivePath) ? kExtractRetry : kExtractFailed;
    }
    unz_global_info64 globalInfo;
    if (unzGetGlobalInfo64(archive, &globalInfo) != UNZ_OK) {
        unzClose(archive);
        writeArchiveMessage("Extracting %s - error in getting information", archivePath, message, messageSize, sink);
        return kExtractFailed;
    }
    std::vector<ZipEntryRegion> regions;
    if (!readEntryRegions(archivePath, &regions)) {
        unzClose(archive);
        writeArchiveMessage("Extracting %s - ", archivePath, message, messageSize, sink);
        appendEntryMessage("error in reading zip file", message, messageSize, sink);
        return kExtractFailed;
    }
    size_t unsupported = firstUnsupportedEntry(regions);
    if (unsupported < regions.size()) {
        char subMessage[kSubMessageSize];
        describeUnsupportedEntry(archive, unsupported, regions[unsupported], subMessage);
        unzClose(archive);
        writeArchiveMessage("Extracting %s - ", archivePath, message, messageSize, sink);
        appendEntryMessage(subMessage, message, messageSize, sink);
        return kExtractFailed;
    }
    int result = extractEntries(archive, archivePath, regions, message, messageSize, buffers, sink);
    unzClose(archive);
    return result;
}
