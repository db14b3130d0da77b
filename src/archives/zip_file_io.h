// Archive reading for minizip over a Win32 file: small reads go through two 64 KiB windows of our own,
// because minizip parses headers a few bytes per call and the directory and the entry data lie apart
// in the file. Read-only; also serves the central directory reader (zip_directory.h).
#pragma once
#include <cstddef>
#include <cstdint>

#include <ioapi.h>

struct BufferedZipFile;

// Opens `path` for reading (others may read it too); null with GetLastError() set when it cannot.
BufferedZipFile* openBufferedZipFile(const char* path);
void closeBufferedZipFile(BufferedZipFile* file);
uint64_t bufferedZipFileSize(const BufferedZipFile* file);

// Copies the `size` bytes at `offset`; false unless all of them exist and were read.
bool readBufferedZipFile(BufferedZipFile* file, uint64_t offset, void* buffer, size_t size);

// A file-function table for unzOpen2_64 whose streams are BufferedZipFile objects.
void fillBufferedZipFunctions(zlib_filefunc64_def* functions);
