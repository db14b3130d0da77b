// Makes the files a patch step put in place survive a power cut before the step's version is
// recorded, so "config" never names a version whose files the disk may not hold yet.
#pragma once

#include <windows.h>

// Forces an open file's data and size to the disk; the worker calls it on a download before the
// download is renamed over its target.
bool flushOpenFile(HANDLE file);

// After an archive was unpacked, before its version may be recorded: one flush of the volume holding
// `archivePath` when the volume can be opened (it needs administrator rights, which the launcher runs
// with), otherwise a flush of each file the archive's entries name. false when an entry's file could
// not be flushed.
bool makeUnpackedEntriesDurable(const char* archivePath);
