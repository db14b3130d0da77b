// Unpacks a zip archive into the current directory (the launcher's folder), entry by entry, keeping
// the stored paths and replacing existing files; also creates the directories of a relative path.
#pragma once
#include <cstddef>

#include <unzip.h>

enum { kSubMessageSize = 256, kZipEntryNameSize = 256, kMaxDirectoryDepth = 16 };

// Results of extractArchive: done, a permanent failure (retrying cannot help), or a transient one
// (an output file could not be created or written, as while another program holds it).
enum { kExtractFailed = 0, kExtractDone = 1, kExtractRetry = 2 };

// Result codes of extractCurrentEntry besides 0 (done) and minizip's own negative codes.
enum { kEntryOpenFailed = -200, kEntryCreateFailed = -201, kEntryWriteFailed = -1 };

// Called with the message text whenever it changes, so the worker can publish it as the status line.
typedef void (*ExtractMessageSink)(const char* message);

// 1 when every entry was extracted (also for an archive without entries), 0 otherwise; `message`
// (of `messageSize` bytes) then holds the last activity or the failure. `sink` may be null.
int extractArchive(const char* archivePath, char* message, size_t messageSize, ExtractMessageSink sink);

// Extracts the archive's current entry; 0, kEntryOpenFailed, kEntryCreateFailed, kEntryWriteFailed
// or a negative minizip code. `subMessage` holds kSubMessageSize bytes.
int extractCurrentEntry(unzFile archive, char* subMessage);

// Creates below the current directory every directory named in `path` before its last separator,
// at most kMaxDirectoryDepth levels; nonzero when the last creation made a new directory.
int makeDirectories(const char* path);
