// minizip's file functions over a Win32 HANDLE, reading through windows aligned to their size so that
// a run of small reads costs one system call per window instead of one each.
#include "archives/zip_file_io.h"

#include <windows.h>

#include <cstring>
#include <new>

namespace {

enum { kWindowSize = 64 * 1024, kWindowCount = 2, kDirectReadSize = 16 * 1024 };
const uint64_t kUnknownPointer = ~0ull;

// One window follows the central directory, the other the entry being read; the one used least
// recently is refilled.
struct ReadWindow {
    uint64_t start;
    size_t length;
    unsigned long lastUse;
    unsigned char bytes[kWindowSize];
};

}  // namespace

struct BufferedZipFile {
    HANDLE handle;
    uint64_t size;
    uint64_t position;     // minizip's stream position, moved by its seeks and reads
    uint64_t filePointer;  // the handle's own position, or kUnknownPointer
    bool failed;           // a read of the file failed (not merely ended)
    unsigned long useCount;
    ReadWindow windows[kWindowCount];
};

namespace {

// Reads at `offset`, seeking only when the file pointer is elsewhere: under Wine a plain ReadFile
// runs markedly faster than a positioned one, and entry data is read front to back.
bool readFileAt(BufferedZipFile* file, uint64_t offset, void* buffer, DWORD size, DWORD* count) {
    *count = 0;
    if (offset != file->filePointer) {
        LARGE_INTEGER distance;
        distance.QuadPart = static_cast<LONGLONG>(offset);
        file->filePointer = kUnknownPointer;
        if (!SetFilePointerEx(file->handle, distance, nullptr, FILE_BEGIN)) return false;
    }
    if (!ReadFile(file->handle, buffer, size, count, nullptr)) return false;
    file->filePointer = offset + *count;
    return true;
}

// Fills `window` with the aligned block holding `offset`, in one read.
bool fillWindow(BufferedZipFile* file, ReadWindow* window, uint64_t offset) {
    uint64_t start = offset - offset % kWindowSize;
    DWORD count = 0;
    window->length = 0;
    if (!readFileAt(file, start, window->bytes, kWindowSize, &count)) {
        file->failed = true;
        return false;
    }
    window->start = start;
    window->length = count;
    return offset < start + count;
}

ReadWindow* windowWith(BufferedZipFile* file, uint64_t offset) {
    for (ReadWindow& window : file->windows) {
        if (window.length > 0 && offset >= window.start && offset < window.start + window.length) {
            window.lastUse = ++file->useCount;
            return &window;
        }
    }
    return nullptr;
}

ReadWindow* windowHolding(BufferedZipFile* file, uint64_t offset) {
    ReadWindow* window = windowWith(file, offset);
    if (window != nullptr) return window;
    window = &file->windows[0];
    for (ReadWindow& candidate : file->windows)
        if (candidate.lastUse < window->lastUse) window = &candidate;
    if (!fillWindow(file, window, offset)) return nullptr;
    window->lastUse = ++file->useCount;
    return window;
}

// Entry data comes in reads of minizip's 16 KiB input buffer; those go straight to the caller's
// buffer once the windows do not hold them, rather than through a window and a copy.
size_t readAt(BufferedZipFile* file, uint64_t offset, void* buffer, size_t size) {
    unsigned char* out = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < size && offset < file->size && done < file->size - offset) {
        uint64_t position = offset + done;
        size_t wanted = size - done;
        if (wanted >= kDirectReadSize && windowWith(file, position) == nullptr) {
            DWORD count = 0;
            if (!readFileAt(file, position, out + done, static_cast<DWORD>(wanted), &count)) {
                file->failed = true;
                break;
            }
            if (count == 0) break;
            done += count;
            continue;
        }
        ReadWindow* window = windowHolding(file, position);
        if (window == nullptr) break;
        size_t offsetInWindow = static_cast<size_t>(position - window->start);
        size_t count = window->length - offsetInWindow;
        if (count > wanted) count = wanted;
        memcpy(out + done, window->bytes + offsetInWindow, count);
        done += count;
    }
    return done;
}

voidpf ZCALLBACK openStream(voidpf, const void* filename, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    return openBufferedZipFile(static_cast<const char*>(filename));
}

uLong ZCALLBACK readStream(voidpf, voidpf stream, void* buffer, uLong size) {
    BufferedZipFile* file = static_cast<BufferedZipFile*>(stream);
    size_t count = readAt(file, file->position, buffer, size);
    file->position += count;
    return static_cast<uLong>(count);
}

uLong ZCALLBACK writeStream(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK tellStream(voidpf, voidpf stream) { return static_cast<BufferedZipFile*>(stream)->position; }

long ZCALLBACK seekStream(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    BufferedZipFile* file = static_cast<BufferedZipFile*>(stream);
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: file->position = offset; return 0;
    case ZLIB_FILEFUNC_SEEK_CUR: file->position += offset; return 0;
    case ZLIB_FILEFUNC_SEEK_END: file->position = file->size + offset; return 0;
    default: return -1;
    }
}

int ZCALLBACK closeStream(voidpf, voidpf stream) {
    closeBufferedZipFile(static_cast<BufferedZipFile*>(stream));
    return 0;
}

int ZCALLBACK streamError(voidpf, voidpf stream) { return static_cast<BufferedZipFile*>(stream)->failed ? 1 : 0; }

}  // namespace

BufferedZipFile* openBufferedZipFile(const char* path) {
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER size;
    BufferedZipFile* file = GetFileSizeEx(handle, &size) ? new (std::nothrow) BufferedZipFile : nullptr;
    if (file == nullptr) {
        DWORD error = GetLastError();
        CloseHandle(handle);
        SetLastError(error);
        return nullptr;
    }
    file->handle = handle;
    file->size = static_cast<uint64_t>(size.QuadPart);
    file->position = 0;
    file->filePointer = 0;
    file->failed = false;
    file->useCount = 0;
    for (ReadWindow& window : file->windows) {
        window.start = 0;
        window.length = 0;
        window.lastUse = 0;
    }
    return file;
}

void closeBufferedZipFile(BufferedZipFile* file) {
    if (file == nullptr) return;
    CloseHandle(file->handle);
    delete file;
}

uint64_t bufferedZipFileSize(const BufferedZipFile* file) { return file->size; }

bool readBufferedZipFile(BufferedZipFile* file, uint64_t offset, void* buffer, size_t size) {
    return readAt(file, offset, buffer, size) == size;
}

void fillBufferedZipFunctions(zlib_filefunc64_def* functions) {
    functions->zopen64_file = openStream;
    functions->zread_file = readStream;
    functions->zwrite_file = writeStream;
    functions->ztell64_file = tellStream;
    functions->zseek64_file = seekStream;
    functions->zclose_file = closeStream;
    functions->zerror_file = streamError;
    functions->opaque = nullptr;
}
