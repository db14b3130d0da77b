// Applying a payload on Windows: the base and the payload are mapped read-only, the part file is
// created at its final size and mapped, and the decoder writes straight into it; nothing is copied
// onto the heap, so the peak is the mapped files themselves.
#include "deltas/delta_apply.h"

#include <windows.h>

#include <atomic>
#include <cstring>

#include "deltas/delta_decode.h"
#include "network/patch_transfer.h"
#include "verification/patch_crypto.h"

namespace {

// The programs keep paths in fields of a few hundred bytes; UTF-8 never gives more wide characters than bytes.
enum { kWidePathSize = 1024 };
const DWORD kHashChunkSize = 1 << 20;

struct WidePath {
    wchar_t text[kWidePathSize];
};

bool toWidePath(const char* path, WidePath* wide) {
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide->text, kWidePathSize) > 0;
}

// A read-only view of a whole file; an empty file has no view (Windows cannot map 0 bytes).
struct MappedFile {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE mapping = nullptr;
    uint8_t* view = nullptr;
    uint64_t size = 0;
};

void closeMapped(MappedFile* mapped) {
    if (mapped->view) UnmapViewOfFile(mapped->view);
    if (mapped->mapping) CloseHandle(mapped->mapping);
    if (mapped->file != INVALID_HANDLE_VALUE) CloseHandle(mapped->file);
    *mapped = MappedFile();
}

enum class MapResult { Ok, Unreadable, TooLarge };

// Writers are shut out while the view is open, so the bytes decoded against cannot change under it.
MapResult mapForReading(const char* path, MappedFile* mapped) {
    WidePath wide;
    if (!toWidePath(path, &wide)) return MapResult::Unreadable;
    mapped->file = CreateFileW(wide.text, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (mapped->file == INVALID_HANDLE_VALUE) return MapResult::Unreadable;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(mapped->file, &size)) return MapResult::Unreadable;
    mapped->size = static_cast<uint64_t>(size.QuadPart);
    if (mapped->size == 0) return MapResult::Ok;
    if (mapped->size > SIZE_MAX) return MapResult::TooLarge;
    mapped->mapping = CreateFileMappingW(mapped->file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapped->mapping == nullptr) return MapResult::Unreadable;
    mapped->view = static_cast<uint8_t*>(MapViewOfFile(mapped->mapping, FILE_MAP_READ, 0, 0, 0));
    if (mapped->view == nullptr)
        return GetLastError() == ERROR_NOT_ENOUGH_MEMORY ? MapResult::TooLarge : MapResult::Unreadable;
    return MapResult::Ok;
}

// The part file's volume, not the current directory's: the part may be anywhere.
bool roomForPart(const wchar_t* partPath, uint64_t targetSize) {
    wchar_t full[kWidePathSize];
    wchar_t volume[kWidePathSize];
    DWORD length = GetFullPathNameW(partPath, kWidePathSize, full, nullptr);
    if (length == 0 || length >= kWidePathSize || !GetVolumePathNameW(full, volume, kWidePathSize)) return true;
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(volume, &available, nullptr, nullptr)) return true;  // unknown: let the write tell
    return available.QuadPart >= targetSize + static_cast<uint64_t>(kFreeSpaceMargin);
}

// Hashing serially would cost about as long as decoding; a second thread follows the decoder's
// output block by block instead, while the block is still in the cache.
struct HashFollower {
    const DeltaApplyRequest* request;
    const uint8_t* output;
    std::atomic<size_t> written{0};
    std::atomic<bool> decodingEnded{false};
    HANDLE moreOutput = nullptr;  // auto-reset: set after every block and at the end
    Sha256Stream stream{};
    bool hashing = false;
    size_t hashed = 0;
};

// On the decoding thread.
void publishOutput(void* context, size_t written) {
    HashFollower* follower = static_cast<HashFollower*>(context);
    follower->written.store(written, std::memory_order_release);
    if (follower->moreOutput) SetEvent(follower->moreOutput);
    const DeltaApplyRequest& request = *follower->request;
    if (request.progress) request.progress(request.context, written, request.targetSize);
}

// Runs until the decoder has ended and all it wrote is hashed; on the decoding thread itself, after
// the decoder, when no second thread could be started.
DWORD WINAPI hashFollowingOutput(void* context) {
    HashFollower* follower = static_cast<HashFollower*>(context);
    for (;;) {
        bool ended = follower->decodingEnded.load(std::memory_order_acquire);  // before `written`: then final
        size_t written = follower->written.load(std::memory_order_acquire);
        if (written > follower->hashed) {
            size_t size = written - follower->hashed < kHashChunkSize ? written - follower->hashed : kHashChunkSize;
            if (follower->hashing)
                follower->hashing = addSha256(&follower->stream, follower->output + follower->hashed, size);
            follower->hashed += size;
        } else if (ended) {
            return 0;
        } else {
            WaitForSingleObject(follower->moreOutput, INFINITE);
        }
    }
}

// Decodes while the follower hashes; true when all of the output was hashed into *digest.
DeltaDecode decodeAndHash(const DeltaDecodeRequest& decodeRequest, HashFollower* follower, bool* hashed,
                          uint8_t digest[kSha256Size]) {
    follower->hashing = beginSha256(&follower->stream);
    HANDLE thread =
        follower->moreOutput ? CreateThread(nullptr, 0, hashFollowingOutput, follower, 0, nullptr) : nullptr;
    DeltaDecode decoded = decodeDeltaPayload(decodeRequest);
    follower->decodingEnded.store(true, std::memory_order_release);
    if (thread) {
        SetEvent(follower->moreOutput);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    } else {
        hashFollowingOutput(follower);
    }
    *hashed = follower->hashing && follower->hashed == decodeRequest.targetSize &&
              finishSha256(&follower->stream, digest);
    if (!follower->hashing) abandonSha256(&follower->stream);
    return decoded;
}

