// Unpacks a zip archive into the current directory (the launcher's folder), entry by entry, keeping
// the stored paths and replacing existing files; also creates the directories of a relative path.
// Each entry is written to "<target>.vyr-part" beside its target and moved over the target only once
// it is complete and its checksum is right, so a failure or a kill never leaves a cut game file; the
// next extraction of the entry overwrites a part file a killed run left behind.
#pragma once
#include <cstddef>

#include <unzip.h>

#include "archives/unpack_buffers.h"
#include "archives/zip_directory.h"
#include "formats/own_file_names.h"

enum { kSubMessageSize = 256, kZipEntryNameSize = 256, kMaxDirectoryDepth = 16 };

// Results of extractArchive. Failed is permanent (not an archive, a broken directory or entry, a
// refused name, overlapping entries): trying again cannot help. Retry means an output file could not
// be created, written or put in place (a scanner holding it, a full disk) and a later try may succeed.
enum { kExtractFailed = 0, kExtractDone = 1, kExtractRetry = 2 };

// Suffix of the file an entry is written to before it replaces its target; no game file ends in it.
static constexpr const char (&kPartFileSuffix)[sizeof own_file::kPartSuffix] = own_file::kPartSuffix;

// Result codes of extractCurrentEntry besides 0 (done) and minizip's own negative codes (permanent).
enum {
    kEntryOpenFailed = -200,     // the entry's data cannot be opened (permanent)
    kEntryCreateFailed = -201,   // the part file cannot be created (transient)
    kEntryWriteFailed = -202,    // the part file cannot be written (transient)
    kEntryReplaceFailed = -203,  // the part file cannot be moved over the target (transient)
    kEntryNameRefused = -204,    // a name that would leave the folder, or was cut (permanent)
    kEntryPathUnusable = -205,   // a path the file system can never hold, e.g. too deep (permanent)
    kEntryOutsideRegion = -206,  // the entry's data reaches beyond its own bytes (permanent)
    kEntryArchiveReopenFailed = -207,  // a second reader of the archive could not open it (transient)
    kEntryDataShort = -208,      // the data ended before the central directory's size (permanent)
};

// Called with the message text whenever it changes, so the worker can publish it as the status line.
typedef void (*ExtractMessageSink)(const char* message);

// kExtractDone when every entry was extracted (also for an archive without entries), otherwise
// kExtractFailed or kExtractRetry; `message` (of `messageSize` bytes) then holds the last activity or
// the failure. An archive of many entries is unpacked by kUnpackLanes threads (the caller's and
// helpers); the outcome is still that of unpacking in archive order: the failure reported is the
// first entry's that fails, and every entry before it stays extracted (some after it may be too).
// `buffers` belong to this call while it runs. `sink` may be null; it is called on the caller's
// thread only.
int extractArchive(const char* archivePath, char* message, size_t messageSize, UnpackBuffers* buffers,
                   ExtractMessageSink sink);

// The number of entries in the archive's central directory, walked through its whole size as
// extraction walks it; false when the directory cannot be read or is refused. minizip's own walk
// cannot tell where a directory whose count reads 0xFFFF ends.
bool countArchiveEntries(const char* archivePath, size_t* count);

// Extracts the archive's current entry, whose compressed data must lie inside `region`, through
// `buffer` (kUnzipBufferSize bytes); 0, one of the kEntry codes or a negative minizip code.
// `subMessage` holds kSubMessageSize bytes.
int extractCurrentEntry(unzFile archive, const ZipEntryRegion& region, unsigned char* buffer, char* subMessage);

// The lane (0 to laneCount - 1) that unpacks an entry of this name when an archive is unpacked by
// several threads. Entries that may name the same file share a lane, which writes them in archive
// order, so the later one wins as in a one-thread run.
int unpackLaneOf(const char* entryName, int laneCount);

// Creates below the current directory every directory named in `path` before its last separator,
// at most kMaxDirectoryDepth levels; nonzero when the last creation made a new directory.
int makeDirectories(const char* path);
// The same for a UTF-8 path.
int makeUtf8Directories(const char* path);