// The part file, open for writing and mapped at its final size.
struct PartFile {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE mapping = nullptr;
    uint8_t* view = nullptr;
};

bool createPart(const wchar_t* path, uint64_t size, PartFile* part) {
    part->file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
    if (part->file == INVALID_HANDLE_VALUE) return false;
    if (size == 0) return true;
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(part->file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(part->file)) return false;
    part->mapping = CreateFileMappingW(part->file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    if (part->mapping == nullptr) return false;
    part->view = static_cast<uint8_t*>(MapViewOfFile(part->mapping, FILE_MAP_WRITE, 0, 0, 0));
    return part->view != nullptr;
}

// Done only once the bytes are on the disk: the caller renames the part over the target next.
bool flushAndClosePart(PartFile* part, size_t size) {
    if (part->file == INVALID_HANDLE_VALUE) return false;
    bool ok = part->view == nullptr || FlushViewOfFile(part->view, size);
    if (part->view) UnmapViewOfFile(part->view);
    if (part->mapping) CloseHandle(part->mapping);
    ok = ok && FlushFileBuffers(part->file);
    ok = CloseHandle(part->file) && ok;
    *part = PartFile();
    return ok;
}

DeltaApply decodeIntoPart(const DeltaApplyRequest& request, const MappedFile& base, const MappedFile& payload,
                          const wchar_t* partPath) {
    size_t targetSize = static_cast<size_t>(request.targetSize);
    PartFile part;
    if (!createPart(partPath, request.targetSize, &part)) {
        DWORD error = GetLastError();
        flushAndClosePart(&part, 0);
        return error == ERROR_NOT_ENOUGH_MEMORY ? DeltaApply::TooLarge : DeltaApply::WriteFailed;
    }
    HashFollower follower;
    follower.request = &request;
    follower.output = part.view;
    follower.moreOutput = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DeltaDecodeRequest decode{base.view, static_cast<size_t>(base.size), payload.view,
                              static_cast<size_t>(payload.size), part.view, targetSize, publishOutput, &follower};
    bool hashed = false;
    uint8_t digest[kSha256Size];
    DeltaDecode decoded = decodeAndHash(decode, &follower, &hashed, digest);
    if (follower.moreOutput) CloseHandle(follower.moreOutput);
    bool flushed = flushAndClosePart(&part, targetSize);
    if (decoded == DeltaDecode::OutOfMemory) return DeltaApply::TooLarge;
    if (decoded != DeltaDecode::Done) return DeltaApply::Corrupt;
    if (!hashed || memcmp(digest, request.targetSha256, kSha256Size) != 0) return DeltaApply::Mismatch;
    return flushed ? DeltaApply::Done : DeltaApply::WriteFailed;
}

DeltaApply applyMapped(const DeltaApplyRequest& request, MappedFile* base, MappedFile* payload) {
    if (request.basePath) {
        MapResult mapped = mapForReading(request.basePath, base);
        if (mapped != MapResult::Ok) return mapped == MapResult::TooLarge ? DeltaApply::TooLarge : DeltaApply::BaseUnreadable;
    }
    MapResult mapped = mapForReading(request.payloadPath, payload);
    if (mapped != MapResult::Ok) return mapped == MapResult::TooLarge ? DeltaApply::TooLarge : DeltaApply::PayloadUnreadable;
    if (request.targetSize > SIZE_MAX - base->size) return DeltaApply::TooLarge;
    WidePath partPath;
    if (!toWidePath(request.partPath, &partPath)) return DeltaApply::WriteFailed;
    if (!roomForPart(partPath.text, request.targetSize)) return DeltaApply::NoSpace;
    DeltaApply result = decodeIntoPart(request, *base, *payload, partPath.text);
    // Only a checked, flushed part may stay: anything else would be mistaken for progress.
    if (result != DeltaApply::Done) DeleteFileW(partPath.text);
    return result;
}

}  // namespace

DeltaApply applyDeltaPayload(const DeltaApplyRequest& request) {
    MappedFile base;
    MappedFile payload;
    DeltaApply result = applyMapped(request, &base, &payload);
    closeMapped(&payload);
    closeMapped(&base);
    return result;
}

namespace {

// A file below the full chunk is read in one call (the next one sees its end), and the buffer is no
// bigger than it: most game files are small, and a megabyte per file is a fresh mapping of memory.
DWORD hashChunkSizeFor(HANDLE file) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart >= kHashChunkSize) return kHashChunkSize;
    return static_cast<DWORD>(size.QuadPart) + 1;
}

}  // namespace

bool hashInstalledFile(const char* path, uint8_t digest[kSha256Size], uint64_t* size) {
    WidePath wide;
    if (!toWidePath(path, &wide)) return false;
    HANDLE file = CreateFileW(wide.text, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    Sha256Stream stream;
    bool ok = beginSha256(&stream);
    uint64_t total = 0;
    DWORD chunkSize = hashChunkSizeFor(file);
    HANDLE heap = GetProcessHeap();
    void* chunk = ok ? HeapAlloc(heap, 0, chunkSize) : nullptr;
    ok = ok && chunk != nullptr;
    for (DWORD count = 0; ok; total += count) {
        ok = ReadFile(file, chunk, chunkSize, &count, nullptr) != 0;
        if (!ok || count == 0) break;
        ok = addSha256(&stream, chunk, count);
    }
    if (chunk) HeapFree(heap, 0, chunk);
    CloseHandle(file);
    if (!ok) {
        abandonSha256(&stream);
        return false;
    }
    *size = total;
    return finishSha256(&stream, digest);
}
